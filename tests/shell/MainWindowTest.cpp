// The main window with its real engine on the private X server (1280 x 720,
// openbox): the recording states of its controls, the engine ending a
// recording by itself, Cancel during the merge, the docked panel, and the
// capture-type buttons. Each test runs in a temporary program folder.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <functional>
#include <set>

#include "common/ButtonImages.h"
#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "overlays/AreaPanel.h"
#include "overlays/AreaSelector.h"
#include "platform/x11/HotKeys.h"
#include "platform/x11/ScreenBackend.h"
#include "shell/MainWindow.h"
#include "shell/RecordingStatus.h"
#include "shell/StatusLine.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnv.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using velmora::test::Pause;
using velmora::test::Until;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);

class MainWindowTest : public testing::Test {
  protected:
    // A private session bus, set before anything reads the address (libdbus
    // reads it once): a test can put a scripted portal on it.
    static void SetUpTestSuite() {
        std::string address;
        bus_ = test::StartPrivateBus(address);
        ASSERT_GT(bus_, 0);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    static void TearDownTestSuite() { test::StopSpawned(bus_); }
    static inline pid_t bus_ = -1;

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QDir(dir_.path()).mkdir(QStringLiteral("Language"));
        QDir(dir_.path()).mkdir(QStringLiteral("out"));
        QFile::copy(kShipped + QStringLiteral("/English.lng"),
                    dir_.filePath(QStringLiteral("Language/English.lng")));
        QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(
            QStringLiteral("[SetupVideo]\nWorkDir=%1/\nTypeCapture=0\nRegionLeftPos=0\n"
                           "RegionTopPos=0\nRegionWidthPos=320\nRegionHeightPos=240\n"
                           "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n")
                .arg(dir_.filePath(QStringLiteral("out")))
                .toUtf8());
        setup.close();
        SetProgramFolder(dir_.path().toStdString() + "/");
        Settings = TSettings{};
        form_ = std::make_unique<MainWindow>();
    }
    void TearDown() override {
        form_.reset();
        SetProgramFolder("");
        Settings = TSettings{};
    }

    template <typename T>
    T* Control(const char* name) const {
        return form_->findChild<T*>(QLatin1String(name));
    }
    QToolButton* Button(const char* name) const { return Control<QToolButton>(name); }
    bool Recording() const { return form_->Camera()->Recording; }
    QString Log() const { return test::LogsIn(dir_.path()); }
    QStringList Recordings() const {
        return QDir(dir_.filePath(QStringLiteral("out")))
            .entryList({QStringLiteral("VideoRecord_*.avi")}, QDir::Files);
    }
    bool Merged() {
        return Until(
            [&] { return !form_->Camera()->WorkerRunning() && Log().contains(LogTexts(3)); });
    }
    // The controls as the state table has them.
    void ExpectIdle() const {
        EXPECT_EQ(Button("recordButton")->text(), MsgTexts(1));
        EXPECT_EQ(form_->RecordImage(), kImageRecord);
        for (const char* name : {"optionsButton", "areaButton", "fullScreenButton"})
            EXPECT_TRUE(Button(name)->isEnabled()) << name;
    }
    void ExpectRecording() const {
        EXPECT_EQ(Button("recordButton")->text(), MsgTexts(2));
        EXPECT_TRUE(form_->RecordImage() == kImageStop || form_->RecordImage() == kImageEmpty);
        for (const char* name : {"optionsButton", "areaButton", "fullScreenButton"})
            EXPECT_FALSE(Button(name)->isEnabled()) << name;
        EXPECT_FALSE(Control<QPushButton>("cancelMergeButton")->isEnabled());
    }

    // The program on a scripted portal (a mode of fake_screencast_portal.py),
    // its main window made anew (the engine opens its desktop when it is
    // made); the X server again when this goes, even when an assertion ends
    // the test: the portal holds ctest's output open.
    struct ScriptedPortal {
        pid_t portal;
        bool started;
        ScriptedPortal(MainWindowTest& fixture, const char* mode)
            : portal(test::Spawn({"/usr/bin/python3", VELMORA_FAKE_PORTAL, mode})),
              started(portal > 0) {
            Pause(1000);  // the portal owns its name
            fixture.form_.reset();
            platform::SetScreenBackend(platform::ScreenBackend::Portal);
            platform::SetOutputSize({0, 0, 1280, 720});
            fixture.form_ = std::make_unique<MainWindow>();
        }
        ~ScriptedPortal() {
            platform::SetScreenBackend(platform::ScreenBackend::X11);
            platform::SetOutputSize({});
            if (started) test::StopSpawned(portal);
        }
    };

    QTemporaryDir dir_;
    std::unique_ptr<MainWindow> form_;
};

TEST_F(MainWindowTest, RecordButtonAndHotKeysWalkTheStateTable) {
    form_->show();
    ExpectIdle();
    EXPECT_FALSE(Control<QPushButton>("cancelMergeButton")->isEnabled());
    form_->HotKeyPressed(platform::kVkF10);  // idle: nothing
    EXPECT_FALSE(Log().contains(QStringLiteral("VideoRecord_")));

    Button("recordButton")->click();
    ASSERT_TRUE(Recording());
    ExpectRecording();
    EXPECT_EQ(form_->RecordImage(), kImageStop);
    form_->BlinkRecordImage();
    EXPECT_EQ(form_->RecordImage(), kImageEmpty);
    form_->BlinkRecordImage();
    EXPECT_EQ(form_->RecordImage(), kImageStop);
    // The same two icons again and again: a new icon at each blink would
    // leave its renderings in the toolkit's pixmap cache, a megabyte a minute.
    std::set<qint64> shown;
    for (int i = 0; i < 20; ++i) {
        form_->BlinkRecordImage();
        shown.insert(Button("recordButton")->icon().cacheKey());
    }
    EXPECT_EQ(shown.size(), 2u);

    Pause(800);
    form_->HotKeyPressed(platform::kVkF9);  // recording: nothing
    EXPECT_EQ(Log().count(QStringLiteral(" - VideoRecord_")), 1);
    ExpectRecording();

    form_->HotKeyPressed(platform::kVkF10);
    ExpectIdle();  // before the merge has even started
    // Record waits for the merge, and F9 meanwhile says why nothing starts.
    ASSERT_TRUE(form_->Camera()->WorkerRunning());
    EXPECT_FALSE(Button("recordButton")->isEnabled());
    form_->HotKeyPressed(platform::kVkF9);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Control<QLabel>("StatusPanel")->text(), LogTexts(2));
    ASSERT_TRUE(Merged()) << Log().toStdString();
    ExpectIdle();
    EXPECT_TRUE(Button("recordButton")->isEnabled());
    EXPECT_EQ(Log().count(QStringLiteral(" - VideoRecord_")), 1);
    EXPECT_FALSE(Control<QPushButton>("cancelMergeButton")->isEnabled());
    EXPECT_EQ(Control<QProgressBar>("mergeProgressBar")->value(), 0);
    EXPECT_EQ(Recordings().size(), 1);
    form_->BlinkRecordImage();  // idle: no blinking
    EXPECT_EQ(form_->RecordImage(), kImageRecord);
}

// The Pause button stands in the Options button's place while recording;
// it, F11 and the commands of another copy pause and resume, and F10 stops a
// paused recording as any other.
TEST_F(MainWindowTest, PauseButtonF11AndCommandsPauseAndResumeAndF10StillStops) {
    form_->show();
    Button("panelButton")->click();
    QToolButton* pause = Button("pauseButton");
    EXPECT_FALSE(pause->isVisible());
    Button("recordButton")->click();
    ASSERT_TRUE(Recording());
    EXPECT_TRUE(pause->isVisible());
    EXPECT_FALSE(Button("optionsButton")->isVisible());
    EXPECT_EQ(pause->text(), MsgTexts(21));
    engine::TScreenCamera& camera = *form_->Camera();
    ASSERT_TRUE(Until([&] { return camera.FramesWritten > 2; }));

    pause->click();
    EXPECT_TRUE(camera.Paused);
    EXPECT_EQ(pause->text(), MsgTexts(22));
    EXPECT_TRUE(Log().contains(QStringLiteral("Recording paused at "))) << Log().toStdString();
    EXPECT_TRUE(Until(
        [&] { return form_->Panel()->figuresLabel->text().contains(QStringLiteral("(paused)")); }));
    // The stop square stands, and nothing more is written.
    form_->BlinkRecordImage();
    form_->BlinkRecordImage();
    EXPECT_EQ(form_->RecordImage(), kImageStop);
    const int written = camera.FramesWritten;
    Pause(600);
    EXPECT_EQ(camera.FramesWritten, written);

    form_->HotKeyPressed(platform::kVkF11);
    EXPECT_FALSE(camera.Paused);
    EXPECT_EQ(pause->text(), MsgTexts(21));
    EXPECT_TRUE(Until([&] { return camera.FramesWritten > written + 2; }));
    EXPECT_FALSE(form_->Panel()->figuresLabel->text().contains(QStringLiteral("(paused)")));

    form_->RemoteCommand("pause");
    form_->RemoteCommand("pause");  // paused already: nothing
    EXPECT_TRUE(camera.Paused);
    form_->RemoteCommand("pause-toggle");
    EXPECT_FALSE(camera.Paused);
    form_->RemoteCommand("resume");  // not paused: nothing
    EXPECT_EQ(Log().count(QStringLiteral("Recording paused at ")), 2);
    EXPECT_EQ(Log().count(QStringLiteral("Recording resumed")), 2);

    form_->HotKeyPressed(platform::kVkF11);
    ASSERT_TRUE(camera.Paused);
    form_->HotKeyPressed(platform::kVkF10);
    ExpectIdle();
    EXPECT_FALSE(pause->isVisible());
    EXPECT_TRUE(Button("optionsButton")->isVisible());
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_FALSE(camera.Paused);
    EXPECT_EQ(Recordings().size(), 1);
    form_->HotKeyPressed(platform::kVkF11);  // idle: nothing
    EXPECT_EQ(Log().count(QStringLiteral("Recording paused at ")), 3);
}

// F9 and F10 held by another program (or no X grab at all, as on Wayland):
// the keys still work while a window of ours has the focus.
TEST_F(MainWindowTest, HotKeysHeldElsewhereStillWorkWhileOurWindowHasTheFocus) {
    form_.reset();
    xcb_connection_t* other = xcb_connect(qgetenv("DISPLAY").constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    {
        platform::HotKeys keys(other);
        ASSERT_TRUE(keys.Register(1, platform::kVkF9));
        ASSERT_TRUE(keys.Register(2, platform::kVkF10));
        form_ = std::make_unique<MainWindow>();
        form_->show();
        form_->activateWindow();
        ASSERT_TRUE(Until([&] { return form_->isActiveWindow(); }));
        QTest::keyClick(form_.get(), Qt::Key_F9);
        ASSERT_TRUE(Until([&] { return Recording(); }));
        Pause(500);
        QTest::keyClick(form_.get(), Qt::Key_F10);
        EXPECT_FALSE(Recording());
        ASSERT_TRUE(Merged()) << Log().toStdString();
        form_.reset();
    }
    xcb_disconnect(other);
}

TEST_F(MainWindowTest, TheWindowFollowsTheEngineWhenTheTimeLimitEndsTheRecording) {
    Settings.RecordTimeEnabled = true;
    Settings.RecordSeconds = 1;
    form_->StartCapture();
    ASSERT_TRUE(Recording());
    ExpectRecording();
    ASSERT_TRUE(Until([&] { return Button("recordButton")->text() == MsgTexts(1); }));
    ExpectIdle();
    ASSERT_TRUE(Merged());
    EXPECT_TRUE(Button("recordButton")->isEnabled());
    EXPECT_EQ(Recordings().size(), 1);
    // The time limit is no failure: no box.
    Pause(200);
    EXPECT_EQ(form_->findChild<QMessageBox*>(QStringLiteral("RecordingFailure")), nullptr);
    // The summary line has the size that was recorded.
    EXPECT_TRUE(Log().contains(QStringLiteral("; 320x240; "))) << Log().toStdString();
}

TEST_F(MainWindowTest, RefusingTheCompressorQuestionEndsTheRecordingAndTheWindowFollows) {
    // No compressor chosen: the worker asks in a box owned by the window.
    Settings.CodecIndex = -1;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        EXPECT_EQ(box->parentWidget(), form_.get());
        box->button(QMessageBox::No)->click();
    });
    answer.start(20);
    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return Log().contains(QStringLiteral("User aborted!")); }));
    EXPECT_EQ(title, QStringLiteral("Notice"));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(Until([&] { return Button("recordButton")->text() == MsgTexts(1); }));
    ExpectIdle();
    EXPECT_TRUE(Recordings().isEmpty());
}

TEST_F(MainWindowTest, CancelDuringTheMergeKeepsTheRecordingAndSaysWhere) {
    // Cancel is pressed on the UI thread as soon as the merge first reports.
    engine::TScreenCamera& camera = *form_->Camera();
    auto report = camera.OnSaveProgress;
    std::atomic<bool> pressed{false};
    camera.OnSaveProgress = [&](engine::TScreenCamera* sender, std::int32_t percent, bool& go) {
        if (!pressed.exchange(true))
            QMetaObject::invokeMethod(
                form_.get(), [&] { form_->CancelMergeClicked(); }, Qt::BlockingQueuedConnection);
        report(sender, percent, go);
    };
    form_->StartCapture();
    Pause(1000);
    form_->StopCapture();
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
    const QString log = Log();
    const qsizetype cancelled = log.indexOf(LogTexts(4));
    ASSERT_GE(cancelled, 0) << log.toStdString();
    EXPECT_LT(log.indexOf(LogTexts(3), cancelled), 0) << log.toStdString();
    EXPECT_GT(log.indexOf(QStringLiteral("Recording kept in: "), cancelled), cancelled)
        << log.toStdString();
    Pause(100);
    EXPECT_EQ(Control<QProgressBar>("mergeProgressBar")->value(), 0);
    EXPECT_FALSE(Control<QPushButton>("cancelMergeButton")->isEnabled());
    EXPECT_FALSE(log.contains(QStringLiteral("Recorded with"))) << log.toStdString();
    // No part of a file under the recording's name, only the whole recording
    // kept beside it, which the next start offers.
    for (const QString& file : Recordings())
        EXPECT_TRUE(file.endsWith(QStringLiteral("_video.avi"))) << file.toStdString();
    EXPECT_EQ(camera.FindInterruptedRecordings(Settings.WorkDir).size(), 1u);
}

// Answers the message box named box once it shows, with the button named
// button, or with Enter (its default) when button is empty.
class Answer {
  public:
    Answer(const char* box, const char* button = "") {
        QObject::connect(
            &timer_, &QTimer::timeout,
            [this, box = QString::fromLatin1(box), button = QString::fromLatin1(button)] {
                auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!shown || shown->objectName() != box) return;
                timer_.stop();
                text_ = shown->text() + u' ' + shown->informativeText();
                if (button.isEmpty())
                    QTest::keyClick(shown, Qt::Key_Return);
                else
                    shown->findChild<QPushButton*>(button)->click();
            });
        timer_.start(20);
    }
    bool Given() const { return !timer_.isActive(); }
    const QString& Text() const { return text_; }

  private:
    QTimer timer_;
    QString text_;
};

TEST_F(MainWindowTest, ExitDuringARecordingAsksAndItsDefaultSavesTheRecordingAndExits) {
    form_->show();
    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return form_->Camera()->FramesWritten > 0; }));
    Answer question("ExitQuestion");
    form_->ExitClicked();
    ASSERT_TRUE(question.Given());
    // It says what happens, and where the file goes.
    EXPECT_TRUE(question.Text().contains(MsgTexts(51))) << question.Text().toStdString();
    EXPECT_TRUE(question.Text().contains(QString::fromStdString(form_->Camera()->TargetFile())));
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning() && !form_->isVisible(); }))
        << Log().toStdString();
    const QString log = Log();
    EXPECT_TRUE(log.contains(LogTexts(53))) << log.toStdString();
    EXPECT_TRUE(log.contains(LogTexts(3))) << log.toStdString();
    EXPECT_EQ(Recordings().size(), 1);
    EXPECT_TRUE(form_->Camera()->FindInterruptedRecordings(Settings.WorkDir).empty());
}

TEST_F(MainWindowTest, ExitCanKeepRecordingAndDiscardsOnlyWhenAskedTwice) {
    form_->show();
    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return form_->Camera()->FramesWritten > 0; }));
    {
        Answer keep("ExitQuestion", "keepRecordingButton");
        form_->ExitClicked();
        ASSERT_TRUE(keep.Given());
    }
    EXPECT_TRUE(Recording());
    {
        Answer discard("ExitQuestion", "discardButton");
        Answer back("DiscardQuestion", "backButton");
        form_->ExitClicked();
        ASSERT_TRUE(back.Given());
    }
    EXPECT_TRUE(Recording());
    EXPECT_TRUE(form_->isVisible());
    Answer discard("ExitQuestion", "discardButton");
    Answer remove("DiscardQuestion", "deleteButton");
    form_->ExitClicked();
    ASSERT_TRUE(remove.Given());
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning() && !form_->isVisible(); }))
        << Log().toStdString();
    EXPECT_TRUE(Log().contains(LogTexts(54))) << Log().toStdString();
    EXPECT_TRUE(Recordings().isEmpty());
    EXPECT_TRUE(QDir(dir_.filePath(QStringLiteral("out"))).isEmpty()) << Log().toStdString();
    EXPECT_TRUE(form_->Camera()->FindInterruptedRecordings(Settings.WorkDir).empty());
}

TEST_F(MainWindowTest, ARecordingThatEndsWhileExitAsksClosesTheQuestionAndIsSaved) {
    form_->show();
    Settings.RecordTimeEnabled = true;
    Settings.RecordSeconds = 1;
    form_->StartCapture();
    ASSERT_TRUE(Recording());
    bool asked = false;
    QTimer::singleShot(0, [&] {
        asked = QApplication::activeModalWidget() &&
                QApplication::activeModalWidget()->objectName() == QStringLiteral("ExitQuestion");
    });
    form_->ExitClicked();  // returns once the time limit has closed it
    EXPECT_TRUE(asked);
    EXPECT_FALSE(Recording());
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(Recordings().size(), 1);
}

TEST_F(MainWindowTest, ClosingDuringARecordingStopsItAndClosesOnceItIsSaved) {
    form_->show();
    form_->StartCapture();
    Pause(1000);
    form_->close();
    // Still there while the recording is merged.
    EXPECT_TRUE(form_->isVisible());
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning() && !form_->isVisible(); }))
        << Log().toStdString();
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "The window was closed: the recording is stopped and saved before the exit")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(LogTexts(3))) << log.toStdString();
    EXPECT_EQ(Recordings().size(), 1);
    EXPECT_TRUE(form_->Camera()->FindInterruptedRecordings(Settings.WorkDir).empty());
}

TEST_F(MainWindowTest, ASignalWhileAClosedWindowWaitsForTheMergeStillSavesTheRecording) {
    form_->show();
    form_->StartCapture();
    Pause(1000);
    form_->close();
    // A logout's SIGTERM comes on top: the first signal waits as ever; only a
    // second one gives the merge up.
    form_->QuitRequested(QStringLiteral("SIGTERM"));
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning() && !form_->isVisible(); }))
        << Log().toStdString();
    EXPECT_TRUE(Log().contains(LogTexts(3))) << Log().toStdString();
    EXPECT_EQ(Recordings().size(), 1) << Log().toStdString();
}

TEST_F(MainWindowTest, ASecondSignalWithNothingRecordedGivesNothingUp) {
    form_->show();
    form_->QuitRequested(QStringLiteral("SIGTERM"));
    form_->QuitRequested(QStringLiteral("SIGTERM"));
    ASSERT_TRUE(Until([&] { return !form_->isVisible(); })) << Log().toStdString();
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("SIGTERM: exit"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("SIGTERM again: exit"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("given up"))) << log.toStdString();
}

TEST_F(MainWindowTest, PanelDocksAtTheRightEdgeFollowsMovesAndShowsTheLiveFigures) {
    form_->move(100, 100);
    form_->show();
    ASSERT_TRUE(Until([&] { return form_->frameGeometry().y() > 0 && form_->isActiveWindow(); }));
    AreaPanel* panel = form_->Panel();
    const auto docked = [&] {
        const QRect main = form_->frameGeometry();
        const QRect side = panel->frameGeometry();
        return side.x() == main.x() + main.width() && side.y() == main.y();
    };

    Button("panelButton")->click();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(Button("panelButton")->arrowType(), Qt::LeftArrow);
    EXPECT_TRUE(Until(docked)) << panel->frameGeometry().x() << " " << form_->frameGeometry().x();

    form_->move(300, 160);
    EXPECT_TRUE(Until([&] { return form_->frameGeometry().x() != 100 && docked(); }));

    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return panel->figuresLabel->text().count(u'\n') == 4; }));
    const QStringList lines = panel->figuresLabel->text().split(u'\n');
    EXPECT_TRUE(lines[0].startsWith(MsgTexts(3) + QStringLiteral(": ")));
    EXPECT_TRUE(lines[3].startsWith(MsgTexts(6) + QStringLiteral(": ")));

    // Opening the panel again re-reads the language; Stop keeps its caption.
    Button("panelButton")->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(Button("panelButton")->arrowType(), Qt::RightArrow);
    Button("panelButton")->click();
    ExpectRecording();
    form_->StopCapture();
    ASSERT_TRUE(Merged());

    // Closed by its own close button, the panel is gone and the strip says so.
    ASSERT_TRUE(panel->isVisible());
    ASSERT_TRUE(panel->close());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(Button("panelButton")->arrowType(), Qt::RightArrow);
    Button("panelButton")->click();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(Button("panelButton")->arrowType(), Qt::LeftArrow);
}

TEST_F(MainWindowTest, CaptureTypeButtonsSetTheAreaAndThePanelsEdits) {
    AreaPanel* panel = form_->Panel();
    form_->show();
    Button("fullScreenButton")->click();
    EXPECT_EQ(Settings.TypeCapture, 1);
    EXPECT_FALSE(Control<QLabel>("areaModeMark")->isVisible());
    EXPECT_TRUE(Control<QLabel>("fullScreenModeMark")->isVisible());
    EXPECT_EQ(Settings.RegionLeftPos, 0);
    EXPECT_EQ(Settings.RegionTopPos, 0);
    EXPECT_EQ(Settings.RegionWidthPos, 1280);
    EXPECT_EQ(Settings.RegionHeightPos, 720);
    EXPECT_EQ(panel->widthEdit->value(), 1280);
    EXPECT_EQ(panel->heightEdit->value(), 720);
    EXPECT_FALSE(panel->topEdit->isEnabled());

    // Specific Area opens the selector; Escape (the main window's hot key
    // now) closes it and keeps the area and the mode: the next F9 records
    // the full screen still.
    Button("areaButton")->click();
    AreaSelector* selector = form_->Selector();
    ASSERT_TRUE(Until([&] { return selector->IsShowing() && selector->IsActive(); }));
    EXPECT_EQ(selector->ScreenShot.size(), QSize(1280, 720));
    ASSERT_EQ(test::run("xdotool mousemove 20 30 sleep 0.1 mousedown 1 sleep 0.1 mousemove 180 130 "
                        "sleep 0.1 mouseup 1 sleep 0.1 key Escape"),
              0);
    ASSERT_TRUE(Until([&] { return !selector->IsShowing(); }));
    EXPECT_EQ(Settings.RegionWidthPos, 1280);
    EXPECT_EQ(Settings.TypeCapture, 1);
    EXPECT_FALSE(Control<QLabel>("areaModeMark")->isVisible());
    EXPECT_TRUE(Control<QLabel>("fullScreenModeMark")->isVisible());
    EXPECT_FALSE(panel->topEdit->isEnabled());

    // Enter stores what was dragged and saves it.
    Button("areaButton")->click();
    ASSERT_TRUE(Until([&] { return selector->IsShowing() && selector->IsActive(); }));
    ASSERT_EQ(test::run("xdotool mousemove 20 30 sleep 0.1 mousedown 1 sleep 0.1 mousemove 100 90 "
                        "sleep 0.1 mousemove 180 130 sleep 0.1 mouseup 1 sleep 0.1 key Return"),
              0);
    ASSERT_TRUE(Until([&] { return !selector->IsShowing(); }));
    EXPECT_EQ(Settings.RegionLeftPos, 20);
    EXPECT_EQ(Settings.RegionTopPos, 30);
    EXPECT_EQ(Settings.RegionWidthPos, 160);
    EXPECT_EQ(Settings.RegionHeightPos, 96);
    EXPECT_EQ(panel->widthEdit->value(), 160);
    EXPECT_EQ(Settings.TypeCapture, 0);
    EXPECT_TRUE(Control<QLabel>("areaModeMark")->isVisible());
    EXPECT_FALSE(Control<QLabel>("fullScreenModeMark")->isVisible());
    EXPECT_TRUE(panel->topEdit->isEnabled());
    QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(setup.readAll());
    EXPECT_TRUE(saved.contains(QStringLiteral("RegionWidthPos=160"))) << saved.toStdString();
    EXPECT_TRUE(saved.contains(QStringLiteral("TypeCapture=0"))) << saved.toStdString();
}

TEST_F(MainWindowTest, WindowButtonPicksTheClickedWindowAndEscapeKeepsTheMode) {
    AreaPanel* panel = form_->Panel();
    form_->show();
    Button("fullScreenButton")->click();
    ASSERT_TRUE(Until([&] { return form_->windowHandle() && form_->windowHandle()->isExposed(); }));
    Pause(300);
    const auto pickerShown = [] {
        return !test::capture("xdotool search --onlyvisible --name '^Window selection$'").empty();
    };
    ASSERT_TRUE(Button("windowButton")->isEnabled());
    Button("windowButton")->click();
    ASSERT_TRUE(Until(pickerShown));
    Pause(300);
    test::run("xdotool key Escape");
    ASSERT_TRUE(Until([&] { return !pickerShown(); }));
    EXPECT_EQ(Settings.TypeCapture, 1);
    EXPECT_TRUE(Control<QLabel>("fullScreenModeMark")->isVisible());

    // The main window itself is a window like any other.
    Button("windowButton")->click();
    ASSERT_TRUE(Until(pickerShown));
    Pause(300);
    const QPoint inside = form_->geometry().center();
    test::run("xdotool mousemove " + std::to_string(inside.x()) + " " + std::to_string(inside.y()) +
              " sleep 0.2 click 1");
    ASSERT_TRUE(Until([&] { return Settings.TypeCapture == 2; }));
    EXPECT_FALSE(pickerShown());
    EXPECT_EQ(Settings.CaptureWindow, form_->winId());
    EXPECT_EQ(Settings.CaptureWindowTitle, "Velmora 1.0.4");
    EXPECT_TRUE(Control<QLabel>("windowModeMark")->isVisible());
    EXPECT_FALSE(Control<QLabel>("fullScreenModeMark")->isVisible());
    EXPECT_FALSE(Control<QLabel>("areaModeMark")->isVisible());
    // The panel names it with its size in place of the area's numbers.
    EXPECT_FALSE(panel->topEdit->isVisibleTo(panel));
    EXPECT_TRUE(panel->windowLabel->isVisibleTo(panel));
    const QSize size = form_->size();  // scale 1: logical are X pixels
    EXPECT_TRUE(panel->windowLabel->text().endsWith(
        QStringLiteral("Velmora 1.0.4\n%1 x %2 px").arg(size.width()).arg(size.height())))
        << panel->windowLabel->text().toStdString();
    QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(setup.readAll()).contains(QStringLiteral("TypeCapture=2")));

    // Back to an area: its numbers again.
    Button("fullScreenButton")->click();
    EXPECT_TRUE(panel->topEdit->isVisibleTo(panel));
    EXPECT_FALSE(panel->windowLabel->isVisibleTo(panel));
}

TEST_F(MainWindowTest, ARecordedWindowThatHasGoneMakesRecordAskForAnother) {
    form_->show();
    ASSERT_TRUE(Until([&] { return form_->windowHandle() && form_->windowHandle()->isExposed(); }));
    // Another window to pick, away from the main window.
    QWidget notes;
    notes.setWindowTitle(QStringLiteral("Notes"));
    notes.setGeometry(60, 400, 320, 200);
    notes.show();
    ASSERT_TRUE(Until([&] { return notes.windowHandle() && notes.windowHandle()->isExposed(); }));
    // Picked in an earlier session, closed since.
    Settings.TypeCapture = 2;
    Settings.CaptureWindow = 0x3ffff01;
    Settings.CaptureWindowTitle = "Notes - editor";
    const auto pickerShown = [] {
        return !test::capture("xdotool search --onlyvisible --name '^Window selection$'").empty();
    };
    form_->HotKeyPressed(platform::kVkF9);
    EXPECT_FALSE(Recording());
    ASSERT_TRUE(Until(pickerShown));
    EXPECT_TRUE(Log().contains(MsgTexts(67).arg(QStringLiteral("Notes - editor"))))
        << Log().toStdString();
    EXPECT_FALSE(Log().contains(QStringLiteral("is not shown"))) << Log().toStdString();
    // The window picked is recorded at once.
    Pause(300);
    const QPoint inside = notes.geometry().center();
    test::run("xdotool mousemove " + std::to_string(inside.x()) + " " + std::to_string(inside.y()) +
              " sleep 0.2 click 1");
    ASSERT_TRUE(Until([&] { return Recording(); })) << Log().toStdString();
    EXPECT_EQ(Settings.CaptureWindow, notes.winId());
    ASSERT_TRUE(Until([&] { return form_->Camera()->FramesWritten > 0; })) << Log().toStdString();
    form_->StopCapture();
    ASSERT_TRUE(Merged()) << Log().toStdString();
}

TEST_F(MainWindowTest, TheTimeRecordedShowsBesideStopAndInTheTitleAndTheSavedFileAfter) {
    form_->show();
    const QString idle = form_->windowTitle();
    const QString program = QStringLiteral(" - ") + QCoreApplication::applicationName();
    form_->StartCapture();
    ASSERT_TRUE(Recording());
    auto* elapsed = Control<QLabel>("elapsedLabel");
    EXPECT_TRUE(elapsed->isVisible());
    EXPECT_FALSE(Button("aboutButton")->isVisible());
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("\u25CF 0:0")))
        << form_->windowTitle().toStdString();
    EXPECT_TRUE(form_->windowTitle().endsWith(program));
    // It counts: one second on.
    ASSERT_TRUE(Until([&] { return elapsed->text() == QStringLiteral("0:01"); }, 5000));
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("\u25CF 0:01")));
    form_->PauseCapture();
    EXPECT_TRUE(form_->windowTitle().startsWith(QStringLiteral("\u275A\u275A 0:0")))
        << form_->windowTitle().toStdString();
    form_->StopCapture();
    EXPECT_EQ(form_->windowTitle(), idle);
    EXPECT_FALSE(elapsed->isVisible());
    EXPECT_TRUE(Button("aboutButton")->isVisible());
    ASSERT_TRUE(Merged()) << Log().toStdString();

    // The status line names the file, a link to it, with its length and
    // size; the whole result line is in the tooltip.
    auto* saved = Control<QLabel>("savedFileLink");
    ASSERT_TRUE(Until([&] { return saved->isVisible(); })) << Log().toStdString();
    ASSERT_EQ(Recordings().size(), 1);
    const QString file = Recordings().front();
    EXPECT_TRUE(saved->text().startsWith(QStringLiteral("Saved: <a href=\"file://")))
        << saved->text().toStdString();
    EXPECT_TRUE(saved->text().contains(QStringLiteral("/out/") + file + QStringLiteral("\">")))
        << saved->text().toStdString();
    EXPECT_TRUE(saved->text().contains(QStringLiteral("</a> (1 s, ")))
        << saved->text().toStdString();
    const qint64 bytes = QFileInfo(dir_.filePath(QStringLiteral("out/") + file)).size();
    EXPECT_TRUE(saved->text().contains(FileSizeText(bytes, QLocale()) + u')'))
        << saved->text().toStdString();
    EXPECT_TRUE(saved->toolTip().contains(MsgTexts(12))) << saved->toolTip().toStdString();
    EXPECT_FALSE(Control<QLabel>("StatusPanel")->isVisible());
    // The next text takes its place.
    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return !saved->isVisible(); }));
    form_->StopCapture();
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
}

TEST_F(MainWindowTest, ThePanelAndTheResultLineShowTheAreaAsItIsRecorded) {
    // Partly off the screen and of an odd width: moved back onto it, and
    // recorded a pixel wider by Xvid.
    Settings.RegionLeftPos = 1100;
    Settings.RegionWidthPos = 321;
    form_->StartCapture();
    ASSERT_TRUE(Until([&] { return form_->Camera()->FramesWritten > 0; }));
    AreaPanel* panel = form_->Panel();
    const int left = form_->Camera()->Left, width = static_cast<int>(form_->Camera()->ActualWidth);
    EXPECT_NE(left, 1100);
    EXPECT_NE(width, 321);
    ASSERT_TRUE(Until([&] { return panel->leftEdit->value() == left; }));
    EXPECT_EQ(panel->widthEdit->value(), width);
    form_->StopCapture();
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_TRUE(Log().contains(QStringLiteral("; %1x240; ").arg(width))) << Log().toStdString();

    // Full-screen mode at start shows the screen, not a stored area.
    form_.reset();
    QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::ReadOnly));
    QByteArray text = setup.readAll();
    setup.close();
    text.replace("TypeCapture=0", "TypeCapture=1");
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly | QIODevice::Truncate));
    setup.write(text);
    setup.close();
    Settings = TSettings{};
    form_ = std::make_unique<MainWindow>();
    EXPECT_EQ(form_->Panel()->widthEdit->value(), 1280);
    EXPECT_EQ(form_->Panel()->heightEdit->value(), 720);
}

// A reply's HTML (an update check behind a captive portal) is shown as it
// was written, on one line, and does not push the controls above aside.
TEST_F(MainWindowTest, StatusTextsShowAsWrittenOnOneLine) {
    form_->show();
    QLabel* status = Control<QLabel>("StatusPanel");
    WriteLog(QStringLiteral("Ready"));
    ASSERT_TRUE(Until([&] { return status->text() == QStringLiteral("Ready"); }));
    const int oneLine = status->sizeHint().height();

    const QString reply =
        QStringLiteral("Update check: <html><body><h1>Sign in</h1>\n<p>to the network</p>");
    WriteLog(reply);
    ASSERT_TRUE(Until([&] { return status->text().startsWith(QStringLiteral("Update")); }));
    EXPECT_EQ(status->text(),
              QStringLiteral("Update check: <html><body><h1>Sign in</h1> <p>to the network</p>"));
    EXPECT_EQ(status->sizeHint().height(), oneLine);
    // The tooltip shows it all, as written too.
    QTextDocument tip;
    tip.setHtml(status->toolTip());
    EXPECT_EQ(tip.toPlainText(), reply);
}

// A button that shows only an icon says what it does on hover, in the
// language shown.
TEST_F(MainWindowTest, IconButtonsHaveTooltipsInEachLanguage) {
    for (const char* name : {"German", "Russian"})
        QFile::copy(kShipped + u'/' + QLatin1String(name) + QStringLiteral(".lng"),
                    dir_.filePath(QStringLiteral("Language/%1.lng").arg(QLatin1String(name))));
    std::map<QString, QStringList> tips;  // button: its tooltip in each language
    for (const char* language : {"English", "German", "Russian"}) {
        Settings.Language = language;
        ApplyLanguage();
        for (QToolButton* b : form_->findChildren<QToolButton*>()) {
            // The panel's strip shows only arrows.
            const bool iconOnly = b->toolButtonStyle() == Qt::ToolButtonIconOnly ||
                                  b->text().isEmpty() || b->objectName() == u"panelButton";
            if (!iconOnly) continue;
            EXPECT_FALSE(b->toolTip().isEmpty())
                << language << " " << b->objectName().toStdString();
            tips[b->objectName()] << b->toolTip();
        }
    }
    for (const char* name : {"aboutButton", "exitButton", "folderButton", "panelButton"})
        ASSERT_EQ(tips[QLatin1String(name)].size(), 3) << name;
    for (const auto& [name, texts] : tips) {
        EXPECT_NE(texts[1], texts[0]) << name.toStdString() << " German";
        EXPECT_NE(texts[2], texts[0]) << name.toStdString() << " Russian";
    }
}

// The folder field takes a typed folder on Enter; one the program refuses
// is refused as a picked one is, and the field shows the folder in use.
TEST_F(MainWindowTest, AFolderTypedIsUsedAndARefusedOneIsSaidAndUndone) {
    form_->show();
    auto* field = Control<QLineEdit>("folderEdit");
    ASSERT_FALSE(field->isReadOnly());
    const std::string before = Settings.WorkDir;
    ASSERT_EQ(field->text().toStdString(), before);
    const auto type = [&](const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };

    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("typed")));
    const QString typed = dir_.filePath(QStringLiteral("typed"));
    type(typed);  // without the closing '/'
    EXPECT_EQ(Settings.WorkDir, (typed + u'/').toStdString());
    EXPECT_EQ(field->text(), typed + u'/');

    for (const QString& refused : {QStringLiteral("/proc/"), QString()}) {
        type(refused);
        EXPECT_EQ(Settings.WorkDir, (typed + u'/').toStdString()) << refused.toStdString();
        EXPECT_EQ(field->text(), typed + u'/');
    }
    const QString log = Log();
    EXPECT_TRUE(log.contains(QStringLiteral("The folder cannot be used for recordings: /proc/")))
        << log.toStdString();

    // A folder that is not there: the window asks whether to make it.
    const QString missing = dir_.filePath(QStringLiteral("missing/deeper/"));
    {
        Answer no("CreateFolderQuestion", "keepFolderButton");
        type(missing);
        ASSERT_TRUE(no.Given());
        EXPECT_TRUE(no.Text().contains(missing)) << no.Text().toStdString();
    }
    EXPECT_EQ(Settings.WorkDir, (typed + u'/').toStdString());
    EXPECT_EQ(field->text(), typed + u'/');
    EXPECT_FALSE(QFileInfo::exists(missing));
    {
        Answer yes("CreateFolderQuestion", "createFolderButton");
        type(missing);
        ASSERT_TRUE(yes.Given());
    }
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(Settings.WorkDir, missing.toStdString());
    EXPECT_EQ(field->text(), missing);
    type(typed);

    // A recording goes to the typed folder.
    Button("recordButton")->click();
    ASSERT_TRUE(Recording());
    Pause(300);
    Button("recordButton")->click();
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_EQ(QDir(typed).entryList({QStringLiteral("VideoRecord_*.avi")}, QDir::Files).size(), 1);

    // The recording's result on the status line gives way to the answer to
    // the user's next choice.
    type(QStringLiteral("/proc/"));
    auto* status = Control<QLabel>("StatusPanel");
    EXPECT_TRUE(Until([&] { return status->toolTip().contains(QStringLiteral("/proc/")); }))
        << status->toolTip().toStdString();
}

TEST_F(MainWindowTest, TheFolderFieldShowsWhereACommandLinesPathSavesTheFiles) {
    const QString out = dir_.filePath(QStringLiteral("out"));
    auto* field = Control<QLineEdit>("folderEdit");
    // Another copy's command line, without -vc: nothing starts.
    form_->RunCommand("start", {"path=" + out.toStdString()});
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Settings.WorkDir, out.toStdString() + "/");
    EXPECT_EQ(field->text(), out + u'/');
    // No such folder: a prefix of the names, in the folder shown.
    form_->RunCommand("start", {"path=" + out.toStdString() + "/demo-"});
    EXPECT_EQ(Settings.WorkDir, out.toStdString() + "/demo-");
    EXPECT_EQ(field->text(), out + u'/');
    EXPECT_TRUE(Log().contains(
        LogTexts(52).arg(out + QStringLiteral("/demo-"), out + u'/', QStringLiteral("demo-"))))
        << Log().toStdString();
}

// A recording the engine cannot even begin (a system folder in the settings)
// says why in one box, and the status line keeps the reason in view.
TEST_F(MainWindowTest, AnErrorThatEndsARecordingShowsOneBoxAndItsReason) {
    form_.reset();
    QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly | QIODevice::Truncate));
    setup.write(
        "[SetupVideo]\nWorkDir=/dev/\nTypeCapture=0\nRegionWidthPos=320\n"
        "RegionHeightPos=240\n[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\n"
        "SendStats=0\n");
    setup.close();
    Settings = TSettings{};
    form_ = std::make_unique<MainWindow>();
    form_->show();
    const auto boxes = [&] {
        int shown = 0;
        for (auto* box : form_->findChildren<QMessageBox*>(QStringLiteral("RecordingFailure")))
            if (box->isVisible()) ++shown;
        return shown;
    };
    const QString reason = QStringLiteral("Not a folder for files (a system folder)");
    // The status line keeps a reason whole; the folder before it goes first.
    auto* status = static_cast<StatusLabel*>(Control<QLabel>("StatusPanel"));
    WriteLog(QStringLiteral("Error on create AVI file. /home/somebody/Videos/recordings/of/this/"
                            "week/: ") +
             reason);
    ASSERT_TRUE(Until([&] { return status->text().startsWith(QStringLiteral("Error on")); }));
    const QString shown = status->ShownText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Error"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(reason)) << shown.toStdString();
    EXPECT_LE(status->fontMetrics().horizontalAdvance(shown), status->contentsRect().width());
    EXPECT_TRUE(status->toolTip().contains(QStringLiteral("/of/this/week/")));
    for (int attempt = 0; attempt < 2; ++attempt) {
        Button("recordButton")->click();
        ASSERT_TRUE(Until([&] { return boxes() == 1; })) << Log().toStdString();
        ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
        Pause(200);
        EXPECT_EQ(boxes(), 1);  // one box for the run, the second run's too
        auto* box = form_->findChild<QMessageBox*>(QStringLiteral("RecordingFailure"));
        EXPECT_TRUE(
            box->text().contains(QStringLiteral("Error on create AVI file. /dev/: ") + reason))
            << box->text().toStdString();
        // Nothing was recorded: the box says it did not start, not that it stopped.
        EXPECT_TRUE(box->text().startsWith(QStringLiteral("The recording did not start:")))
            << box->text().toStdString();
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        ExpectIdle();
    }
    EXPECT_TRUE(Recordings().isEmpty());
}

// On Wayland the Window button depends on the portal: off, saying why, where
// it offers monitors only (as xdg-desktop-portal-wlr does); where it offers
// windows, a press records a window the desktop's dialog will ask for.
TEST_F(MainWindowTest, OnThePortalTheWindowButtonFollowsItsSourceTypes) {
    for (const char* mode : {"refuse:monitors", "refuse"}) {
        SCOPED_TRACE(mode);
        const auto logged = Log().size();
        const ScriptedPortal portal(*this, mode);
        ASSERT_TRUE(portal.started);
        form_->show();
        QToolButton* window = Button("windowButton");
        const bool offered = std::string(mode) == "refuse";
        EXPECT_EQ(window->isEnabled(), offered);
        EXPECT_EQ(window->toolTip() == MsgTexts(27), !offered) << window->toolTip().toStdString();
        EXPECT_EQ(Log().mid(logged).contains(QStringLiteral("No window can be recorded")),
                  !offered);
        if (!offered) continue;
        window->click();
        EXPECT_EQ(Settings.TypeCapture, 2);
        EXPECT_TRUE(Control<QLabel>("windowModeMark")->isVisible());
        EXPECT_TRUE(form_->Panel()->windowLabel->text().contains(MsgTexts(29)));
    }
}

// Where the desktop refuses its screen (a scripted portal on a private bus):
// the reason is in the failure box and in the status line, and a later log
// text (the update check's) leaves the line alone until the next recording.
TEST_F(MainWindowTest, ARefusedScreenSaysWhyInABoxAndTheStatusLineKeepsIt) {
    const ScriptedPortal portal(*this, "refuse");
    ASSERT_TRUE(portal.started);
    form_->show();
    auto* status = Control<QLabel>("StatusPanel");
    Button("recordButton")->click();
    ASSERT_TRUE(Until([&] {
        auto* box = form_->findChild<QMessageBox*>(QStringLiteral("RecordingFailure"));
        return box && box->isVisible();
    })) << Log().toStdString();
    const QString refused = QStringLiteral("refused by the desktop");
    EXPECT_TRUE(form_->findChild<QMessageBox*>(QStringLiteral("RecordingFailure"))
                    ->text()
                    .contains(refused));
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
    Pause(200);
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("The recording did not start:")))
        << status->text().toStdString();
    EXPECT_TRUE(status->text().contains(refused)) << status->text().toStdString();

    WriteLog(QStringLiteral("Checking for updates - 9.9"));
    Pause(300);
    EXPECT_TRUE(status->text().contains(refused)) << status->text().toStdString();
    EXPECT_TRUE(Log().contains(QStringLiteral("Checking for updates - 9.9")));
}

// The desktop asks the user whether to share the screen before the selector
// has its picture (a scripted portal that answers after 1.5 s): the window
// goes on running meanwhile, a second click asks no second question, and
// the selector opens once the question is answered.
TEST_F(MainWindowTest, TheSelectorAwaitsTheDesktopsQuestionWithoutHoldingUpTheWindow) {
    const std::string calls = "/tmp/" + test::UniqueName("selector", "calls");
    const pid_t portal = test::Spawn({"/usr/bin/python3", VELMORA_FAKE_PORTAL, "slow", calls});
    ASSERT_GT(portal, 0);
    struct Cleanup {
        pid_t portal;
        std::string calls;
        ~Cleanup() {
            platform::SetScreenBackend(platform::ScreenBackend::X11);
            platform::SetOutputSize({});
            test::StopSpawned(portal);
            std::remove(calls.c_str());
        }
    } cleanup{portal, calls};
    Pause(1000);  // the portal owns its name
    form_.reset();
    platform::SetScreenBackend(platform::ScreenBackend::Portal);
    platform::SetOutputSize({0, 0, 1280, 720});
    form_ = std::make_unique<MainWindow>();
    form_->show();
    AreaSelector* selector = form_->Selector();

    bool ticked = false;
    QTimer::singleShot(100, form_.get(), [&] { ticked = true; });
    Button("areaButton")->click();
    EXPECT_TRUE(selector->IsAsking());
    EXPECT_FALSE(selector->IsShowing());
    ASSERT_TRUE(Until([&] { return ticked; }));
    EXPECT_FALSE(selector->IsShowing());
    Button("areaButton")->click();

    ASSERT_TRUE(Until([&] { return selector->IsShowing(); })) << Log().toStdString();
    EXPECT_FALSE(selector->IsAsking());
    selector->CloseSelector();
    QFile log(QString::fromStdString(calls));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()).count(QStringLiteral("Start")), 1);
}

}  // namespace
