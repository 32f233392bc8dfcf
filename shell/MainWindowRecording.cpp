// The main window's recording control: the engine it owns, starting and
// stopping, following what the engine does by itself, the live figures and
// the merge's progress, and the recordings a crash left behind.

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cstdio>
#include <set>
#include <array>
#include <optional>
#include <utility>

#include "common/ButtonImages.h"
#include "common/DefaultOutputFolder.h"
#include "common/EventLog.h"
#include "common/Functions.h"
#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "net/StatsReports.h"
#include "overlays/AreaPanel.h"
#include "overlays/WindowPicker.h"
#include "platform/instance/SingleInstance.h"
#include "platform/x11/HotKeys.h"
#include "platform/x11/ScreenBackend.h"
#include "platform/x11/WindowList.h"
#include "shell/DeclinedRecordings.h"
#include "shell/EngineSettings.h"
#include "shell/ExitQuestion.h"
#include "shell/FolderSearch.h"
#include "shell/HotKeyFilter.h"
#include "shell/MainWindow.h"
#include "shell/QtCameraHost.h"
#include "shell/RecordingFolders.h"
#include "shell/RecordingStatus.h"
#include "shell/StoredWindow.h"

namespace velmora {
namespace {

// Escape's grab while a start waits for its folder.
constexpr int kFolderWaitEscapeId = 0xC011;

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.find_last_of('/') + 1);
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

RecordingFolders FoldersRecordedIn() {
    return RecordingFolders(FolderOf(SettingsFile()) + "RecordingFolders.lst");
}

// What the searches for interrupted recordings left alone, each told once a
// run: the folders are searched again after every recording.
void LogLeftAlone(const std::vector<std::string>& texts) {
    static std::set<std::string> told;
    for (const std::string& text : texts)
        if (told.insert(text).second) WriteLog(QString::fromStdString(text));
}

}  // namespace

void MainWindow::CreateEngine() {
    QtCameraHost::Hooks hooks;
    hooks.summaryFigures = [this] {
        engine::MergeSummaryFigures figures;
        figures.areaWidth = summaryWidth_;
        figures.areaHeight = summaryHeight_;
        figures.droppedPercent = droppedPercent_;
        // Gone while the window goes: the merge it waits for still ends.
        if (!camera_) return figures;
        // The size the file has: the codec may have rounded the area's.
        if (camera_->ActualWidth > 0 && camera_->ActualHeight > 0) {
            figures.areaWidth = static_cast<int>(camera_->ActualWidth);
            figures.areaHeight = static_cast<int>(camera_->ActualHeight);
        }
        // The panel's figures as the result line has them: the time of the
        // last frame to the nearest second, not the running clock's.
        CameraUpdate(camera_.get());
        return figures;
    };
    hooks.afterEngineWork = [this] { FollowEngine(); };
    hooks.leaving = [this] { return quitting_; };
    hooks.hideToTray = [this] { return HideToTray(); };
    // On the worker, after the result line has been logged: handed to this
    // window's client, which sends it without anybody waiting for the answer,
    // so an unanswering server holds up neither Record nor the exit.
    hooks.reportMergeResult = [this](const std::string& text) {
        AnnounceMergeResult(text);
        if (!reportsAllowed_ || servers_.reports.isEmpty()) return;
        const QString result = ReportableResult(QString::fromStdString(text));
        QMetaObject::invokeMethod(
            this, [this, result] { reporter_->PostUsageReport(result); }, Qt::QueuedConnection);
    };
    host_ = std::make_unique<QtCameraHost>(this, std::move(hooks));
    camera_ = std::make_unique<engine::TScreenCamera>(*host_);
    camera_->FallbackFolders = FallbackOutputFolders();
    camera_->OnCameraError = [this](engine::TScreenCamera* sender, const std::string& text) {
        CameraError(sender, text);
    };
    camera_->OnUpdate = [this](engine::TScreenCamera* sender) { CameraUpdate(sender); };
    // How frames are grabbed is for the log: nothing the user can act on.
    camera_->OnRealtimeGrabs = [](engine::TScreenCamera*, const engine::TRealtimeGrabs& grabs) {
        WriteLogOnly(RealtimeGrabsStatus(grabs, LogTexts(7), LogTexts(8), LogTexts(9)));
    };
    camera_->OnSaveProgress = [this](engine::TScreenCamera* sender, std::int32_t percent,
                                     bool& proceed) {
        CameraSaveProgress(sender, percent, proceed);
    };
    // The capture loop runs: a sender of a start hears that it did.
    camera_->OnStart = [this](engine::TScreenCamera*) {
        runStarted_ = true;
        QMetaObject::invokeMethod(
            this, [this] { AnswerStartReplies({}); }, Qt::QueuedConnection);
    };
    // The capture loop has ended: when the engine ended it by itself the
    // window goes back to idle.
    camera_->OnStop = [this](engine::TScreenCamera*) {
        QMetaObject::invokeMethod(
            this, [this] { FollowEngine(); }, Qt::QueuedConnection);
    };
}

void MainWindow::SearchFolders(bool offer) {
    auto* watcher = new QFutureWatcher<FolderSearch>(this);
    if (offer) offerSearch_ = watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, offer] {
        watcher->deleteLater();
        FolderSearchDone(watcher->result(), offer);
    });
    // Copies only: the search may end after this window and its engine.
    watcher->setFuture(QtConcurrent::run(
        &FolderSearchPool(), [workDir = Settings.WorkDir, listed = FoldersRecordedIn().Read(),
                              format = camera_->FileFormat, offer] {
            return velmora::SearchFolders(workDir, offer, listed, format);
        }));
}

void MainWindow::FolderSearchDone(FolderSearch search, bool offer) {
    LogLeftAlone(search.leftAlone);
    // A start waiting for its folder will make files there too.
    const bool outdated = offer && (std::exchange(searchOutdated_, false) || waitingForFolder_);
    if (offer) offerSearch_ = nullptr;
    // A recording begun meanwhile may have made files there: its own end
    // searches again.
    if (!outdated && camera_ && !camera_->Recording && !camera_->WorkerRunning())
        ForgetFolders(search.emptied);
    if (!offer) return;
    const bool start = std::exchange(startAfterSearch_, false);
    if (quitting_) return;
    if (outdated) {
        // Its temporary files may be among them: asked at the next start.
        if (!search.found.empty())
            WriteLog(LogTextOr(65, "A recording started before the search for interrupted "
                                   "recordings ended: they are offered at the next start"));
        return;
    }
    ownCommandLineStart_ = start;
    if (OfferRecovery(std::move(search.found)) && start)
        startAfterRecovery_ = true;
    else if (start)
        StartCapture();
}

void MainWindow::ForgetFolders(const std::vector<std::string>& emptied) {
    if (emptied.empty()) return;
    const RecordingFolders list = FoldersRecordedIn();
    std::vector<std::string> still = list.Read();
    const auto before = still.size();
    std::erase_if(still, [&](const std::string& folder) {
        return std::find(emptied.begin(), emptied.end(), folder) != emptied.end();
    });
    if (still.size() != before) list.Replace(still);
}

bool MainWindow::OfferRecovery(std::vector<engine::TInterruptedRecording> found) {
    const DeclinedRecordings declined(FolderOf(SettingsFile()) + "RecoveryDeclined.lst");
    std::vector<engine::TInterruptedRecording> offered;
    for (auto& r : found)
        if (!declined.Contains(r)) offered.push_back(std::move(r));
    if (offered.empty()) return false;
    QStringList lines;
    for (const auto& r : offered) {
        QString files = QString::fromStdString(r.video);
        for (const std::string* sound : {&r.audio, &r.audio2})
            if (!sound->empty())
                files += (files.isEmpty() ? QString() : QStringLiteral(", ")) +
                         QString::fromStdString(*sound);
        lines << files;
        WriteLog(LogTextOr(62, "An interrupted recording was found: %1").arg(files));
    }
    QMessageBox box(
        QMessageBox::Question, MsgTextOr(73, "Notice"),
        MsgTextOr(74, "A recording was interrupted before it was saved:\n%1\n\nSave it now as %2?")
            .arg(lines.join(u'\n'), QString::fromStdString(FileNameOf(offered.front().target))),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("RecoveryQuestion"));
    if (box.exec() != QMessageBox::Yes) {
        // Closed by the program's exit, the user said nothing: the question
        // comes again at the next start.
        if (!quitting_)
            for (const auto& r : offered) declined.Add(r);
        WriteLog(LogTextOr(63, "The interrupted recording is left as it is: %1")
                     .arg(lines.join(QStringLiteral("; "))));
        return false;
    }
    const bool started = camera_->RecoverRecordings(std::move(offered));
    UpdateRecordEnabled();
    return started;
}

void MainWindow::StartCapture() {
    const bool ownCommandLine = std::exchange(ownCommandLineStart_, false);
    const bool handed = std::exchange(handedCommandLineStart_, false);
    // Leaving: the command line's recording after a recovery does not start.
    if (quitting_) return;
    if (!camera_ || camera_->Recording || StartPending()) return;
    // A previous recording still being merged owns the temporary files; the
    // user learns why nothing starts.
    if (camera_->WorkerRunning()) {
        ShowStatus(statusPanel_, LogTexts(2));
        UpdateRecordEnabled();
        return;
    }
    if (AskForGoneWindow()) return;
    // The countdown first; its end comes back here.
    if (const int seconds = RunCountdownSeconds(Settings); seconds > 0 && !countdownDone_) {
        BeginCountdown(seconds);
        return;
    }
    WriteLog(QString());
    {
        std::lock_guard lock(runErrorsMutex_);
        runErrors_.clear();
    }
    failurePending_ = false;
    runStarted_ = false;
    resultPending_ = true;
    statusHeld_ = false;
    mergeProgress_.Reset();
    droppedPercent_ = 0.0;
    areaShown_ = false;
    // The command line's window is looked for at each start: it may have
    // opened since. On Wayland the portal's chooser asks instead.
    Settings.RunWindowId.reset();
    if (Settings.RunWindow) {
        std::string error;
        const auto window =
            platform::CurrentScreenBackend() == platform::ScreenBackend::X11
                ? platform::findX11Window(*Settings.RunWindow, error)
                : std::optional<platform::TopLevelWindow>(platform::TopLevelWindow{});
        if (!window)
            WriteLog(QString::fromStdString("window=" + *Settings.RunWindow + ": " + error));
        Settings.RunWindowId = window ? window->client : 0;
    }
    if (!ConfirmRecordedWindow(ownCommandLine, handed)) {
        resultPending_ = false;
        UpdateRecordEnabled();
        return;
    }
    // A monitor= naming none records nothing; a stored one since unplugged
    // leaves Full Screen to the primary monitor.
    if (platform::CurrentScreenBackend() == platform::ScreenBackend::X11) {
        if (Settings.RunMonitor) {
            if (const QString missing = MissingMonitorText(*Settings.RunMonitor, true);
                !missing.isEmpty()) {
                // The rest of that command line went with it.
                ForgetRunChoices(Settings);
                WriteLog(missing);
                AnswerStartReplies(missing.toStdString());
                UpdateRecordEnabled();
                return;
            }
        } else if (Settings.TypeCapture == 1) {
            if (const QString missing = MissingMonitorText(Settings.FullScreenMonitor, false);
                !missing.isEmpty())
                WriteLog(missing);
        }
    }
    // The panel's figures are the user's area: a monitor for one recording
    // must not take their place.
    if (Settings.RunMonitor) areaShown_ = true;
    ApplySettings();
    if (const int run = RunCompressorIndex(Settings);
        run != Settings.CodecIndex && run >= 0 &&
        run < static_cast<int>(Settings.CompressorNames.size())) {
        const auto name = [](int index) {
            return index >= 0 && index < static_cast<int>(Settings.CompressorNames.size())
                       ? QString::fromStdString(Settings.CompressorNames[index])
                       : QStringLiteral("-");
        };
        WriteLog(LogTexts(51).arg(name(run), name(Settings.CodecIndex)));
    }
    const bool fullScreen = Settings.TypeCapture == 1 || Settings.RunMonitor;
    const ScreenRect whole =
        GetFullScreenRect(Settings.RunMonitor.value_or(Settings.FullScreenMonitor))
            .value_or(GetPrimaryScreenRect());
    summaryWidth_ = fullScreen ? whole.width : Settings.RegionWidthPos;
    summaryHeight_ = fullScreen ? whole.height : Settings.RegionHeightPos;
    // Named for the file the merge will write: a format the codec does not
    // go into is AVI (the merge says so in the log).
    const OutputFormat format = camera_->SavedFormat(camera_->CompressorIndex, camera_->FileFormat);
    const QString name = QString::fromStdString(
        WithFormatExtension(TargetFileName(QDateTime::currentDateTime()).toStdString(), format));
    // The folder may be a network mount that no longer answers: asked on a
    // thread of its own, and waited for here only briefly.
    const std::string folder = FolderOf(Settings.WorkDir);
    const std::uint64_t start = ++folderWaitId_;
    const auto path = AskFolder<QString>(
        folder, kFolderAnswerMs,
        [workDir = QString::fromStdString(Settings.WorkDir), name] {
            return UniqueTargetPath(workDir, name,
                                    [](const QString& file) { return QFileInfo::exists(file); });
        },
        this,
        [this, start](const QString& answer) {
            if (start == folderWaitId_ && waitingForFolder_) FolderAnswered(answer);
        });
    if (!path) return WaitForFolder(folder);
    BeginRecording(*path);
}

void MainWindow::WaitForFolder(const std::string& folder) {
    waitingForFolder_ = true;
    waitedFolder_ = QString::fromStdString(folder.empty() ? Settings.WorkDir : folder);
    // The end shows on the status line: the folder that keeps it waiting.
    WriteLog(LogTextOr(66,
                       "The recording waits (Stop or Escape cancels): the folder %1 does "
                       "not answer")
                 .arg(waitedFolder_));
    ShowPendingStart();
    if (hotKeys_) hotKeys_->Register(kFolderWaitEscapeId, platform::kVkEscape);
    if (tray_) tray_->Refresh();
}

void MainWindow::FolderAnswered(const QString& path) {
    waitingForFolder_ = false;
    if (hotKeys_) hotKeys_->Unregister(kFolderWaitEscapeId);
    if (quitting_) return;
    WriteLog(LogTextOr(67, "The folder %1 answers: the recording starts").arg(waitedFolder_));
    BeginRecording(path);
}

void MainWindow::CancelFolderWait() {
    if (!waitingForFolder_) return;
    waitingForFolder_ = false;
    // Its answer, when it comes, starts nothing.
    ++folderWaitId_;
    if (hotKeys_) hotKeys_->Unregister(kFolderWaitEscapeId);
    resultPending_ = false;
    const QString text =
        LogTextOr(68, "Nothing was recorded: the folder %1 did not answer").arg(waitedFolder_);
    WriteLog(text);
    ShowIdleControls();
    UpdateRecordEnabled();
    AnswerStartReplies(text.toStdString());
    if (tray_) tray_->Refresh();
}

void MainWindow::ShowPendingStart() {
    // The controls of a recording: Stop cancels, nothing else can change.
    SetRecordImage(kImageStop);
    recordButton->setText(MsgTexts(2));
    for (QToolButton* b : {optionsButton, areaButton, fullScreenButton, windowButton})
        b->setEnabled(false);
}

bool MainWindow::StartPending() const {
    return CountingDown() || waitingForFolder_;
}

void MainWindow::BeginRecording(const QString& path) {
    // Found again at the next start if a crash interrupts it, whatever the
    // output folder is by then.
    folderListed_ = FoldersRecordedIn().Add(FolderOf(path.toStdString()));
    if (offerSearch_) searchOutdated_ = true;
    camera_->StartRecording(path.toStdString());
    // The command line's choices were for this recording alone.
    ForgetRunChoices(Settings);
    if (camera_->WindowMode) {
        summaryWidth_ = camera_->Width.load();
        summaryHeight_ = camera_->Height.load();
    }
    WriteLog(QFileInfo(path).fileName());
    SetRecordImage(kImageStop);
    recordButton->setText(MsgTexts(2));
    for (QToolButton* b : {optionsButton, areaButton, fullScreenButton, windowButton})
        b->setEnabled(false);
    optionsButton->hide();
    pauseButton->show();
    ShowPauseState();
    recordingShown_ = true;
    ShowElapsed();
    // A run that fails at once has already told the UI thread; look now too.
    FollowEngine();
}

bool MainWindow::ConfirmRecordedWindow(bool ownCommandLine, bool handed) {
    if (platform::CurrentScreenBackend() != platform::ScreenBackend::X11) return true;
    const std::uint64_t id = Settings.RunWindow          ? Settings.RunWindowId.value_or(0)
                             : Settings.TypeCapture == 2 ? Settings.CaptureWindow
                                                         : 0;
    std::string error;
    const auto window = id ? platform::findX11Window(std::to_string(id), error) : std::nullopt;
    // Not shown: the engine says so as the recording starts.
    if (!window) return true;
    if (!Settings.RunWindow && !IsStoredWindow(Settings, *window)) {
        const std::string refusal = StoredWindowRefusal(Settings, *window);
        if (ownCommandLine || handed) {
            WriteLog(NotRecordedText(Settings, *window));
            {
                std::lock_guard lock(runErrorsMutex_);
                runErrors_ << QString::fromStdString(refusal);
            }
            if (ownCommandLine) {
                std::fprintf(stderr, "velmora: -vc: %s\n", refusal.c_str());
                QTimer::singleShot(0, [] { QCoreApplication::exit(2); });
            }
            return false;
        }
        QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(),
                        StoredWindowQuestion(Settings, *window), QMessageBox::Yes | QMessageBox::No,
                        this);
        box.setObjectName(QStringLiteral("OtherWindowQuestion"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes || quitting_) {
            WriteLog(NotRecordedText(Settings, *window));
            return false;
        }
        // Chosen now: asked no more about this one.
        Settings.CaptureWindowTitle = window->title;
        Settings.CaptureWindowClass = window->windowClass;
        SaveSettings();
    }
    WriteLog(RecordedWindowText(*window));
    return true;
}

bool MainWindow::AskForGoneWindow() {
    recordAfterPick_ = false;
    if (Settings.RunWindow || Settings.TypeCapture != 2 || Settings.CaptureWindow == 0 ||
        platform::CurrentScreenBackend() != platform::ScreenBackend::X11)
        return false;
    std::string error;
    if (platform::findX11Window(std::to_string(Settings.CaptureWindow), error)) return false;
    const QString title = Settings.CaptureWindowTitle.empty()
                              ? QStringLiteral("0x%1").arg(Settings.CaptureWindow, 0, 16)
                              : QString::fromStdString(Settings.CaptureWindowTitle);
    recordAfterPick_ = picker_->ShowPicker();
    statusHeld_ = false;
    WriteLog((recordAfterPick_ ? MsgTexts(67) : MsgTexts(68)).arg(title));
    return true;
}

void MainWindow::StopCapture() {
    if (CountingDown()) return CancelCountdown();
    if (waitingForFolder_) return CancelFolderWait();
    ShowIdleControls();
    if (camera_) camera_->StopRecording();
    UpdateRecordEnabled();
}

void MainWindow::UpdateRecordEnabled() {
    // Record stays off while the worker still merges the last recording; the
    // worker's final report to this thread turns it on again.
    recordButton->setEnabled(!camera_ || camera_->Recording || !camera_->WorkerRunning());
}

void MainWindow::ShowIdleControls() {
    recordButton->setText(MsgTexts(1));
    for (QToolButton* b : {optionsButton, areaButton, fullScreenButton}) b->setEnabled(true);
    pauseButton->hide();
    optionsButton->show();
    SetRecordImage(kImageRecord);
    recordingShown_ = false;
    ShowElapsed();
    ShowWindowAvailability();
}

void MainWindow::FollowEngine() {
    // The run ended before its loop began: the senders learn why.
    if (!startReplies_.empty() && camera_ && !camera_->Recording && !StartPending()) {
        const std::string errors = RunErrorsText();
        AnswerStartReplies(errors.empty() ? std::string("the recording did not start") : errors);
    }
    if (recordingShown_ && camera_ && !camera_->Recording) {
        failurePending_ = camera_->EndedByFailure;
        ShowIdleControls();
        // Exit's question has nothing left to ask about.
        CloseExitQuestions(this);
    }
    UpdateRecordEnabled();
    // A save that failed after the loop (a full disk during the merge) is
    // known only once the worker is done.
    if (resultPending_ && camera_ && !camera_->Recording && !camera_->WorkerRunning() &&
        camera_->EndedByFailure)
        failurePending_ = true;
    // Every text of the run is in once the worker is gone.
    if (failurePending_ && camera_ && !camera_->WorkerRunning()) {
        failurePending_ = false;
        if (!quitting_) ShowRecordingFailure();
    }
    if (resultPending_ && camera_ && !camera_->Recording && !camera_->WorkerRunning()) {
        resultPending_ = false;
        statusHeld_ = true;
        if (!camera_->SavedFile.empty())
            ShowSavedFile(QString::fromStdString(camera_->SavedFile), camera_->SavedFileSize);
    }
    if (camera_ && !camera_->WorkerRunning()) {
        // A merge that failed sends no final report: the controls leave the
        // merging state once the worker is gone.
        cancelMergeButton->setEnabled(false);
        mergeProgressBar->setValue(0);
        if (std::exchange(folderListed_, false)) SearchFolders(false);
    }
    if (quitting_) FinishQuit();
    if (startAfterRecovery_ && camera_ && !camera_->WorkerRunning()) {
        startAfterRecovery_ = false;
        StartCapture();
    }
}

void MainWindow::AnswerStartReplies(const std::string& failure) {
    for (const auto& reply : std::exchange(startReplies_, {})) reply->Answer(failure);
}

std::string MainWindow::RunErrorsText() {
    std::lock_guard lock(runErrorsMutex_);
    return runErrors_.join(QStringLiteral("; ")).toStdString();
}

void MainWindow::SetRecordImage(int index) {
    recordImage_ = index;
    recordButton->setIcon(ButtonImageIcon(index));
}

void MainWindow::StartOrStopClicked() {
    if (camera_ && (camera_->Recording || StartPending()))
        StopCapture();
    else
        StartCapture();
}

void MainWindow::TogglePause() {
    if (camera_ && camera_->Paused)
        ResumeCapture();
    else
        PauseCapture();
}

void MainWindow::PauseCapture() {
    if (!camera_ || !camera_->Recording || !camera_->PauseRecording()) return;
    const std::int64_t recordedSeconds =
        RecordedSeconds(camera_->CurrentFrameIndex, camera_->FramesPerSecond);
    // In the log and the status line; the panel says so with its figures.
    QString text = LogTexts(10);
    text.replace(
        QStringLiteral("%1"),
        QString::fromStdString(engine::TScreenCamera::FormatElapsed(1000 * recordedSeconds)));
    WriteLog(text);
    ShowPauseState();
}

void MainWindow::ResumeCapture() {
    if (!camera_ || !camera_->ResumeRecording()) return;
    WriteLog(LogTexts(11));
    ShowPauseState();
}

void MainWindow::ShowPauseState() {
    const bool paused = recordingShown_ && camera_ && camera_->Paused;
    pauseButton->setText(MsgTexts(paused ? 22 : 21));
    pauseButton->setIcon(ButtonImageIcon(paused ? kImageResume : kImagePause));
    // The blinking stops while nothing is recorded.
    if (paused) SetRecordImage(kImageStop);
    ShowElapsed();
}

void MainWindow::CancelMergeClicked() {
    mergeProgress_.RequestCancel();
}

void MainWindow::BlinkRecordImage() {
    // The stop square blinks while recording, and stands while paused.
    if (camera_ && camera_->Recording && !camera_->Paused)
        SetRecordImage(recordImage_ == kImageStop ? kImageEmpty : kImageStop);
    ShowElapsed();
}

void MainWindow::ShowElapsed() {
    const bool recording = recordingShown_ && camera_ && camera_->Recording;
    if (!recording) {
        if (elapsedLabel_->isVisible()) {
            elapsedLabel_->hide();
            aboutButton->show();
            setWindowTitle(QStringLiteral("Velmora ") + QLatin1String(AppVersion));
        }
        return;
    }
    const std::int64_t seconds = camera_->RecordedSeconds();
    aboutButton->hide();
    elapsedLabel_->setText(ElapsedClock(seconds));
    elapsedLabel_->setToolTip(MsgTexts(4));
    elapsedLabel_->show();
    setWindowTitle(RecordingTitle(seconds, camera_->Paused, QCoreApplication::applicationName()));
}

void MainWindow::ShowSavedFile(const QString& path, std::int64_t size) {
    savedPath_ = path;
    savedSize_ = size;
    const std::int64_t seconds = camera_->RecordedSeconds();
    const QString duration = DurationText(seconds, MsgTexts(64), MsgTexts(65), MsgTexts(66));
    const int room = statusPanel_->width() > 0 ? statusPanel_->width() : width() - 12;
    savedFileLink_->setText(SavedFileLine(MsgTexts(63), path, duration,
                                          FileSizeText(size, QLocale()),
                                          savedFileLink_->fontMetrics(), room));
    // The whole result line and where the file is.
    savedFileLink_->setToolTip(statusPanel_->text() + u'\n' + path);
    statusPanel_->hide();
    savedFileLink_->show();
}

void MainWindow::CameraError(engine::TScreenCamera*, const std::string& text) {
    const QString line = QString::fromStdString(text);
    {
        std::lock_guard lock(runErrorsMutex_);
        runErrors_ << line;
    }
    WriteLog(line);
}

void MainWindow::ShowRecordingFailure() {
    QStringList texts;
    {
        std::lock_guard lock(runErrorsMutex_);
        // The last few: the one that ended the recording is among them.
        texts = runErrors_.mid(std::max<qsizetype>(0, runErrors_.size() - 4));
    }
    // A run that ended before its capture loop never recorded: it did not
    // start, and the reason is what the user must see.
    // The save after a recording can fail too: the recording itself is kept.
    const bool saveFailed = runStarted_ && camera_ && camera_->SaveFailed;
    const QString heading = saveFailed    ? MsgTextOr(79, "The recording could not be saved:")
                            : runStarted_ ? MsgTextOr(18, "The recording was stopped:")
                                          : MsgTextOr(25, "The recording did not start:");
    // Not modal: the window stays usable, and a program ending by itself
    // (a signal, a logout) is not held up by it.
    if (!failureBox_) {
        failureBox_ = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(),
                                      QString(), QMessageBox::Ok, this);
        failureBox_->setObjectName(QStringLiteral("RecordingFailure"));
        failureBox_->setAttribute(Qt::WA_DeleteOnClose);
        failureBox_->setModal(false);
        failureBox_->setTextFormat(Qt::PlainText);
    }
    failureBox_->setText(heading + QStringLiteral("\n\n") + texts.join(u'\n'));
    // The line under the buttons says it too, with the first text of the run
    // shown: the reason, where a generic line (a grab that failed) follows it.
    // A failed save's reason is its result, the last text.
    if (!texts.isEmpty())
        ShowStatus(statusPanel_, heading + u' ' + (saveFailed ? texts.last() : texts.first()));
    failureBox_->show();
    failureBox_->raise();
}

QString MainWindow::FiguresText(const LiveFigures& figures) {
    return LiveFiguresText(
        figures, {MsgTexts(3), MsgTexts(4), MsgTexts(5), MsgTexts(6), MsgTexts(7), MsgTexts(24)},
        QLocale());
}

void MainWindow::CameraUpdate(engine::TScreenCamera* sender) {
    // On the worker, which writes these figures itself.
    LiveFigures figures;
    figures.compressorName = QString::fromStdString(sender->CompressorName);
    figures.elapsedText = QString::fromStdString(sender->ElapsedText);
    // The slots not dropped: a frame still queued for the writer counts.
    const std::int64_t frameSlots = std::int64_t{sender->CurrentFrameIndex} + 1;
    figures.frameRate =
        RecordedFrameRate(frameSlots - sender->FramesDropped, frameSlots, sender->FramesPerSecond);
    figures.framesWritten = sender->FramesWritten;
    figures.framesDropped = sender->FramesDropped;
    figures.paused = sender->Paused;
    // Standing still, the time is the last frame's as the result line will
    // count it, not the running clock's a second behind.
    if (figures.paused)
        figures.elapsedText = QString::fromStdString(engine::TScreenCamera::FormatElapsed(
            1000 * RecordedSeconds(sender->CurrentFrameIndex, sender->FramesPerSecond)));
    const QString text = FiguresText(figures);
    droppedPercent_ = DroppedPercentOf(figures.framesWritten, figures.framesDropped);
    // The area as the engine records it, once frames are taken: it may have
    // moved a typed area back onto the screen or rounded its size.
    std::optional<std::array<int, 4>> area;
    if (figures.framesWritten > 0 && !sender->WindowMode && !areaShown_.exchange(true))
        area = std::array<int, 4>{sender->Left.load(), sender->Top.load(),
                                  static_cast<int>(sender->ActualWidth),
                                  static_cast<int>(sender->ActualHeight)};
    QMetaObject::invokeMethod(
        this,
        [this, text, area, figures] {
            shownFigures_ = figures;
            panel_->figuresLabel->setText(text);
            if (area) panel_->ShowRegion((*area)[0], (*area)[1], (*area)[2], (*area)[3]);
        },
        Qt::QueuedConnection);
}

void MainWindow::CameraSaveProgress(engine::TScreenCamera*, std::int32_t percent, bool& Continue) {
    // On the worker: decided here, shown later by the UI thread, never waited for.
    const MergeProgress::Step step = mergeProgress_.Report(percent);
    for (const int n : step.logTexts) WriteLog(LogTexts(n));
    QMetaObject::invokeMethod(
        this,
        [this, step] {
            cancelMergeButton->setEnabled(step.cancelEnabled);
            mergeProgressBar->setValue(step.progress);
        },
        Qt::QueuedConnection);
    Continue = step.proceed;
}

}  // namespace velmora
