#include "shell/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "common/DefaultOutputFolder.h"
#include "common/FolderPicker.h"
#include "common/Functions.h"
#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "net/AboutDialog.h"
#include "net/HttpClient.h"
#include "net/StatsReports.h"
#include "net/UpdateDialog.h"
#include "overlays/AreaPanel.h"
#include "overlays/AreaSelector.h"
#include "platform/instance/SingleInstance.h"
#include "platform/x11/HotKeys.h"
#include "common/ButtonImages.h"
#include "shell/CommandLine.h"
#include "shell/DeclinedRecordings.h"
#include "common/EventLog.h"
#include "shell/GlobalShortcuts.h"
#include "shell/HotKeyFilter.h"
#include "shell/OptionsDialog.h"
#include "shell/QtCameraHost.h"

namespace velmora {
namespace {

// Identifiers of the two global hot keys.
constexpr int kStartCapturing = 1;
constexpr int kStopCapturing = 2;

// The panel strip's caption: which way the panel goes on a click.
QString StripCaption(QChar arrow) {
    return QStringList(12, QString(arrow)).join(u'\n');
}

template <typename T>
T* Make(QWidget* parent, const char* name, QRect geometry) {
    auto* w = new T(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QToolButton* MakeToolButton(QWidget* parent, const char* name, const QString& text, int image,
                            QRect geometry, Qt::ToolButtonStyle style) {
    auto* b = Make<QToolButton>(parent, name, geometry);
    b->setText(text);
    b->setAutoRaise(true);
    b->setIcon(ButtonImageIcon(image));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(style);
    return b;
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.find_last_of('/') + 1);
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// The old folder stays; the log says which folder and why.
QString FolderRefusedText(const std::string& folder, const std::string& reason) {
    return QStringLiteral("The folder cannot be used for recordings: %1: %2")
        .arg(QString::fromStdString(folder), QString::fromStdString(reason));
}

}  // namespace

TForm1::TForm1(TNetServers servers, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      servers_(std::move(servers)),
      http_(std::make_unique<HttpClient>()),
      reporter_(std::make_unique<TStatsReporter>(*http_, servers_.reports)) {
    // Translated by every ApplyLanguage from here on, this one included.
    SetLanguageWindow(LanguageWindow::Main, this);
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    FormCreate();
    // The panel reads the settings FormCreate has just loaded.
    addForm_ = new TAddForm(this);
    connect(addForm_, &TAddForm::closed, this, [this] { sButton2->setText(StripCaption(u'>')); });
    CreateAreaSelector();
}

TForm1::~TForm1() {
    if (formScreen_) formScreen_->FreeBitmaps();
    // The engine next: its worker may still report, and it may still ask.
    camera_.reset();
    host_.reset();
    // The selector gives its hot keys back to the filter before that goes.
    formScreen_.reset();
    hotKeys_.reset();  // ungrabs F9 and F10 and whatever else is left
    ProgramLog().SetStatusSink(nullptr);
    SetLanguageWindow(LanguageWindow::Main, nullptr);
}

void TForm1::CreateControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    setFixedSize(287, 204);
    setWindowIcon(ButtonImageIcon(kImageProgram));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The images sit behind their buttons and mark the chosen capture type.
    Image1 = Make<QLabel>(client, "Image1", {6, 4, 108, 53});
    Image2 = Make<QLabel>(client, "Image2", {6, 60, 108, 53});
    for (QLabel* image : {Image1, Image2}) {
        image->setAutoFillBackground(true);
        image->setStyleSheet(QStringLiteral("background-color: rgba(255, 119, 164, 130);"));
    }
    constexpr auto kBeside = Qt::ToolButtonTextBesideIcon;
    constexpr auto kUnder = Qt::ToolButtonTextUnderIcon;
    constexpr auto kIconOnly = Qt::ToolButtonIconOnly;
    Button4 = MakeToolButton(client, "Button4", QStringLiteral("Specific\nArea"), kImageArea,
                             {6, 4, 108, 53}, kBeside);
    Button5 = MakeToolButton(client, "Button5", QStringLiteral("Full\nScreen"), kImageFull,
                             {6, 60, 108, 53}, kBeside);
    Button1 = MakeToolButton(client, "Button1", QStringLiteral("Record (F9)"), kImageRecord,
                             {117, 4, 78, 53}, kUnder);
    button1Image_ = kImageRecord;
    Button3 = MakeToolButton(client, "Button3", QStringLiteral("Options"), kImageOptions,
                             {197, 4, 72, 53}, kUnder);
    AboutButton =
        MakeToolButton(client, "AboutButton", QString(), kImageAbout, {117, 60, 78, 53}, kIconOnly);
    sSpeedButton1 = MakeToolButton(client, "sSpeedButton1", QString(), kImageExit,
                                   {197, 60, 72, 53}, kIconOnly);
    Label1 = Make<QLabel>(client, "Label1", {8, 115, 200, 16});
    Label1->setText(QStringLiteral("Save to folder:"));
    Edit8 = Make<QLineEdit>(client, "Edit8", {6, 132, 232, 24});
    Edit8->setReadOnly(true);
    Edit8->setText(QStringLiteral("Video.avi"));
    FilesButton = MakeToolButton(client, "FilesButton", QString(), kImageFolder, {240, 129, 30, 30},
                                 kIconOnly);
    FilesButton->setIconSize(QSize(24, 24));
    sProgressBar1 = Make<QProgressBar>(client, "sProgressBar1", {6, 161, 192, 18});
    sProgressBar1->setRange(0, 100);
    sProgressBar1->setValue(0);
    sProgressBar1->setTextVisible(false);
    Button2 = Make<QPushButton>(client, "Button2", {201, 159, 68, 22});
    Button2->setText(QStringLiteral("Cancel"));
    Button2->setEnabled(false);
    sButton2 = Make<QToolButton>(client, "sButton2", {273, 0, 14, 177});
    sButton2->setAutoRaise(true);
    sButton2->setText(StripCaption(u'>'));
    QFont strip = sButton2->font();
    strip.setBold(true);
    strip.setPixelSize(11);
    sButton2->setFont(strip);

    sStatusBar1 = new QStatusBar(this);
    sStatusBar1->setObjectName(QStringLiteral("sStatusBar1"));
    sStatusBar1->setSizeGripEnabled(false);
    statusPanel_ = new QLabel(sStatusBar1);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel"));
    statusPanel_->setMinimumWidth(200);
    sStatusBar1->addWidget(statusPanel_, 1);
    setStatusBar(sStatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(300);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);

    connect(Button1, &QToolButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QToolButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QToolButton::clicked, this, &TForm1::Button4Click);
    connect(Button5, &QToolButton::clicked, this, &TForm1::FullButtonClick);
    connect(FilesButton, &QToolButton::clicked, this, &TForm1::sButton1Click);
    connect(sButton2, &QToolButton::clicked, this, &TForm1::sButton2Click);
    connect(sSpeedButton1, &QToolButton::clicked, this, &TForm1::sSpeedButton1Click);
    connect(AboutButton, &QToolButton::clicked, this, &TForm1::AboutButtonClick);
}

void TForm1::FormCreate() {
    setWindowTitle(QStringLiteral("Velmora ") + QLatin1String(AppVersion));

    // The status text may come from the recording worker: it is always set on
    // this window's thread.
    QPointer<QLabel> panel = statusPanel_;
    ProgramLog().SetStatusSink([panel](const QString& text) {
        if (panel)
            QMetaObject::invokeMethod(panel, [panel, text] {
                if (!panel) return;
                panel->setText(text);
                // A long summary line is cut at the window's edge.
                panel->setToolTip(text);
            });
    });

    // The single-instance check ran before this window was made: a second
    // copy never gets here.
    const std::string settingsFile = SettingsFile();
    firstRun_ = !QFileInfo::exists(QString::fromStdString(settingsFile));
    // A first start is reported whatever SendStats will say; a failure
    // changes nothing.
    if (firstRun_) {
        try {
            reporter_->SendInstallReport();
        } catch (const EHttpError&) {
        }
    }

    Settings = ReadSettings(settingsFile, DefaultOutputFolder());

    hotKeys_ = std::make_unique<HotKeyFilter>([this](int vk) { HotKeyPressed(vk); });
    // Another program may own a key: the buttons still work, so no message.
    const bool f9 = hotKeys_->Register(kStartCapturing, platform::kVkF9);
    const bool f10 = hotKeys_->Register(kStopCapturing, platform::kVkF10);
    hotKeysRegistered_ = f9 && f10;
    // On Wayland the grabs above see only X windows, if any.
    if (GlobalShortcuts::WaylandSession())
        (new GlobalShortcuts([this](int vk) { HotKeyPressed(vk); }, this))->Start();

    CreateEngine();
    Settings.PriorityIndex = 3;
    Settings.CompressorNames = camera_->ListCompressors();
    if (Settings.CodecIndex == -1)
        Settings.CodecIndex = DefaultCompressorIndex(Settings.CompressorNames);

    Image1->setVisible(Settings.TypeCapture == 0);
    Image2->setVisible(Settings.TypeCapture != 0);
    Timer1->start();
    // Only now: the first-start report's wait runs the event loop, and the
    // update check needs the settings.
    Timer2->start();
    ApplyLanguage();
}

void TForm1::CreateEngine() {
    QtCameraHost::Hooks hooks;
    hooks.summaryFigures = [this] {
        engine::MergeSummaryFigures figures;
        // The area as this window holds it for the recording (the screen in
        // full-screen mode), fixed when the recording started.
        figures.areaWidth = summaryWidth_;
        figures.areaHeight = summaryHeight_;
        figures.droppedPercent = droppedPercent_;
        return figures;
    };
    hooks.afterEngineWork = [this] { FollowEngine(); };
    // On the worker, after the result line has been logged.
    hooks.reportMergeResult = [this](const std::string& text) {
        if (reportsAllowed_) SendMergeReport(servers_.reports, text);
    };
    host_ = std::make_unique<QtCameraHost>(this, std::move(hooks));
    // The temporary files go where WorkDir points now, before the command line.
    camera_ = std::make_unique<engine::TScreenCamera>(*host_, Settings.WorkDir);
    camera_->OnCameraError = [this](engine::TScreenCamera* sender, const std::string& text) {
        CameraError(sender, text);
    };
    camera_->OnUpdate = [this](engine::TScreenCamera* sender) { CameraUpdate(sender); };
    camera_->OnSaveProgress = [this](engine::TScreenCamera* sender, std::int32_t percent,
                                     bool& proceed) {
        CameraSaveProgress(sender, percent, proceed);
    };
    // The capture loop has ended: when the engine ended it by itself the
    // window goes back to idle.
    camera_->OnStop = [this](engine::TScreenCamera*) {
        QMetaObject::invokeMethod(
            this, [this] { FollowEngine(); }, Qt::QueuedConnection);
    };
}

void TForm1::CreateAreaSelector() {
    TFormScreenLinks links;
    links.RegisterHotKey = [this](int id, int virtualKey) {
        return hotKeys_ && hotKeys_->Register(id, virtualKey);
    };
    links.UnregisterHotKey = [this](int id) { return hotKeys_ && hotKeys_->Unregister(id); };
    links.QueryForeignCursor = [this] {
        return camera_ ? camera_->QueryForeignCursor() : platform::ForeignCursor{};
    };
    links.SaveSettings = [this] { return SaveSettings(); };
    links.AddForm = addForm_;
    formScreen_ = std::make_unique<TFormScreen>(std::move(links));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Shown by the program, not restored from the task bar.
    if (!event->spontaneous()) FormShow();
}

void TForm1::FormShow() {
    std::vector<std::string> parameters;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        parameters.push_back(arguments[i].toStdString());
    const bool requested = ReadCommandLine(
        parameters, Settings, [] { WriteLog(LogTexts(1)); },
        [](const std::string& folder, const std::string& reason) {
            WriteLog(FolderRefusedText(folder, reason));
        });
    ApplySettings();
    Edit8->setText(QString::fromStdString(Settings.WorkDir));
    // A window shown again must not start the command line's recording twice.
    const bool start = requested && !recordRequested_;
    if (start) recordRequested_ = true;
    const bool firstShow = !recoveryOffered_;
    recoveryOffered_ = true;
    if (firstShow && camera_ && !camera_->FindInterruptedRecordings(Settings.WorkDir).empty()) {
        // The question comes once the window is up; the recording after it.
        QTimer::singleShot(0, this, [this, start] {
            if (OfferRecovery() && start)
                startAfterRecovery_ = true;
            else if (start)
                StartCapture();
        });
        return;
    }
    if (start) StartCapture();
}

bool TForm1::OfferRecovery() {
    const DeclinedRecordings declined(FolderOf(SettingsFile()) + "RecoveryDeclined.lst");
    std::vector<engine::TInterruptedRecording> offered;
    for (auto& r : camera_->FindInterruptedRecordings(Settings.WorkDir))
        if (!declined.Contains(r)) offered.push_back(std::move(r));
    if (offered.empty()) return false;
    QStringList lines;
    for (const auto& r : offered) {
        QString files = QString::fromStdString(r.video);
        if (!r.audio.empty())
            files += (files.isEmpty() ? QString() : QStringLiteral(", ")) +
                     QString::fromStdString(r.audio);
        lines << files;
        WriteLog(QStringLiteral("An interrupted recording was found: ") + files);
    }
    QMessageBox box(
        QMessageBox::Question, QStringLiteral("Notice"),
        QStringLiteral("A recording was interrupted before it was saved:\n%1\n\n"
                       "Save it now as %2?")
            .arg(lines.join(u'\n'), QString::fromStdString(FileNameOf(offered.front().target))),
        QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("RecoveryQuestion"));
    if (box.exec() != QMessageBox::Yes) {
        for (const auto& r : offered) declined.Add(r);
        WriteLog(QStringLiteral("The interrupted recording is left as it is: ") +
                 lines.join(QStringLiteral("; ")));
        return false;
    }
    const bool started = camera_->RecoverRecordings(std::move(offered));
    UpdateRecordEnabled();
    return started;
}

void TForm1::ApplySettings() {
    engineSettings_ = ToEngineSettings(Settings);
    reportsAllowed_ = Settings.SendStats;
    CaptureArea = {engineSettings_.CaptureLeft, engineSettings_.CaptureTop,
                   engineSettings_.CaptureWidth, engineSettings_.CaptureHeight};
    if (camera_) CopyIntoEngine(engineSettings_, *camera_);
}

bool TForm1::SaveSettings() {
    const std::string file = SettingsFile();
    if (WriteSettings(Settings, file)) return true;
    ShowSaveFailure(file, {});
    return false;
}

void TForm1::ShowSaveFailure(const std::string& file, const QString& lost) {
    const QString message =
        QStringLiteral("Unable to write to %1").arg(QString::fromStdString(file));
    WriteLog(lost.isEmpty() ? message : message + QStringLiteral(" - ") + lost);
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, this);
    box.setInformativeText(lost);
    box.exec();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        // Nobody is there to answer a message box.
        SaveSettingsQuietly();
        event->accept();
        return;
    }
    // A settings file that cannot be written must not keep the user in the
    // program (an installed copy whose folders are all read-only would never
    // close): the message says what is lost, then the window closes.
    const std::string file = SettingsFile();
    if (!WriteSettings(Settings, file))
        ShowSaveFailure(file, QStringLiteral("The settings of this session are not saved."));
    event->accept();
}

void TForm1::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // The docked panel follows the window.
    if (addForm_ && addForm_->isVisible()) DockAddForm();
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The frame around the recorded area stays up when the window goes down.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && camera_)
        camera_->AppMinimized();
}

// ------------------------------------------------------------ recording control

void TForm1::StartCapture() {
    if (!camera_ || camera_->Recording) return;
    // A previous recording still being merged owns the temporary files; the
    // user learns why nothing starts.
    if (camera_->WorkerRunning()) {
        statusPanel_->setText(LogTexts(2));
        statusPanel_->setToolTip(LogTexts(2));
        UpdateRecordEnabled();
        return;
    }
    WriteLog(QString());
    mergeProgress_.Reset();
    droppedPercent_ = 0.0;
    ApplySettings();
    const bool fullScreen = Settings.TypeCapture == 1;
    summaryWidth_ = fullScreen ? GetScreenWidth() : Settings.RegionWidthPos;
    summaryHeight_ = fullScreen ? GetScreenHeight() : Settings.RegionHeightPos;
    const QString name = TargetFileName(QDateTime::currentDateTime());
    const QString path =
        UniqueTargetPath(QString::fromStdString(Settings.WorkDir), name,
                         [](const QString& file) { return QFileInfo::exists(file); });
    camera_->StartRecording(path.toStdString());
    WriteLog(QFileInfo(path).fileName());
    SetButton1Image(kImageStop);
    Button1->setText(MsgTexts(2));
    for (QToolButton* b : {Button3, Button4, Button5}) b->setEnabled(false);
    recordingShown_ = true;
    // A run that fails at once has already told the UI thread; look now too.
    FollowEngine();
}

void TForm1::StopCapture() {
    ShowIdleControls();
    if (camera_) camera_->StopRecording();
    UpdateRecordEnabled();
}

void TForm1::UpdateRecordEnabled() {
    // Record stays off while the worker still merges the last recording; the
    // worker's final report to this thread turns it on again.
    Button1->setEnabled(!camera_ || camera_->Recording || !camera_->WorkerRunning());
}

void TForm1::ShowIdleControls() {
    Button1->setText(MsgTexts(1));
    for (QToolButton* b : {Button3, Button4, Button5}) b->setEnabled(true);
    SetButton1Image(kImageRecord);
    recordingShown_ = false;
}

void TForm1::FollowEngine() {
    if (recordingShown_ && camera_ && !camera_->Recording) ShowIdleControls();
    UpdateRecordEnabled();
    if (camera_ && !camera_->WorkerRunning()) {
        // A merge that failed sends no final report: the controls leave the
        // merging state once the worker is gone.
        Button2->setEnabled(false);
        sProgressBar1->setValue(0);
    }
    if (quitting_) FinishQuit();
    if (startAfterRecovery_ && camera_ && !camera_->WorkerRunning()) {
        startAfterRecovery_ = false;
        StartCapture();
    }
}

void TForm1::QuitRequested(const QString& why) {
    if (quitting_) {
        WriteLog(why + QStringLiteral(
                           " again: the merge is given up; the recording stays in the temporary "
                           "files for the next start"));
        if (camera_) camera_->AbandonMerge();
        FinishQuit();
        return;
    }
    quitting_ = true;
    const bool busy = camera_ && (camera_->Recording || camera_->WorkerRunning());
    WriteLog(why + (busy ? QStringLiteral(": the recording is stopped and saved before the exit")
                         : QStringLiteral(": exit")));
    if (camera_ && camera_->Recording) StopCapture();
    if (busy) {
        quitTimer_ = new QTimer(this);
        quitTimer_->setSingleShot(true);
        connect(quitTimer_, &QTimer::timeout, this, [this] {
            WriteLog(QStringLiteral(
                "The merge takes too long for the exit; the recording stays in the temporary "
                "files for the next start"));
            if (camera_) camera_->AbandonMerge();
        });
        quitTimer_->start(kQuitMergeWaitMs);
    }
    FinishQuit();
}

void TForm1::FinishQuit() {
    if (quitClosing_ || (camera_ && camera_->WorkerRunning())) return;
    quitClosing_ = true;
    // Closed from the event loop, not from inside the engine's report.
    QTimer::singleShot(0, this, [this] { close(); });
}

void TForm1::FinishForLogout() {
    if (!quitting_) QuitRequested(QStringLiteral("Logout"));
    // The session manager may end the process once this returns: wait here.
    QElapsedTimer waited;
    waited.start();
    while (camera_ && camera_->WorkerRunning() && waited.elapsed() < kQuitMergeWaitMs + 10000) {
        if (waited.elapsed() >= kQuitMergeWaitMs) camera_->AbandonMerge();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    }
    SaveSettingsQuietly();
}

void TForm1::SaveSettingsQuietly() {
    const std::string file = SettingsFile();
    if (!WriteSettings(Settings, file))
        WriteLog(QStringLiteral("Unable to write to %1").arg(QString::fromStdString(file)));
}

void TForm1::SetButton1Image(int index) {
    button1Image_ = index;
    Button1->setIcon(ButtonImageIcon(index));
}

void TForm1::HotKeyPressed(int virtualKey) {
    switch (virtualKey) {
        // The selector holds these keys only while it shows; a press still
        // queued when it has closed is dropped.
        case platform::kVkEscape:
            if (formScreen_ && formScreen_->isVisible()) formScreen_->close();
            break;
        case platform::kVkReturn:
            if (formScreen_ && formScreen_->isVisible()) formScreen_->AcceptSelection();
            break;
        case platform::kVkF9:
            if (camera_ && !camera_->Recording) StartCapture();
            break;
        case platform::kVkF10:
            if (camera_ && camera_->Recording) StopCapture();
            break;
        default:
            break;
    }
}

void TForm1::RemoteCommand(const std::string& command) {
    if (command == "start")
        HotKeyPressed(platform::kVkF9);
    else if (command == "stop")
        HotKeyPressed(platform::kVkF10);
    else if (command == "toggle")
        HotKeyPressed(camera_ && camera_->Recording ? platform::kVkF10 : platform::kVkF9);
}

void TForm1::ListenForCommands(platform::InstanceLock& lock) {
    if (!lock.held() || commands_) return;
    commands_ = new QSocketNotifier(lock.fd(), QSocketNotifier::Read, this);
    connect(commands_, &QSocketNotifier::activated, this, [this, &lock] {
        // Run from the event loop, as a hot key's press is: starting may
        // open dialogs.
        if (const auto command = lock.ReceiveCommand())
            QMetaObject::invokeMethod(
                this, [this, c = *command] { RemoteCommand(c); }, Qt::QueuedConnection);
    });
}

// ------------------------------------------------------------ control handlers

void TForm1::Button1Click() {
    if (camera_ && camera_->Recording)
        StopCapture();
    else
        StartCapture();
}

void TForm1::Button2Click() {
    mergeProgress_.RequestCancel();
}

void TForm1::Button3Click() {
    if (OptionsForm) OptionsForm->exec();
}

void TForm1::AboutButtonClick() {
    if (AboutForm) AboutForm->exec();
}

void TForm1::Button4Click() {
    Settings.TypeCapture = 0;
    Image1->show();
    Image2->hide();
    addForm_->SetAreaEditsEnabled(true);
    formScreen_->ShowAreaSelector();
}

void TForm1::FullButtonClick() {
    Settings.TypeCapture = 1;
    Image1->hide();
    Image2->show();
    addForm_->SetAreaEditsEnabled(false);
    // The primary monitor at its offset: what a full-screen recording takes.
    const ScreenRect primary = GetPrimaryScreenRect();
    Settings.RegionTopPos = primary.top;
    Settings.RegionHeightPos = primary.height;
    Settings.RegionLeftPos = primary.left;
    Settings.RegionWidthPos = primary.width;
    addForm_->ShowRegion(Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
                         Settings.RegionHeightPos);
}

void TForm1::sButton1Click() {
    QString folder = QString::fromStdString(Settings.WorkDir);
    BrowseForFolder(QStringLiteral("Select directory"), QStringLiteral("desktop"), folder, false,
                    false, true);
    if (!folder.isEmpty() && !folder.endsWith(u'/')) folder += u'/';
    if (!folder.isEmpty()) {
        if (const std::string reason = RefusedFolderReason(folder.toStdString()); !reason.empty()) {
            WriteLog(FolderRefusedText(folder.toStdString(), reason));
            return;
        }
    }
    Settings.WorkDir = folder.toStdString();
    if (folder.isEmpty()) return;
    Edit8->setText(folder);
}

void TForm1::sButton2Click() {
    if (addForm_->isVisible()) {
        addForm_->hide();
        sButton2->setText(StripCaption(u'>'));
        return;
    }
    DockAddForm();
    addForm_->show();
    sButton2->setText(StripCaption(u'<'));
    ApplyLanguage();
    LanguageApplied();
}

void TForm1::LanguageApplied() {
    // The language sets the Record caption; a running recording keeps Stop.
    if (recordingShown_) Button1->setText(MsgTexts(2));
}

void TForm1::DockAddForm() {
    addForm_->DockBeside(this);
}

void TForm1::sSpeedButton1Click() {
    if (camera_ && camera_->Recording) {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                        QStringLiteral("Video capturing is running.  Exit now?"),
                        QMessageBox::Yes | QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("ExitQuestion"));
        if (box.exec() != QMessageBox::Yes) return;
    }
    close();
}

void TForm1::Timer1Timer() {
    // The stop square blinks while recording.
    if (camera_ && camera_->Recording)
        SetButton1Image(button1Image_ == kImageStop ? kImageEmpty : kImageStop);
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    if (Settings.SendStats && UpdateForm) UpdateForm->CheckForUpdate();
}

// ------------------------------------------------------------ engine events

void TForm1::CameraError(engine::TScreenCamera*, const std::string& text) {
    WriteLog(QString::fromStdString(text));
}

void TForm1::CameraUpdate(engine::TScreenCamera* sender) {
    // On the worker, which writes these figures itself.
    LiveFigures figures;
    figures.compressorName = QString::fromStdString(sender->CompressorName);
    figures.elapsedText = QString::fromStdString(sender->ElapsedText);
    figures.lastInterval = sender->LastInterval;
    figures.framesWritten = sender->FramesWritten;
    figures.framesDropped = sender->FramesDropped;
    const QString text = LiveFiguresText(
        figures, {MsgTexts(3), MsgTexts(4), MsgTexts(5), MsgTexts(6), MsgTexts(7)}, QLocale());
    droppedPercent_ = DroppedPercentOf(figures.framesWritten, figures.framesDropped);
    QMetaObject::invokeMethod(
        this, [this, text] { addForm_->Label1->setText(text); }, Qt::QueuedConnection);
}

void TForm1::CameraSaveProgress(engine::TScreenCamera*, std::int32_t percent, bool& Continue) {
    // On the worker: decided here, shown later by the UI thread, never waited for.
    const MergeProgress::Step step = mergeProgress_.Report(percent);
    for (const int n : step.logTexts) WriteLog(LogTexts(n));
    QMetaObject::invokeMethod(
        this,
        [this, step] {
            Button2->setEnabled(step.cancelEnabled);
            sProgressBar1->setValue(step.progress);
        },
        Qt::QueuedConnection);
    Continue = step.proceed;
}

}  // namespace velmora
