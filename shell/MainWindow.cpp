#include "shell/MainWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "common/ButtonImages.h"
#include "common/DefaultOutputFolder.h"
#include "common/EventLog.h"
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
#include "overlays/ScreenPixels.h"
#include "overlays/WindowPicker.h"
#include "platform/x11/ScreenBackend.h"
#include "shell/CommandLine.h"
#include "shell/CreateFolderQuestion.h"
#include "shell/FolderSearch.h"
#include "shell/HotKeyFilter.h"
#include "shell/OptionsDialog.h"
#include "shell/QtCameraHost.h"
#include "shell/StatusLine.h"

namespace velmora {
namespace {

// The window without the panel: the controls and the strip.
constexpr QSize kWindowSize(287, 204);

// The panel button's arrow: which way the panel goes on a click.
void PointPanelButton(QToolButton* button, bool panelShown) {
    button->setArrowType(panelShown ? Qt::LeftArrow : Qt::RightArrow);
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

// The old folder stays; the log says which folder and why.
QString FolderRefusedText(const std::string& folder, const std::string& reason) {
    return QStringLiteral("The folder cannot be used for recordings: %1: %2")
        .arg(QString::fromStdString(folder), QString::fromStdString(reason));
}

// Where the files of a WorkDir go: the folder itself, or for a name prefix
// (no closing '/') the folder the prefixed names are in.
QString FolderShown(const std::string& workDir) {
    const auto slash = workDir.find_last_of('/');
    if (slash != std::string::npos) return QString::fromStdString(workDir.substr(0, slash + 1));
    return workDir.empty() ? QString() : QDir::currentPath() + u'/';
}

}  // namespace

MainWindow::MainWindow(TNetServers servers, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      servers_(std::move(servers)),
      http_(std::make_unique<HttpClient>()),
      reporter_(std::make_unique<TStatsReporter>(*http_, servers_.reports)) {
    setObjectName(QStringLiteral("MainWindow"));
    CreateControls();
    CreateDesktopParts();
    // Translated by every ApplyLanguage from here on, StartUp's included.
    // The keys are the language files' names of the controls.
    SetLanguageWindow(LanguageWindow::Main, this,
                      {{"Label1", folderLabel},
                       {"Button1", recordButton},
                       {"Button2", cancelMergeButton},
                       {"Button3", optionsButton},
                       {"Button4", areaButton},
                       {"Button5", fullScreenButton},
                       {"Button6", windowButton},
                       {"Hint1", aboutButton},
                       {"Hint2", exitButton},
                       {"Hint3", folderButton},
                       {"Hint4", folderEdit},
                       {"Hint5", panelButton},
                       {"Hint6", pauseButton},
                       {"Hint7", windowButton},
                       {"Hint8", CreateMonitorButton()}});
    StartUp();
    // The panel reads the settings StartUp has just loaded.
    if (WindowsPlaceable()) {
        panel_ = new AreaPanel(this);
    } else {
        // Right of the controls, where the strip points.
        panel_ = new AreaPanel(centralWidget(), true);
        panel_->move(kWindowSize.width(), 0);
    }
    connect(panel_, &AreaPanel::closed, this, [this] { PointPanelButton(panelButton, false); });
    CreateAreaSelector();
    picker_ = std::make_unique<WindowPicker>(
        [this](const platform::TopLevelWindow& window) { WindowPicked(window); });
    ShowCaptureMode();
    // Not the stored area: full-screen mode records the screen.
    if (Settings.TypeCapture == 1) ShowFullScreenArea();
    ShowWindowAvailability();
    ShowMonitorChoice();
}

MainWindow::~MainWindow() {
    // The field's focus goes as the window goes: that is not a folder typed.
    folderEdit->disconnect(this);
    if (selector_) selector_->FreeBitmaps();
    picker_.reset();
    // The engine next: its worker may still report, and it may still ask.
    camera_.reset();
    host_.reset();
    // The selector gives its hot keys back to the filter before that goes.
    selector_.reset();
    hotKeys_.reset();  // ungrabs F9 and F10 and whatever else is left
    ProgramLog().SetStatusSink(nullptr);
    SetLanguageWindow(LanguageWindow::Main, nullptr);
}

void MainWindow::CreateControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    setFixedSize(kWindowSize);
    setWindowIcon(ButtonImageIcon(kImageProgram));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // The images sit behind their buttons and mark the chosen capture type.
    // Three modes share the height of the two button rows beside them.
    constexpr QRect kAreaPlace{6, 4, 108, 35}, kFullPlace{6, 41, 108, 35},
        kWindowPlace{6, 78, 108, 35};
    areaModeMark = Make<QLabel>(client, "areaModeMark", kAreaPlace);
    fullScreenModeMark = Make<QLabel>(client, "fullScreenModeMark", kFullPlace);
    windowModeMark = Make<QLabel>(client, "windowModeMark", kWindowPlace);
    for (QLabel* image : {areaModeMark, fullScreenModeMark, windowModeMark}) {
        image->setAutoFillBackground(true);
        image->setStyleSheet(QStringLiteral("background-color: rgba(255, 119, 164, 130);"));
    }
    constexpr auto kBeside = Qt::ToolButtonTextBesideIcon;
    constexpr auto kUnder = Qt::ToolButtonTextUnderIcon;
    constexpr auto kIconOnly = Qt::ToolButtonIconOnly;
    areaButton = MakeToolButton(client, "areaButton", QStringLiteral("Specific\nArea"), kImageArea,
                                kAreaPlace, kBeside);
    fullScreenButton = MakeToolButton(client, "fullScreenButton", QStringLiteral("Full\nScreen"),
                                      kImageFull, kFullPlace, kBeside);
    windowButton = MakeToolButton(client, "windowButton", QStringLiteral("Window"), kImageWindow,
                                  kWindowPlace, kBeside);
    windowButton->setToolTip(QStringLiteral("Record one window, even where others cover it"));
    for (QToolButton* mode : {areaButton, fullScreenButton, windowButton})
        mode->setIconSize(QSize(28, 28));
    recordButton = MakeToolButton(client, "recordButton", QStringLiteral("Record (F9)"),
                                  kImageRecord, {117, 4, 78, 53}, kUnder);
    recordImage_ = kImageRecord;
    optionsButton = MakeToolButton(client, "optionsButton", QStringLiteral("Options"),
                                   kImageOptions, {197, 4, 72, 53}, kUnder);
    pauseButton = MakeToolButton(client, "pauseButton", QStringLiteral("Pause"), kImagePause,
                                 {197, 4, 72, 53}, kUnder);
    pauseButton->setToolTip(QStringLiteral("Pause or resume the recording (F11 from any window)"));
    pauseButton->hide();
    aboutButton =
        MakeToolButton(client, "aboutButton", QString(), kImageAbout, {117, 60, 78, 53}, kIconOnly);
    exitButton =
        MakeToolButton(client, "exitButton", QString(), kImageExit, {197, 60, 72, 53}, kIconOnly);
    folderLabel = Make<QLabel>(client, "folderLabel", {8, 115, 200, 16});
    folderLabel->setText(QStringLiteral("Save to folder:"));
    // A folder may be typed or pasted as well as picked with the button.
    folderEdit = Make<QLineEdit>(client, "folderEdit", {6, 132, 232, 24});
    folderEdit->setText(QStringLiteral("Video.avi"));
    folderEdit->setToolTip(
        QStringLiteral("The folder recordings are saved in; type one and press Enter"));
    folderButton = MakeToolButton(client, "folderButton", QString(), kImageFolder,
                                  {240, 129, 30, 30}, kIconOnly);
    folderButton->setIconSize(QSize(24, 24));
    // The icon-only buttons say what they do on hover.
    aboutButton->setToolTip(QStringLiteral("About Velmora"));
    exitButton->setToolTip(QStringLiteral("Exit"));
    folderButton->setToolTip(QStringLiteral("Choose the folder for recordings"));
    mergeProgressBar = Make<QProgressBar>(client, "mergeProgressBar", {6, 161, 192, 18});
    mergeProgressBar->setRange(0, 100);
    mergeProgressBar->setValue(0);
    mergeProgressBar->setTextVisible(false);
    cancelMergeButton = Make<QPushButton>(client, "cancelMergeButton", {201, 159, 68, 22});
    cancelMergeButton->setText(QStringLiteral("Cancel"));
    cancelMergeButton->setEnabled(false);
    panelButton = Make<QToolButton>(client, "panelButton", {273, 0, 14, 177});
    // A button of its own frame, its arrow pointing where the panel goes.
    PointPanelButton(panelButton, false);
    panelButton->setToolTip(QStringLiteral("Show or hide the positions and information panel"));

    statusLine = new QStatusBar(this);
    statusLine->setObjectName(QStringLiteral("statusLine"));
    statusLine->setSizeGripEnabled(false);
    // Texts come from replies and the system as well: never read as HTML.
    statusPanel_ = new StatusLabel(statusLine);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel"));
    statusPanel_->setMinimumWidth(200);
    statusLine->addWidget(statusPanel_, 1);
    savedFileLink_ = new QLabel(statusLine);
    savedFileLink_->setObjectName(QStringLiteral("savedFileLink"));
    savedFileLink_->setTextFormat(Qt::RichText);
    savedFileLink_->setOpenExternalLinks(true);
    savedFileLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                            Qt::LinksAccessibleByKeyboard);
    statusLine->addWidget(savedFileLink_, 1);
    savedFileLink_->hide();
    setStatusBar(statusLine);
    // The time recorded so far, large enough to read at a glance.
    elapsedLabel_ = Make<QLabel>(client, "elapsedLabel", {117, 60, 78, 53});
    elapsedLabel_->setAlignment(Qt::AlignCenter);
    QFont clock = elapsedLabel_->font();
    if (clock.pointSizeF() > 0) clock.setPointSizeF(clock.pointSizeF() * 1.6);
    clock.setBold(true);
    elapsedLabel_->setFont(clock);
    elapsedLabel_->hide();

    blinkTimer = new QTimer(this);
    blinkTimer->setObjectName(QStringLiteral("blinkTimer"));
    blinkTimer->setInterval(300);
    updateCheckTimer = new QTimer(this);
    updateCheckTimer->setObjectName(QStringLiteral("updateCheckTimer"));
    updateCheckTimer->setInterval(2000);
    connect(blinkTimer, &QTimer::timeout, this, &MainWindow::BlinkRecordImage);
    connect(updateCheckTimer, &QTimer::timeout, this, &MainWindow::StartUpdateCheck);

    connect(recordButton, &QToolButton::clicked, this, &MainWindow::StartOrStopClicked);
    connect(pauseButton, &QToolButton::clicked, this, &MainWindow::TogglePause);
    connect(cancelMergeButton, &QPushButton::clicked, this, &MainWindow::CancelMergeClicked);
    connect(optionsButton, &QToolButton::clicked, this, &MainWindow::OptionsClicked);
    connect(areaButton, &QToolButton::clicked, this, &MainWindow::AreaClicked);
    connect(fullScreenButton, &QToolButton::clicked, this, &MainWindow::FullScreenClicked);
    connect(windowButton, &QToolButton::clicked, this, &MainWindow::WindowClicked);
    connect(folderButton, &QToolButton::clicked, this, &MainWindow::FolderClicked);
    connect(folderEdit, &QLineEdit::editingFinished, this, &MainWindow::FolderTyped);
    connect(panelButton, &QToolButton::clicked, this, &MainWindow::PanelClicked);
    connect(exitButton, &QToolButton::clicked, this, &MainWindow::ExitClicked);
    connect(aboutButton, &QToolButton::clicked, this, &MainWindow::AboutClicked);
}

void MainWindow::ShowStatus(QLabel* panel, const QString& text) {
    // A new text takes the place of the saved file's line.
    if (QWidget* line = panel->parentWidget())
        if (auto* saved = line->findChild<QLabel*>(QStringLiteral("savedFileLink"),
                                                   Qt::FindDirectChildrenOnly);
            saved && saved != panel && saved->isVisible()) {
            saved->hide();
            panel->show();
        }
    // One line, so that a text with line breaks does not push the controls
    // above it aside.
    panel->setText(text.simplified());
    // A long line gives up its middle; the tooltip has all of it, as
    // written even where it looks like HTML.
    panel->setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text);
}

void MainWindow::StartUp() {
    setWindowTitle(QStringLiteral("Velmora ") + QLatin1String(AppVersion));

    // The status text may come from the recording worker: it is always set on
    // this window's thread.
    QPointer<MainWindow> window = this;
    ProgramLog().SetStatusSink([window](const QString& text) {
        if (window)
            QMetaObject::invokeMethod(window, [window, text] {
                if (window && !window->statusHeld_) ShowStatus(window->statusPanel_, text);
            });
    });

    // The single-instance check ran before this window was made: a second
    // copy never gets here.
    const std::string settingsFile = SettingsFile();
    firstRun_ = !QFileInfo::exists(QString::fromStdString(settingsFile));
    Settings = ReadSettings(settingsFile, DefaultOutputFolder());
    // A first start speaks the desktop's language where there is a file of it.
    if (firstRun_) Settings.Language = LanguageForLocale(QLocale::system());
    for (const std::string* note :
         {&Settings.FileFormatNote, &Settings.SoundCodecNote, &Settings.X264PresetNote})
        if (!note->empty()) WriteLog(QString::fromStdString(*note));
    // A first start is reported like everything else: when reports are
    // allowed and the build has a server. A failure changes nothing.
    if (firstRun_ && Settings.SendStats && !servers_.reports.isEmpty()) {
        try {
            reporter_->SendInstallReport();
        } catch (const EHttpError&) {
        }
    }

    RegisterHotKeys();

    CreateEngine();
    Settings.PriorityIndex = 3;
    Settings.CompressorNames = camera_->ListCompressors();
    if (Settings.CodecIndex == -1)
        Settings.CodecIndex = DefaultCompressorIndex(Settings.CompressorNames);

    blinkTimer->start();
    // Only now: the first-start report's wait runs the event loop, and the
    // update check needs the settings.
    updateCheckTimer->start();
    ApplyLanguage();
}

void MainWindow::CreateAreaSelector() {
    AreaSelectorLinks links;
    links.RegisterHotKey = [this](int id, int virtualKey) {
        return hotKeys_ && hotKeys_->Register(id, virtualKey);
    };
    links.UnregisterHotKey = [this](int id) { return hotKeys_ && hotKeys_->Unregister(id); };
    links.QueryForeignCursor = [this] {
        return camera_ ? camera_->QueryForeignCursor() : platform::ForeignCursor{};
    };
    links.Accepted = [this] { AreaAccepted(); };
    links.SaveSettings = [this] { return SaveSettings(); };
    links.Panel = panel_;
    selector_ = std::make_unique<AreaSelector>(std::move(links));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Shown by the program, not restored from the task bar.
    if (!event->spontaneous()) ShownByProgram();
}

bool MainWindow::ReadParameters(const std::vector<std::string>& parameters) {
    const std::string folderBefore = Settings.WorkDir;
    const bool requested = ReadCommandLine(
        parameters, Settings, [] { WriteLog(LogTexts(1)); },
        [](const std::string& folder, const std::string& reason) {
            WriteLog(FolderRefusedText(folder, reason));
        },
        [this](const std::string& value) {
            // Whether it is a folder cannot be known until it answers: refused
            // as an unusable one is, the folder in use is kept.
            return AskFolder<PathCheck>(
                       value, kFolderAnswerMs, [value] { return CheckPath(value); }, this,
                       [](const PathCheck&) {})
                .value_or(PathCheck{value, "Does not answer"});
        });
    ApplySettings();
    // A name that is no folder stays a prefix of the file names: the field
    // shows where the files go, the log how they are named.
    const std::string& workDir = Settings.WorkDir;
    if (workDir != folderBefore && !workDir.empty() && !workDir.ends_with('/'))
        WriteLog(LogTexts(52).arg(QString::fromStdString(workDir), FolderShown(workDir),
                                  QString::fromStdString(workDir.substr(workDir.rfind('/') + 1))));
    folderEdit->setText(FolderShown(workDir));
    return requested;
}

void MainWindow::ShownByProgram() {
    std::vector<std::string> parameters;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        parameters.push_back(arguments[i].toStdString());
    const bool requested = ReadParameters(parameters);
    // A window shown again must not start the command line's recording twice.
    const bool start = requested && !recordRequested_;
    if (start) recordRequested_ = true;
    const bool firstShow = !recoveryOffered_;
    recoveryOffered_ = true;
    if (firstShow && camera_) {
        // The question comes once the folders are searched, the command
        // line's recording after it; the window is usable meanwhile.
        startAfterSearch_ = start;
        SearchFolders(true);
        // A folder that does not answer holds up the search, and the
        // recording only as long as its own folder does not answer.
        if (start)
            QTimer::singleShot(kFolderWaitMs, this, [this] {
                if (!std::exchange(startAfterSearch_, false)) return;
                WriteLog(MsgTextOr(102,
                                   "The search for interrupted recordings has not ended: "
                                   "the recording starts without it"));
                ownCommandLineStart_ = true;
                StartCapture();
            });
        return;
    }
    ownCommandLineStart_ = start;
    if (start) StartCapture();
}

void MainWindow::ApplySettings() {
    if (camera_ && !Settings.AudioInputName.empty())
        if (const engine::AudioInputInfo inputs = camera_->ListAudioInputs(); inputs.names)
            Settings.AudioInputIndex = ChosenAudioInput(Settings, *inputs.names);
    // A command line's preset counts for its recording only: it changes a
    // copy, never what Options shows and the file keeps.
    const TSettings run =
        Settings.RunPreset ? RunSettings(Settings, PresetSurroundings()) : Settings;
    engineSettings_ = ToEngineSettings(run);
    engine::TScreenCamera::SetH264Preset(run.X264Preset);
    reportsAllowed_ = Settings.SendStats;
    CaptureArea = {engineSettings_.CaptureLeft, engineSettings_.CaptureTop,
                   engineSettings_.CaptureWidth, engineSettings_.CaptureHeight};
    if (camera_) CopyIntoEngine(engineSettings_, *camera_);
    ShowTrayAsSet();
}

PresetContext MainWindow::PresetSurroundings() const {
    PresetContext context;
    context.compressorNames = Settings.CompressorNames;
    if (!camera_) return context;
    const engine::AudioInputInfo inputs = camera_->ListAudioInputs();
    if (!inputs.names) return context;
    // The sound server's default source; the mixer's own choice without one.
    std::string microphone, monitor;
    camera_->DefaultAudioInputs(microphone, monitor);
    int input = inputs.selected;
    if (inputs.sources && !microphone.empty())
        if (const auto found =
                std::find(inputs.sources->begin(), inputs.sources->end(), microphone);
            found != inputs.sources->end())
            input = static_cast<int>(found - inputs.sources->begin());
    if (input >= 0 && input < static_cast<int>(inputs.names->size())) {
        context.defaultInput = input;
        context.defaultInputName = (*inputs.names)[static_cast<std::size_t>(input)];
    }
    return context;
}

bool MainWindow::SaveSettings() {
    const std::string file = SettingsFile();
    if (WriteSettings(Settings, file)) return true;
    ShowSaveFailure(file, {});
    return false;
}

void MainWindow::ShowSaveFailure(const std::string& file, const QString& lost) {
    const QString message =
        QStringLiteral("Unable to write to %1").arg(QString::fromStdString(file));
    WriteLog(lost.isEmpty() ? message : message + QStringLiteral(" - ") + lost);
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, this);
    box.setInformativeText(lost);
    box.exec();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // The docked panel follows the window.
    if (panel_ && panel_->isWindow() && panel_->isVisible()) DockPanel();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The frame around the recorded area stays up when the window goes down.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && camera_)
        camera_->AppMinimized();
}

// ------------------------------------------------------------ control handlers

void MainWindow::OptionsClicked() {
    if (TheOptionsDialog) TheOptionsDialog->exec();
}

void MainWindow::AboutClicked() {
    if (TheAboutDialog) TheAboutDialog->exec();
}

void MainWindow::AreaClicked() {
    selector_->ShowAreaSelector();
}

void MainWindow::AreaAccepted() {
    Settings.TypeCapture = 0;
    ShowCaptureMode();
}

void MainWindow::FullScreenClicked() {
    Settings.TypeCapture = 1;
    ShowCaptureMode();
    ShowFullScreenArea();
}

void MainWindow::ShowFullScreenArea() {
    // The chosen monitor at its offset: what a full-screen recording takes.
    const ScreenRect primary =
        GetFullScreenRect(Settings.FullScreenMonitor).value_or(GetPrimaryScreenRect());
    Settings.RegionTopPos = primary.top;
    Settings.RegionHeightPos = primary.height;
    Settings.RegionLeftPos = primary.left;
    Settings.RegionWidthPos = primary.width;
    panel_->ShowRegion(Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
                       Settings.RegionHeightPos);
}

void MainWindow::FolderClicked() {
    statusHeld_ = false;
    // The chooser opens in the folder in use only where that folder answers:
    // on a dead network mount the dialog would freeze with it.
    QString folder = QString::fromStdString(Settings.WorkDir);
    const std::string current = Settings.WorkDir;
    const auto there = AskFolder<bool>(
        current, kFolderAnswerMs,
        [folder] { return !folder.isEmpty() && QFileInfo(folder).isDir(); }, this, [](bool) {});
    if (!there || !*there) folder.clear();
    if (!BrowseForFolder(QStringLiteral("Select directory"), QStringLiteral("desktop"), folder,
                         false, false, true) ||
        folder.isEmpty())
        return;
    if (!folder.endsWith(u'/')) folder += u'/';
    TakeFolder(folder, FolderStep::Picked);
}

void MainWindow::FolderTyped() {
    // The user's own choice is answered, whatever result the line held.
    statusHeld_ = false;
    // Leaving the field untouched, or pressing Enter twice, types nothing.
    if (!folderEdit->isModified()) return;
    folderEdit->setModified(false);
    QString folder = folderEdit->text().trimmed();
    if (!folder.isEmpty() && !folder.endsWith(u'/')) folder += u'/';
    if (folder.toStdString() == Settings.WorkDir) {
        // The answer still to come for another folder typed before is no
        // longer wanted.
        ++folderChoiceId_;
        folderEdit->setText(folder);
        return;
    }
    if (folder.isEmpty()) {
        ++folderChoiceId_;
        WriteLog(FolderRefusedText(std::string(), "no folder given"));
        folderEdit->setText(FolderShown(Settings.WorkDir));
        return;
    }
    folderEdit->setText(folder);
    TakeFolder(folder, FolderStep::Typed);
}

void MainWindow::TakeFolder(const QString& folder, FolderStep step) {
    const std::uint64_t choice = ++folderChoiceId_;
    const std::string name = folder.toStdString();
    const bool create = step == FolderStep::Create;
    const auto check = AskFolder<FolderCheck>(
        name, kFolderAnswerMs, [name, create] { return CheckFolder(name, create); }, this,
        [this, folder, choice, step](const FolderCheck& late) {
            if (choice != folderChoiceId_) return;
            FolderChecked(folder, late, step);
            if (Settings.WorkDir == folder.toStdString())
                WriteLog(MsgTextOr(101, "The folder %1 answers: the recordings are saved there")
                             .arg(folder));
        });
    if (check) return FolderChecked(folder, *check, step);
    WriteLog(LogTextOr(69, "Recordings go to %2 until the folder answers: %1 does not answer")
                 .arg(folder, FolderShown(Settings.WorkDir)));
}

void MainWindow::FolderChecked(const QString& folder, const FolderCheck& check, FolderStep step) {
    if (!check.createError.empty())
        WriteLog(MsgTextOr(72, "The folder %1 cannot be created: %2")
                     .arg(folder, QString::fromStdString(check.createError)));
    // One typed that is not there yet the user may want made: made on the
    // folder's own thread too, and checked again.
    if (!check.refusal.empty() && step == FolderStep::Typed && !check.exists &&
        AskToCreateFolder(this, folder))
        return TakeFolder(folder, FolderStep::Create);
    if (!check.refusal.empty()) {
        // Refused as a picked folder is; the field goes back to the folder in use.
        WriteLog(FolderRefusedText(folder.toStdString(), check.refusal));
        folderEdit->setText(FolderShown(Settings.WorkDir));
        return;
    }
    Settings.WorkDir = folder.toStdString();
    folderEdit->setText(folder);
}

void MainWindow::PanelClicked() {
    if (panel_->isVisible()) {
        panel_->hide();
        if (!panel_->isWindow()) setFixedSize(kWindowSize);
        PointPanelButton(panelButton, false);
        return;
    }
    DockPanel();
    panel_->show();
    PointPanelButton(panelButton, true);
    ApplyLanguage();
    LanguageApplied();
}

void MainWindow::LanguageApplied() {
    // The language sets the Record caption; a running recording keeps Stop.
    if (recordingShown_) recordButton->setText(MsgTexts(2));
    ShowPauseState();
    ShowWindowAvailability();
    ShowMonitorChoice();
    // What is shown already, in the new language's words.
    if (shownFigures_) panel_->figuresLabel->setText(FiguresText(*shownFigures_));
    if (savedFileLink_->isVisible()) ShowSavedFile(savedPath_, savedSize_);
}

void MainWindow::WindowClicked() {
    recordAfterPick_ = false;
    if (platform::CurrentScreenBackend() == platform::ScreenBackend::X11) {
        if (!picker_->ShowPicker()) WriteLog(QStringLiteral("The windows cannot be listed"));
        return;
    }
    // The portal's own chooser asks at Record.
    Settings.TypeCapture = 2;
    Settings.CaptureWindow = 0;
    Settings.CaptureWindowTitle.clear();
    Settings.CaptureWindowClass.clear();
    ShowCaptureMode();
    SaveSettings();
}

void MainWindow::WindowPicked(const platform::TopLevelWindow& window) {
    Settings.TypeCapture = 2;
    Settings.CaptureWindow = window.client;
    Settings.CaptureWindowTitle = window.title;
    Settings.CaptureWindowClass = window.windowClass;
    ShowCaptureMode();
    SaveSettings();
    // Picked for a Record whose window had gone: that recording starts now.
    if (std::exchange(recordAfterPick_, false))
        QTimer::singleShot(0, this, [this] { StartCapture(); });
}

void MainWindow::ShowCaptureMode() {
    areaModeMark->setVisible(Settings.TypeCapture == 0);
    fullScreenModeMark->setVisible(Settings.TypeCapture == 1);
    windowModeMark->setVisible(Settings.TypeCapture == 2);
    if (!panel_) return;
    panel_->SetAreaEditsEnabled(Settings.TypeCapture == 0);
    if (Settings.TypeCapture != 2) {
        panel_->ShowCaptureWindow(std::nullopt);
        return;
    }
    // The size as the window has it now: what a recording would take.
    platform::TopLevelWindow shown;
    shown.title = Settings.CaptureWindowTitle;
    std::string error;
    if (platform::CurrentScreenBackend() != platform::ScreenBackend::X11)
        shown.title = MsgTexts(29).toStdString();
    else if (Settings.CaptureWindow != 0)
        if (const auto found =
                platform::findX11Window(std::to_string(Settings.CaptureWindow), error))
            shown = *found;
    panel_->ShowCaptureWindow(shown);
}

void MainWindow::ShowWindowAvailability() {
    if (!windowUnavailable_) {
        std::string reason;
        windowUnavailable_ = platform::WindowCaptureAvailable(reason) ? std::string() : reason;
        if (!windowUnavailable_->empty())
            WriteLog(QString::fromStdString("No window can be recorded: " + *windowUnavailable_));
    }
    const bool available = windowUnavailable_->empty();
    windowButton->setEnabled(available && !recordingShown_);
    if (!available) windowButton->setToolTip(MsgTexts(27));
}

void MainWindow::DockPanel() {
    if (panel_->isWindow()) {
        panel_->DockBeside(this);
        return;
    }
    // A panel inside widens the window, which grows to hold it above the
    // status line.
    setFixedSize(
        kWindowSize.width() + panel_->width(),
        std::max(kWindowSize.height(), panel_->height() + statusLine->sizeHint().height()));
}

void MainWindow::StartUpdateCheck() {
    updateCheckTimer->stop();
    if (Settings.SendStats && !servers_.site.isEmpty() && TheUpdateDialog)
        TheUpdateDialog->CheckForUpdate();
}

}  // namespace velmora
