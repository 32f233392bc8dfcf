#pragma once
// The main window: created first, and closing it ends the program. Its
// creation does the program's start-up (settings, hot keys, the recording
// engine, language), its first showing reads the command line, and closing it
// saves the settings. It starts and stops recordings, shows what the engine
// reports, and lets the user cancel the merge of a finished recording.
// Its members are defined by job: MainWindow.cpp the window and its controls,
// MainWindowRecording.cpp the recording control, MainWindowQuit.cpp the quit
// and logout sequence, MainWindowCommands.cpp the hot keys and the commands
// of other copies, MainWindowDesktop.cpp the countdown, the tray icon, the
// notification of a saved recording and the folder button's menu.

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/VendorServers.h"
#include "platform/x11/WindowList.h"
#include "shell/EngineSettings.h"
#include "shell/Presets.h"
#include "shell/RecordingTexts.h"
#include "shell/TrayIcon.h"

class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QSocketNotifier;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;

namespace velmora {

namespace engine {
class TScreenCamera;
}
namespace platform {
class InstanceLock;
class InstanceReply;
}  // namespace platform
class HotKeyFilter;
class WindowPicker;
class HttpClient;
class QtCameraHost;
class AreaPanel;
class AreaSelector;
class TStatsReporter;
class Countdown;
class SavedNotification;
struct FolderSearch;
struct FolderCheck;

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    // servers: where the reports go and where the update check looks.
    explicit MainWindow(TNetServers servers = VendorServers(), QWidget* parent = nullptr);
    ~MainWindow() override;

    // Hands the settings to the recording engine; also refreshes the window's
    // copy of the capture area.
    void ApplySettings();
    // What the presets depend on now: the compressors, and the desktop's
    // default sound input in the mixer's list.
    PresetContext PresetSurroundings() const;
    // Writes the settings file; on failure shows "Unable to write to <file>"
    // and returns false.
    bool SaveSettings();

    // What the engine was given by the last ApplySettings.
    const EngineSettings& engineSettings() const { return engineSettings_; }
    // The capture area as Left, Top, Width, Height.
    std::array<int, 4> CaptureArea{};
    // Whether start-up or the command line asked for a recording.
    bool recordRequested() const { return recordRequested_; }
    // Whether F9 and F10 could be grabbed (another program may own them).
    bool hotKeysRegistered() const { return hotKeysRegistered_; }

    engine::TScreenCamera* Camera() const { return camera_.get(); }
    AreaPanel* Panel() const { return panel_; }
    AreaSelector* Selector() const { return selector_.get(); }
    // Dropped frames of the running recording in percent, for the merge's
    // summary line.
    double DroppedPercent() const { return droppedPercent_; }
    // The image the Record button shows now (a ButtonImage number).
    int RecordImage() const { return recordImage_; }

    // Where reports go and the update check looks; empty without a server.
    const TNetServers& Servers() const { return servers_; }
    // The window's HTTP client (UI thread), also used by the update dialog.
    HttpClient& Http() const { return *http_; }
    // After an ApplyLanguage from another window: a running recording keeps
    // its Stop caption.
    void LanguageApplied();

    // ---- recording control (UI thread)
    void StartCapture();
    void StopCapture();
    // Pause and resume the running recording (F11, the Pause button, the
    // pause commands); nothing when there is none to pause or resume.
    void PauseCapture();
    void ResumeCapture();
    void TogglePause();
    void ShowIdleControls();
    // Tells the senders of a start how it went (failure empty: it runs).
    void AnswerStartReplies(const std::string& failure);
    // The texts of the run so far, for a sender that waits for its start.
    std::string RunErrorsText();
    // A press of a registered global hot key, by its virtual-key code.
    void HotKeyPressed(int virtualKey);
    // A command from another process ("start", "stop", "toggle", "pause",
    // "resume", "pause-toggle"): start and stop do what F9 and F10 do, the
    // toggles whichever fits now, pause and resume as the button. A start
    // with arguments is another copy's command line ("-vc", "path=",
    // "time="), read as at this copy's own start when no recording runs.
    // A command that starts a recording carries the sender's reply: it
    // hears once the recording runs, or why it did not start.
    void RemoteCommand(const std::string& command, const std::vector<std::string>& arguments = {},
                       std::shared_ptr<platform::InstanceReply> reply = {});
    void RunCommand(const std::string& command, const std::vector<std::string>& arguments);
    // Why a command from another copy cannot be carried out now, or "".
    std::string CommandRefusal() const;
    // Takes the commands sent to the lock's socket from now on.
    void ListenForCommands(platform::InstanceLock& lock);

    // ---- leaving without the user (UI thread)
    // A termination signal (why names it): a running recording is stopped as
    // F10 does, its merge is awaited (at most kQuitMergeWaitMs), then the
    // settings are saved and the window closes. A second request stops
    // waiting: the merge is abandoned and the temporary files stay.
    void QuitRequested(const QString& why);
    // The session manager's logout: the same, done before it returns.
    void FinishForLogout();
    static constexpr int kQuitMergeWaitMs = 30000;
    // How long the exit waits for the recordings' folder to delete a
    // discarded recording's files.
    static constexpr int kFolderWaitMs = 5000;

    // ---- control handlers (UI thread)
    void StartOrStopClicked();
    void CancelMergeClicked();
    void OptionsClicked();
    // Shows the area selector; the mode changes when it stores an area.
    void AreaClicked();
    void AreaAccepted();
    void FullScreenClicked();
    // The area full-screen mode records, in the settings and the panel.
    void ShowFullScreenArea();
    // With more than one monitor, Full Screen's button gets a menu of them
    // (and of all together); with one, the button is a plain button again.
    void ShowMonitorChoice();
    QToolButton* CreateMonitorButton();
    void FillMonitorMenu();
    void MonitorChosen(const std::string& monitor);
    // Where a monitor= or the stored monitor is gone: the line for the log
    // (empty when it is there); run: the command line's.
    QString MissingMonitorText(const std::string& monitor, bool run) const;
    // Shows the window chooser (X11); on Wayland the portal's chooser asks
    // when the recording starts, so the mode changes at once.
    void WindowClicked();
    void WindowPicked(const platform::TopLevelWindow& window);
    void FolderClicked();
    // A folder typed into the field, taken on Enter or when the field loses
    // the focus.
    void FolderTyped();
    void PanelClicked();
    void ExitClicked();
    void AboutClicked();
    void BlinkRecordImage();
    void StartUpdateCheck();

    // ---- engine events (recording worker; the catalogue may raise an error
    // on the UI thread)
    void CameraError(engine::TScreenCamera* sender, const std::string& text);
    void CameraUpdate(engine::TScreenCamera* sender);
    void CameraSaveProgress(engine::TScreenCamera* sender, std::int32_t percent, bool& Continue);

    // ---- countdown, tray icon, notification (UI thread)
    // The seconds before a recording run (StartCapture began them); F10,
    // Escape and Stop cancel them.
    bool CountingDown() const;
    // Between Record and the recording: the countdown, or a folder that has
    // not answered yet. F10, Escape and Stop cancel either.
    bool StartPending() const;
    // The start waits for its recordings' folder (a dead network mount).
    bool WaitingForFolder() const { return waitingForFolder_; }
    // The icon in the tray (TrayIcon in Setup.ini), whether or not shown.
    TrayIcon* Tray() const { return tray_; }
    TrayIcon::Status TrayStatus() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // "Unable to write to <file>" in the log and a message box; lost, when
    // given, says what the failure costs the user.
    void ShowSaveFailure(const std::string& file, const QString& lost);
    void CreateControls();
    // A status text in the status line, as plain text on one line.
    static void ShowStatus(QLabel* panel, const QString& text);
    void StartUp();
    void ShownByProgram();
    // Reads a command line into the settings and applies them; true when it
    // asks for a recording.
    bool ReadParameters(const std::vector<std::string>& parameters);
    // F9 and F10 as global hot keys, and the portal's shortcuts on Wayland.
    void RegisterHotKeys();
    void CreateEngine();
    // Returns the window to idle once the engine has ended a recording by
    // itself (time limit, failure, a refused compressor).
    void FollowEngine();
    // Record is off from a recording's end until its worker is gone.
    void UpdateRecordEnabled();
    void SetRecordImage(int index);
    // The Pause button's caption and image, and the Stop image steady while paused.
    void ShowPauseState();
    // The time recorded so far in the About button's place and in the
    // title while a recording runs; About and the program's title otherwise.
    void ShowElapsed();
    // The status line names the file the recording was saved as, a link to
    // it, with the whole result line in its tooltip.
    void ShowSavedFile(const QString& path, std::int64_t size);
    // The panel's figures in the language's words.
    static QString FiguresText(const LiveFigures& figures);
    // A recording the engine ended by a failure: once its worker is gone,
    // one box says why (the engine's texts of that run).
    void ShowRecordingFailure();
    // Offers the recordings a crash or a failed merge left unmerged, once;
    // true when their merge has started.
    bool OfferRecovery(std::vector<engine::TInterruptedRecording> found);
    // Searches the folders recordings were made in on FolderSearchPool();
    // those with nothing unsaved left leave their list when it is done.
    // offer: the start's search, the output folder too, whose recordings are
    // offered then (dropped, with a log line, when a recording began
    // meanwhile: they are offered at the next start).
    void SearchFolders(bool offer);
    void FolderSearchDone(FolderSearch search, bool offer);
    void ForgetFolders(const std::vector<std::string>& emptied);
    // Leaving: logs the line given, stops a running recording (merged unless
    // the merge was given up) and closes the window once no worker runs.
    // After a second quit request: ends the process when the worker is still
    // held kFolderWaitMs later.
    void ExitIfTheWorkerHangs();
    void BeginQuit(const QString& why);
    // Every open dialog and question closed with its safe answer.
    void AnswerOpenDialogs();
    void FinishQuit();
    // Exit's "Discard": the recording's temporary files deleted, once its
    // worker has ended without saving it; the window closes when they are
    // gone, or after kFolderWaitMs with them left.
    void DiscardRecording();
    // Settings saved at a leave nobody can answer: a failure is only logged.
    void SaveSettingsQuietly();
    void DockPanel();
    void CreateAreaSelector();
    // The marks behind the mode buttons and the panel, for Settings.TypeCapture.
    void ShowCaptureMode();
    // Before a window recording: logs which window it records, and when the
    // stored id now has another window (X reuses ids), asks whether to record
    // it, or refuses for a command line: this copy's own (ownCommandLine:
    // exit status 2) or one handed over. True when the recording may start.
    bool ConfirmRecordedWindow(bool ownCommandLine, bool handed);
    // The Window button is off, its tooltip saying why, where the screen
    // cannot give single windows.
    void ShowWindowAvailability();
    void CreateDesktopParts();
    void BeginCountdown(int seconds);
    void CancelCountdown();
    // The controls while a start is pending: Stop cancels, nothing else can
    // change.
    void ShowPendingStart();
    // StartCapture's last step, once the folder has named the file.
    void BeginRecording(const QString& path);
    // The folder has not named the file in time: the window says so and the
    // recording starts when it does (FolderAnswered) unless it is cancelled.
    void WaitForFolder(const std::string& folder);
    void FolderAnswered(const QString& path);
    void CancelFolderWait();
    // A folder picked, typed (not there: offered to be made), or to be made:
    // checked on a thread of the folder's own, and taken or refused when it
    // answers.
    enum class FolderStep { Picked, Typed, Create };
    void TakeFolder(const QString& folder, FolderStep step);
    void FolderChecked(const QString& folder, const FolderCheck& check, FolderStep step);
    // Where the number stands: the area the recording will take, in X pixels.
    QRect CountdownArea() const;
    // The tray icon shown or not as the settings say.
    void ShowTrayAsSet();
    void ShowFromTray();
    // With a tray icon shown, the window goes there instead of the task bar
    // (MinimizeCapture); false where there is none.
    bool HideToTray();
    // On the worker, after a merge: its result line, for the notification.
    void AnnounceMergeResult(const std::string& resultLine);
    // Window mode's window has closed since it was picked: says so with its
    // title and opens the picker, whose pick starts the recording. False
    // when there is a window to record.
    bool AskForGoneWindow();

    // The capture mode buttons; the mark behind one shows the chosen mode.
    QToolButton* areaButton = nullptr;
    QLabel* areaModeMark = nullptr;
    QToolButton* fullScreenButton = nullptr;
    QLabel* fullScreenModeMark = nullptr;
    QToolButton* windowButton = nullptr;
    QLabel* windowModeMark = nullptr;
    // Why no window can be recorded here; empty when one can (asked once).
    std::optional<std::string> windowUnavailable_;
    QToolButton* recordButton = nullptr;  // Record, and Stop while recording
    // Pause, and Resume while paused: in the Options button's place while
    // recording, when Options cannot be used.
    QToolButton* pauseButton = nullptr;
    QToolButton* optionsButton = nullptr;
    QToolButton* exitButton = nullptr;
    QToolButton* aboutButton = nullptr;
    QLabel* folderLabel = nullptr;
    QToolButton* folderButton = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* cancelMergeButton = nullptr;
    QProgressBar* mergeProgressBar = nullptr;
    QStatusBar* statusLine = nullptr;
    QLabel* statusPanel_ = nullptr;
    // In the status panel's place after a save until the next status text.
    QLabel* savedFileLink_ = nullptr;
    QLabel* elapsedLabel_ = nullptr;  // in About's place while recording
    // What the saved file's line and the panel's figures show, to show
    // again in another language.
    QString savedPath_;
    std::int64_t savedSize_ = 0;
    std::optional<LiveFigures> shownFigures_;
    QToolButton* panelButton = nullptr;  // the strip that shows and hides the panel
    QTimer* blinkTimer = nullptr;        // the Stop image while recording, not paused
    QTimer* updateCheckTimer = nullptr;  // the update check, once after start
    AreaPanel* panel_ = nullptr;
    Countdown* countdown_ = nullptr;
    TrayIcon* tray_ = nullptr;
    SavedNotification* notification_ = nullptr;
    // The countdown has ended: StartCapture starts the recording itself.
    bool countdownDone_ = false;
    // A start waits for its folder; each start's question is numbered, so
    // that only the last one's late answer starts anything.
    bool waitingForFolder_ = false;
    std::uint64_t folderWaitId_ = 0;
    QString waitedFolder_;
    // The same for the folder typed or picked last.
    std::uint64_t folderChoiceId_ = 0;

    const TNetServers servers_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<TStatsReporter> reporter_;
    std::unique_ptr<HotKeyFilter> hotKeys_;
    QSocketNotifier* commands_ = nullptr;
    std::unique_ptr<AreaSelector> selector_;
    std::unique_ptr<WindowPicker> picker_;
    std::unique_ptr<QtCameraHost> host_;
    std::unique_ptr<engine::TScreenCamera> camera_;
    bool hotKeysRegistered_ = false;
    bool recordRequested_ = false;
    bool firstRun_ = false;
    // Leaving is under way, after a close, the exit button, a signal or a
    // logout; unattended for the last two, where nobody answers a question.
    bool quitting_ = false;
    bool quitUnattended_ = false;
    bool quitClosing_ = false;
    // Exit was answered "Discard": the recording is not saved but deleted.
    bool discardOnExit_ = false;
    // The command line's recording waits for the recovery's merge.
    bool startAfterRecovery_ = false;
    // The start under way is this copy's own -vc (refused with exit status
    // 2), or a -vc another copy handed over (refused to its sender).
    bool ownCommandLineStart_ = false;
    bool handedCommandLineStart_ = false;
    // Record opened the picker for a window that had gone: its pick starts.
    bool recordAfterPick_ = false;
    bool recoveryOffered_ = false;
    // The start's search for interrupted recordings while it runs; a
    // recording has begun since; the command line's recording waits for it.
    QObject* offerSearch_ = nullptr;
    bool searchOutdated_ = false;
    bool startAfterSearch_ = false;
    // The running recording's folder is in the list of folders recorded into.
    bool folderListed_ = false;
    QTimer* quitTimer_ = nullptr;
    // The controls show a recording (StartCapture until idle again).
    bool recordingShown_ = false;
    // The engine's texts since the recording started (the worker adds to
    // them), and whether a failure that ended it awaits its box.
    std::mutex runErrorsMutex_;
    QStringList runErrors_;
    bool failurePending_ = false;
    // From a recording's start until its worker is gone; then the status
    // line keeps that recording's result (later log texts, such as the update
    // check's, go to the log only) until the next recording starts.
    bool resultPending_ = false;
    bool statusHeld_ = false;
    // The run's capture loop began (set on the worker).
    std::atomic<bool> runStarted_{false};
    // Senders of a start waiting to hear whether the recording runs.
    std::vector<std::shared_ptr<platform::InstanceReply>> startReplies_;
    QPointer<QMessageBox> failureBox_;
    int recordImage_ = 0;
    EngineSettings engineSettings_;

    // Shared with the worker.
    MergeProgress mergeProgress_;
    std::atomic<double> droppedPercent_{0.0};
    // SendStats as the last ApplySettings gave it; read by the merge report.
    std::atomic<bool> reportsAllowed_{false};
    // The area for the merge's summary line; read on the worker.
    std::atomic<int> summaryWidth_{0}, summaryHeight_{0};
    // The panel shows the area as the engine records it (set on the worker).
    std::atomic<bool> areaShown_{false};
    QMenu* monitorMenu_ = nullptr;
    int fullWidth_ = 0;  // Full Screen's width without the monitors' arrow
};

}  // namespace velmora
