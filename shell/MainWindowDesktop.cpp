// The main window's parts on the desktop beyond itself: the countdown before
// a recording, the icon in the tray, the notification of a saved recording,
// and the folder button's menu.

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QUrl>

#include "common/ButtonImages.h"
#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "overlays/Countdown.h"
#include "platform/x11/HotKeys.h"
#include "platform/x11/ScreenBackend.h"
#include "platform/x11/WindowList.h"
#include "shell/DesktopTexts.h"
#include "shell/HotKeyFilter.h"
#include "shell/MainWindow.h"
#include "shell/SavedNotification.h"

namespace velmora {
namespace {

// Escape's grab while the countdown runs, apart from the selector's.
constexpr int kCountdownEscapeId = 0xC010;

QRect ToQRect(const ScreenRect& r) {
    return {r.left, r.top, r.width, r.height};
}

}  // namespace

void MainWindow::CreateDesktopParts() {
    Countdown::Events events;
    events.tick = [this](int seconds) {
        ShowStatus(statusPanel_, DesktopText(DesktopTextId::CountdownStatus).arg(seconds));
        if (tray_) tray_->Refresh();
    };
    events.finished = [this] {
        if (hotKeys_) hotKeys_->Unregister(kCountdownEscapeId);
        countdownDone_ = true;
        StartCapture();
        countdownDone_ = false;
    };
    countdown_ = new Countdown(std::move(events), this);

    TrayIcon::Actions actions;
    actions.status = [this] { return TrayStatus(); };
    // Each the window's own control, so that the same questions come and
    // the same lines go to the log.
    actions.record = [this] {
        if (!StartPending() && !(camera_ && camera_->Recording)) StartOrStopClicked();
    };
    actions.stop = [this] {
        if (StartPending() || (camera_ && camera_->Recording)) StartOrStopClicked();
    };
    actions.pauseOrResume = [this] { TogglePause(); };
    actions.showWindow = [this] { ShowFromTray(); };
    actions.toggleWindow = [this] {
        if (isVisible() && !isMinimized())
            hide();
        else
            ShowFromTray();
    };
    actions.exit = [this] {
        ShowFromTray();
        ExitClicked();
    };
    tray_ = new TrayIcon(std::move(actions), this);

    notification_ = new SavedNotification(this);

    auto* folderMenu = new QMenu(folderButton);
    folderMenu->setObjectName(QStringLiteral("FolderMenu"));
    QAction* choose = folderMenu->addAction(QString(), this, &MainWindow::FolderClicked);
    QAction* open = folderMenu->addAction(QString(), this, [] {
        const QString folder = QString::fromStdString(Settings.WorkDir);
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            WriteLog(QStringLiteral("The folder cannot be opened: ") + folder);
    });
    open->setObjectName(QStringLiteral("OpenFolderAction"));
    connect(folderMenu, &QMenu::aboutToShow, this, [choose, open] {
        choose->setText(DesktopText(DesktopTextId::ChooseFolder));
        open->setText(DesktopText(DesktopTextId::OpenFolder));
    });
    // A click still chooses the folder; the arrow beside it opens the menu.
    folderButton->setMenu(folderMenu);
    folderButton->setPopupMode(QToolButton::MenuButtonPopup);
}

bool MainWindow::CountingDown() const {
    return countdown_ && countdown_->Running();
}

void MainWindow::BeginCountdown(int seconds) {
    WriteLog(DesktopText(DesktopTextId::CountdownStarted).arg(seconds));
    ShowPendingStart();
    // Escape cancels from any window, as F10 does.
    if (hotKeys_) hotKeys_->Register(kCountdownEscapeId, platform::kVkEscape);
    // On Wayland the window may be on its way to the screen (a command
    // line's countdown starts as it is shown): the number comes above it.
    countdown_->Start(seconds, CountdownArea(), isVisible() ? windowHandle() : nullptr);
}

void MainWindow::CancelCountdown() {
    if (!CountingDown()) return;
    countdown_->Cancel();
    if (hotKeys_) hotKeys_->Unregister(kCountdownEscapeId);
    WriteLog(DesktopText(DesktopTextId::CountdownCancelled));
    ShowIdleControls();
    UpdateRecordEnabled();
    AnswerStartReplies(DesktopText(DesktopTextId::CountdownCancelled).toStdString());
    if (tray_) tray_->Refresh();
}

QRect MainWindow::CountdownArea() const {
    if (platform::CurrentScreenBackend() != platform::ScreenBackend::X11) return {};
    const bool windowMode = Settings.RunWindow || Settings.TypeCapture == 2;
    if (windowMode) {
        std::string error;
        const std::string wanted =
            Settings.RunWindow ? *Settings.RunWindow : std::to_string(Settings.CaptureWindow);
        if (const auto window = platform::findX11Window(wanted, error))
            return ToQRect(window->area);
        return {};
    }
    if (Settings.TypeCapture == 1) return ToQRect(GetPrimaryScreenRect());
    return {Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
            Settings.RegionHeightPos};
}

TrayIcon::Status MainWindow::TrayStatus() const {
    TrayIcon::Status status;
    status.canRecord = !quitting_ && recordButton->isEnabled();
    if (CountingDown()) {
        status.state = TrayIcon::State::CountingDown;
        status.countdown = countdown_->SecondsLeft();
    } else if (WaitingForFolder()) {
        status.state = TrayIcon::State::Waiting;
    } else if (camera_ && camera_->Recording) {
        status.state = camera_->Paused ? TrayIcon::State::Paused : TrayIcon::State::Recording;
        const std::int64_t seconds = camera_->RecordedSeconds();
        status.elapsed =
            QString::fromStdString(engine::TScreenCamera::FormatElapsed(1000 * seconds));
    } else if (camera_ && camera_->WorkerRunning()) {
        status.state = TrayIcon::State::Saving;
    }
    return status;
}

void MainWindow::ShowTrayAsSet() {
    if (!tray_) return;
    if (!Settings.TrayIcon) {
        tray_->Hide();
        // Nothing left to bring it back from.
        if (isHidden() && !quitting_) ShowFromTray();
    } else if (!tray_->Shown()) {
        tray_->Show();
    }
}

void MainWindow::ShowFromTray() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

bool MainWindow::HideToTray() {
    if (!tray_ || !tray_->Shown()) return false;
    hide();
    // The frame around the area stays up, as when the window is minimised.
    if (camera_) camera_->AppMinimized();
    return true;
}

void MainWindow::AnnounceMergeResult(const std::string& resultLine) {
    // On the worker, which owns these until it is gone.
    const QString line = QString::fromStdString(resultLine);
    const QString target = QString::fromStdString(camera_->TargetFile());
    const QString length = camera_ ? QString::fromStdString(camera_->ElapsedText) : QString();
    // The file is looked at here: the recordings' folder may not answer, and
    // only this thread may wait for it.
    const std::optional<SavedRecording> saved =
        SavedRecordingOf(line, MsgTexts(12), target, length);
    if (!saved) return;
    QMetaObject::invokeMethod(
        this,
        [this, saved] {
            if (Settings.NotifySaved && notification_) notification_->Notify(*saved);
        },
        Qt::QueuedConnection);
}

}  // namespace velmora
