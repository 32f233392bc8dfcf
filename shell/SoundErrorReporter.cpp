#include "shell/SoundErrorReporter.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "audio/WaveUtils.h"
#include "common/EventLog.h"

namespace velmora {

struct SoundErrorReporter::State {
    QPointer<QWidget> window;
    QPointer<QMessageBox> box;  // the box still open, if any
    QString shown;              // its text

    void Show(const QString& text);
};

SoundErrorReporter::SoundErrorReporter() : state_(std::make_shared<State>()) {
    std::weak_ptr<State> weak = state_;
    audio::SetWaveExceptionReporter([weak](const std::exception& error) {
        const QString text = QString::fromUtf8(error.what());
        // Called on an audio thread that holds its device's lock: it must
        // not wait for the user.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, text] {
                if (const auto state = weak.lock()) state->Show(text);
            },
            Qt::QueuedConnection);
    });
}

SoundErrorReporter::~SoundErrorReporter() {
    audio::SetWaveExceptionReporter(nullptr);
}

void SoundErrorReporter::SetWindow(QWidget* window) {
    state_->window = window;
}

void SoundErrorReporter::Show(const QString& text) {
    state_->Show(text);
}

void SoundErrorReporter::State::Show(const QString& text) {
    // A failing device reports once per buffer it returns: the same text
    // while its box is still open is neither logged nor shown again.
    if (box && shown == text) return;
    WriteLog(QStringLiteral("Sound recording stopped: ") + text);
    auto* made = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                                 QMessageBox::Ok, window);
    made->setObjectName(QStringLiteral("SoundErrorBox"));
    made->setAttribute(Qt::WA_DeleteOnClose);
    // Modal to the main window, without holding up the caller: the
    // recording goes on and can be stopped.
    made->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    made->show();
    box = made;
    shown = text;
}

}  // namespace velmora
