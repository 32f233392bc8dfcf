#include "shell/Unit1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "common/ProgramFolder.h"
#include "platform/x11/HotKeys.h"
#include "shell/CommandLine.h"
#include "shell/EventLog.h"
#include "shell/HotKeyFilter.h"
#include "shell/Language.h"
#include "shell/Settings.h"

namespace velmora {
namespace {

// Identifiers of the two global hot keys.
constexpr int kStartCapturing = 1;
constexpr int kStopCapturing = 2;

template <typename T>
T* Make(QWidget* parent, const char* name, QRect geometry) {
    auto* w = new T(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

QToolButton* MakeToolButton(QWidget* parent, const char* name, const QString& text,
                            QRect geometry) {
    auto* b = Make<QToolButton>(parent, name, geometry);
    b->setText(text);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    return b;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    // Translated by every ApplyLanguage from here on, this one included.
    SetLanguageWindow(LanguageWindow::Main, this);
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    FormCreate();
}

TForm1::~TForm1() {
    hotKeys_.reset();  // ungrabs F9 and F10
    ProgramLog().SetStatusSink(nullptr);
    SetLanguageWindow(LanguageWindow::Main, nullptr);
}

void TForm1::CreateControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    setFixedSize(287, 204);

    // The images sit behind their buttons and mark the chosen capture type.
    Image1 = Make<QLabel>(client, "Image1", {6, 6, 108, 53});
    Image2 = Make<QLabel>(client, "Image2", {6, 62, 108, 53});
    for (QLabel* image : {Image1, Image2}) {
        image->setAutoFillBackground(true);
        image->setStyleSheet(QStringLiteral("background-color: rgba(255, 119, 164, 130);"));
    }
    Button4 = MakeToolButton(client, "Button4", QStringLiteral("Specific\nArea"), {6, 6, 108, 53});
    Button5 = MakeToolButton(client, "Button5", QStringLiteral("Full\nScreen"), {6, 62, 108, 53});
    Button1 = MakeToolButton(client, "Button1", QStringLiteral("Record (F9)"), {118, 6, 76, 53});
    Button3 = MakeToolButton(client, "Button3", QStringLiteral("Options"), {196, 6, 70, 53});
    AboutButton = MakeToolButton(client, "AboutButton", QString(), {118, 62, 38, 38});
    sSpeedButton1 = MakeToolButton(client, "sSpeedButton1", QString(), {228, 62, 38, 38});
    Label1 = Make<QLabel>(client, "Label1", {6, 118, 200, 16});
    Label1->setText(QStringLiteral("Save to folder:"));
    Edit8 = Make<QLineEdit>(client, "Edit8", {6, 134, 228, 22});
    Edit8->setReadOnly(true);
    Edit8->setText(QStringLiteral("Video.avi"));
    FilesButton = MakeToolButton(client, "FilesButton", QString(), {238, 132, 28, 26});
    sProgressBar1 = Make<QProgressBar>(client, "sProgressBar1", {6, 160, 190, 18});
    sProgressBar1->setRange(0, 100);
    sProgressBar1->setValue(0);
    sProgressBar1->setTextVisible(false);
    Button2 = Make<QPushButton>(client, "Button2", {200, 158, 66, 22});
    Button2->setText(QStringLiteral("Cancel"));
    Button2->setEnabled(false);
    sButton2 = MakeToolButton(client, "sButton2", QString(), {273, 0, 14, 177});
    sButton2->setText(QStringList(12, QStringLiteral(">")).join(u'\n'));
    QFont bold = sButton2->font();
    bold.setBold(true);
    sButton2->setFont(bold);

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
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer2->start();
}

void TForm1::FormCreate() {
    setWindowTitle(QStringLiteral("Velmora ") + QLatin1String(AppVersion));

    // The status text may come from the recording worker: it is always set on
    // this window's thread.
    QPointer<QLabel> panel = statusPanel_;
    ProgramLog().SetStatusSink([panel](const QString& text) {
        if (panel)
            QMetaObject::invokeMethod(panel, [panel, text] {
                if (panel) panel->setText(text);
            });
    });

    // The single-instance check ran before this window was made: a second
    // copy never gets here.
    const std::string settingsFile = SettingsFile();
    firstRun_ = !QFileInfo::exists(QString::fromStdString(settingsFile));

    Settings = ReadSettings(settingsFile, ProgramFolder());

    hotKeys_ = std::make_unique<HotKeyFilter>([this](int vk) { HotKeyPressed(vk); });
    // Another program may own a key: the buttons still work, so no message.
    const bool f9 = hotKeys_->Register(kStartCapturing, platform::kVkF9);
    const bool f10 = hotKeys_->Register(kStopCapturing, platform::kVkF10);
    hotKeysRegistered_ = f9 && f10;

    // The recording engine, its three event handlers and its compressor
    // catalogue join here; until then the name list is empty and CodecIndex
    // keeps what the file says.
    Settings.PriorityIndex = 3;
    Settings.CompressorNames.clear();
    if (Settings.CodecIndex == -1)
        Settings.CodecIndex = DefaultCompressorIndex(Settings.CompressorNames);

    Image1->setVisible(Settings.TypeCapture == 0);
    Image2->setVisible(Settings.TypeCapture != 0);
    Timer1->start();
    ApplyLanguage();
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
    recordRequested_ =
        ReadCommandLine(parameters, Settings, [] { WriteLog(LogTexts(1)); }) || recordRequested_;
    ApplySettings();
    // A requested recording starts here as the Record button starts one.
    Edit8->setText(QString::fromStdString(Settings.WorkDir));
}

void TForm1::ApplySettings() {
    engineSettings_ = ToEngineSettings(Settings);
    CaptureArea = {engineSettings_.CaptureLeft, engineSettings_.CaptureTop,
                   engineSettings_.CaptureWidth, engineSettings_.CaptureHeight};
    // With the engine created in FormCreate: CopyIntoEngine(engineSettings_, *camera).
}

bool TForm1::SaveSettings() {
    const std::string file = SettingsFile();
    if (WriteSettings(Settings, file)) return true;
    const QString message =
        QStringLiteral("Unable to write to %1").arg(QString::fromStdString(file));
    WriteLog(message);
    QMessageBox::critical(this, QCoreApplication::applicationName(), message);
    return false;
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Settings that cannot be saved keep the window open, so nothing is lost
    // without the user knowing.
    if (!SaveSettings()) {
        event->ignore();
        return;
    }
    event->accept();
}

void TForm1::HotKeyPressed(int /*virtualKey*/) {
    // F9 starts and F10 stops a recording once the window has its recording
    // control.
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    // The update check runs from here when Settings.SendStats allows it.
}

}  // namespace velmora
