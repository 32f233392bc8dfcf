#include "shell/QtCameraHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include "audio/EngineMixer.h"
#include "audio/EngineRecorder.h"
#include "common/EngineAudio.h"
#include "common/Language.h"
#include "overlays/CaptureFrame.h"

namespace velmora {
namespace {

class FlashingFrame : public engine::TFlashingFrame {
  public:
    void SetupRegion(int left, int top, int width, int height, bool cornersOnly,
                     const std::string& caption) override {
        wnd_.SetupRegion(left, top, width, height, cornersOnly, QString::fromStdString(caption));
    }
    void PaintFrame(const std::string& caption) override {
        wnd_.PaintFrame(QString::fromStdString(caption));
    }
    void ShowOnTop() override { wnd_.ShowOnTop(); }
    void Hide() override { wnd_.hide(); }
    void Restore() override { wnd_.Restore(); }
    bool IsShowing() const override { return wnd_.isVisible(); }

  private:
    CaptureFrame wnd_;
};

class Timer : public engine::TEngineTimer {
  public:
    Timer(int intervalMs, std::function<void()> tick) {
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
    }
    void SetEnabled(bool enabled) override {
        if (enabled && !timer_.isActive()) timer_.start();
        if (!enabled) timer_.stop();
    }
    bool Enabled() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
};

bool OnUiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

QtCameraHost::QtCameraHost(QWidget* mainWindow, Hooks hooks)
    : window_(mainWindow), hooks_(std::move(hooks)) {}

QtCameraHost::~QtCameraHost() {
    for (; busy_ > 0; --busy_) QApplication::restoreOverrideCursor();
}

bool QtCameraHost::AskYesNo(const std::string& caption, const std::string& text) {
    QString message = QString::fromStdString(text);
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QString title = QString::fromStdString(caption);
    bool yes = false;
    auto ask = [this, &yes, &title, &message] {
        if (hooks_.leaving && hooks_.leaving()) return;
        QMessageBox box(QMessageBox::Warning, title, message, QMessageBox::Yes | QMessageBox::No,
                        window_);
        box.setObjectName(QStringLiteral("NoticeBox"));
        yes = box.exec() == QMessageBox::Yes;
    };
    if (!window_) return false;
    // The worker waits for the answer; the box itself runs on the UI thread.
    if (OnUiThread())
        ask();
    else
        QMetaObject::invokeMethod(window_, ask, Qt::BlockingQueuedConnection);
    return yes;
}

void QtCameraHost::RestoreApplication() {
    PostToUiThread([this] {
        // Minimised, or hidden in the tray.
        if (window_ && (window_->isMinimized() || window_->isHidden())) {
            window_->showNormal();
            window_->raise();
            window_->activateWindow();
        }
    });
}

void QtCameraHost::SetBusyCursor(bool busy) {
    PostToUiThread([this, busy] {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++busy_;
        } else if (busy_ > 0) {
            QApplication::restoreOverrideCursor();
            --busy_;
        }
    });
}

engine::MergeSummaryFigures QtCameraHost::SummaryFigures() {
    return hooks_.summaryFigures ? hooks_.summaryFigures() : engine::MergeSummaryFigures{};
}

void QtCameraHost::ReportMergeResult(const std::string& text) {
    if (hooks_.reportMergeResult) hooks_.reportMergeResult(text);
}

void QtCameraHost::PostToUiThread(std::function<void()> fn) {
    if (!window_) return;
    QMetaObject::invokeMethod(
        window_,
        [fn = std::move(fn), after = hooks_.afterEngineWork] {
            fn();
            if (after) after();
        },
        Qt::QueuedConnection);
}

std::string QtCameraHost::MessageText(int n) {
    return MsgTexts(n).toStdString();
}

void QtCameraHost::MinimizeApplication() {
    if (hooks_.hideToTray && hooks_.hideToTray()) return;
    if (window_) window_->showMinimized();
}

void QtCameraHost::ProcessEvents() {
    // Only what the engine and the question need; no clicks while the
    // engine is going away.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

std::unique_ptr<engine::TFlashingFrame> QtCameraHost::CreateFlashingFrame() {
    return std::make_unique<FlashingFrame>();
}

std::unique_ptr<engine::TEngineTimer> QtCameraHost::CreateTimer(int intervalMs,
                                                                std::function<void()> tick) {
    return std::make_unique<Timer>(intervalMs, std::move(tick));
}

std::unique_ptr<engine::TEngineAudioRecorder> QtCameraHost::CreateAudioRecorder() {
    return audio::CreateEngineAudioRecorder();
}

std::unique_ptr<engine::TEngineMixer> QtCameraHost::CreateMixer() {
    return audio::CreateEngineMixer();
}

}  // namespace velmora
