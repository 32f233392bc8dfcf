// The main window with the desktop around it, on the private X server and a
// private session bus: the countdown before a recording, the status icon as a
// StatusNotifierItem that a scripted panel reads and clicks, and the
// notification of a saved recording to a scripted notification service.
// Each test runs in its own process (Qt keeps its session bus connection).

#include <gtest/gtest.h>

#include <future>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "platform/x11/HotKeys.h"
#include "shell/FolderSearch.h"
#include "shell/MainWindow.h"
#include "shell/TrayIcon.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnv.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using velmora::test::Pause;
using velmora::test::Until;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);

class DesktopTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string address;
        bus_ = test::StartPrivateBus(address);
        ASSERT_GT(bus_, 0);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    static void TearDownTestSuite() { test::StopSpawned(bus_); }
    static inline pid_t bus_ = -1;

    void TearDown() override {
        form_.reset();
        for (const pid_t pid : doubles_) test::StopSpawned(pid);
        SetProgramFolder("");
        Settings = TSettings{};
    }

    // The main window in a new program folder; app: more [SetupApp] lines.
    void MakeWindow(const char* app) {
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
                           "[SetupApp]\n%2MinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n")
                .arg(Out(), QString::fromLatin1(app))
                .toUtf8());
        setup.close();
        SetProgramFolder(dir_.path().toStdString() + "/");
        Settings = TSettings{};
        form_ = std::make_unique<MainWindow>();
        form_->show();
    }

    // A scripted service of tests/doubles, once it owns its name.
    void StartDouble(const char* script, const QString& name, std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/python3", std::string(VELMORA_DOUBLES) + script});
        const pid_t pid = test::Spawn(args);
        ASSERT_GT(pid, 0);
        doubles_.push_back(pid);
        ASSERT_TRUE(Until([&] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
        })) << script;
    }

    // A window whose tray item has registered with a scripted panel; Panel
    // calls the panel ("Click" an item by its text, "ToolTip").
    void MakeWindowWithPanel() {
        const QString items = dir_.filePath(QStringLiteral("items.log"));
        StartDouble("fake_status_notifier_watcher.py",
                    QStringLiteral("org.kde.StatusNotifierWatcher"), {items.toStdString()});
        MakeWindow("NotifySaved=0\n");
        ASSERT_TRUE(Until([&] {
            QFile file(items);
            return file.open(QIODevice::ReadOnly) && file.readAll().startsWith("item ");
        })) << "the icon never registered";
    }
    QString Panel(const char* method, const QVariantList& args = {}) {
        const QDBusMessage reply =
            CallDouble(QStringLiteral("org.kde.StatusNotifierWatcher"),
                       QStringLiteral("/StatusNotifierWatcher"),
                       QStringLiteral("org.velmora.TestPanel"), QLatin1String(method), args);
        return reply.arguments().value(0).toString();
    }

    // A call to a double that may call this process back: the window answers
    // while the call waits.
    QDBusMessage CallDouble(const QString& service, const QString& path, const QString& interface,
                            const QString& method, const QVariantList& args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(message);
        Until([&] { return call.isFinished(); });
        return call.reply();
    }

    static QString Text(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QString Out() const { return dir_.filePath(QStringLiteral("out")); }
    QString Log() const { return test::LogsIn(dir_.path()); }
    QStringList Recordings() const {
        return QDir(Out()).entryList({QStringLiteral("VideoRecord_*")}, QDir::Files);
    }
    bool Recording() const { return form_->Camera()->Recording; }
    QToolButton* Button(const char* name) const {
        return form_->findChild<QToolButton*>(QLatin1String(name));
    }
    bool Merged() {
        return Until(
            [&] { return !form_->Camera()->WorkerRunning() && Log().contains(LogTexts(3)); });
    }
    // Records about a second through the Record button and stops with F10.
    void RecordASecond() {
        Button("recordButton")->click();
        ASSERT_TRUE(Recording());
        Pause(1000);
        form_->HotKeyPressed(platform::kVkF10);
        ASSERT_TRUE(Merged()) << Log().toStdString();
    }
    // The calls the notification double has logged.
    QList<QJsonObject> Calls(const QString& log) const {
        QList<QJsonObject> calls;
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly)) return calls;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (!line.isEmpty()) calls << QJsonDocument::fromJson(line).object();
        return calls;
    }
    QList<QJsonObject> CallsOf(const QString& log, const char* method) const {
        QList<QJsonObject> found;
        for (const QJsonObject& call : Calls(log))
            if (call[QStringLiteral("call")].toString() == QLatin1String(method)) found << call;
        return found;
    }
    // Every message sent before this one on the program's connection has
    // reached the service by the time it answers.
    void RoundTripToNotifications() {
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                           QStringLiteral("/org/freedesktop/Notifications"),
                                           QStringLiteral("org.freedesktop.Notifications"),
                                           QStringLiteral("GetServerInformation")));
    }

    QTemporaryDir dir_;
    std::unique_ptr<MainWindow> form_;
    std::vector<pid_t> doubles_;
};

// Counting down: the number's seconds pass with the controls of a recording
// and nothing recorded; F10, Escape and the Stop button each cancel it with
// nothing recorded, and one left alone starts the recording at its end.
TEST_F(DesktopTest, CountdownCancelsByF10EscapeAndStopAndStartsTheRecordingAtItsEnd) {
    MakeWindow("Countdown=2\nTrayIcon=0\nNotifySaved=0\n");
    QToolButton* record = Button("recordButton");
    const auto cancelledBy = [&](const std::function<void()>& cancel) {
        record->click();
        EXPECT_TRUE(form_->CountingDown());
        EXPECT_FALSE(Recording());
        EXPECT_EQ(record->text(), MsgTexts(2));
        EXPECT_FALSE(Button("optionsButton")->isEnabled());
        EXPECT_EQ(form_->TrayStatus().state, TrayIcon::State::CountingDown);
        EXPECT_EQ(form_->TrayStatus().countdown, 2);
        cancel();
        EXPECT_FALSE(form_->CountingDown());
        EXPECT_EQ(record->text(), MsgTexts(1));
        EXPECT_TRUE(Button("optionsButton")->isEnabled());
    };
    cancelledBy([&] { form_->HotKeyPressed(platform::kVkF10); });
    cancelledBy([&] { form_->HotKeyPressed(platform::kVkEscape); });
    cancelledBy([&] { record->click(); });
    // Past the time the countdowns had: none of them started anything.
    Pause(2500);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Log().count(MsgTexts(98)), 3) << Log().toStdString();
    EXPECT_FALSE(Log().contains(QStringLiteral("VideoRecord_")));

    record->click();
    form_->HotKeyPressed(platform::kVkF9);  // counting: no second countdown, no recording
    EXPECT_EQ(Log().count(MsgTexts(97).arg(2)), 4);
    EXPECT_FALSE(Recording());
    ASSERT_TRUE(Until([&] { return Recording(); }, 4000));
    EXPECT_FALSE(form_->CountingDown());
    EXPECT_EQ(form_->TrayStatus().state, TrayIcon::State::Recording);
    Pause(800);
    form_->HotKeyPressed(platform::kVkF10);
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_EQ(Recordings().size(), 1);
}

// After a recording: one Notify with the file's name and both actions; the
// service's "Show in folder" makes the program ask the file manager to show
// that very file.
TEST_F(DesktopTest, SavedRecordingIsNotifiedAndShowInFolderAsksTheFileManager) {
    const QString calls = dir_.filePath(QStringLiteral("calls.json"));
    StartDouble("fake_notifications.py", QStringLiteral("org.freedesktop.Notifications"),
                {calls.toStdString(), "folder"});
    MakeWindow("TrayIcon=0\n");
    RecordASecond();
    ASSERT_EQ(Recordings().size(), 1);
    const QString file = QDir(Out()).filePath(Recordings().front());
    ASSERT_TRUE(Until([&] { return !CallsOf(calls, "ShowItems").isEmpty(); }))
        << Log().toStdString();
    const QList<QJsonObject> notes = CallsOf(calls, "Notify");
    ASSERT_EQ(notes.size(), 1);
    EXPECT_EQ(notes[0][QStringLiteral("summary")].toString(), MsgTexts(89));
    EXPECT_TRUE(notes[0][QStringLiteral("body")].toString().contains(Recordings().front()));
    EXPECT_EQ(
        notes[0][QStringLiteral("actions")].toArray(),
        QJsonArray({QStringLiteral("open"), MsgTexts(93), QStringLiteral("folder"), MsgTexts(94)}));
    const QList<QJsonObject> shown = CallsOf(calls, "ShowItems");
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0][QStringLiteral("uris")].toArray(),
              QJsonArray({QUrl::fromLocalFile(file).toString()}));
}

// Switched off in Setup.ini: a recording sends no Notify.
TEST_F(DesktopTest, NoNotificationWhenSwitchedOff) {
    const QString calls = dir_.filePath(QStringLiteral("calls.json"));
    StartDouble("fake_notifications.py", QStringLiteral("org.freedesktop.Notifications"),
                {calls.toStdString()});
    MakeWindow("TrayIcon=0\nNotifySaved=0\n");
    RecordASecond();
    Pause(300);
    RoundTripToNotifications();
    EXPECT_TRUE(CallsOf(calls, "Notify").isEmpty());
}

// No notification service on the bus: two recordings are saved as ever, and
// one line of the log says the service is missing.
TEST_F(DesktopTest, WithoutAServiceOneLogLineSaysSo) {
    MakeWindow("TrayIcon=0\n");
    RecordASecond();
    RecordASecond();
    EXPECT_EQ(Recordings().size(), 2);
    const QString missing = MsgTexts(100).section(QStringLiteral("%1"), 0, 0);
    ASSERT_TRUE(Until([&] { return Log().contains(missing); })) << Log().toStdString();
    Pause(500);
    EXPECT_EQ(Log().count(missing), 1) << Log().toStdString();
}

// The status icon registers with the desktop's watcher; its tooltip follows
// record, pause and stop; the menu, clicked over D-Bus as a panel does,
// records, pauses and stops, and the recording it stopped is saved.
TEST_F(DesktopTest, TrayItemFollowsTheRecordingAndItsMenuStopsAndSavesIt) {
    ASSERT_NO_FATAL_FAILURE(MakeWindowWithPanel());
    const auto tipSays = [&](const QString& text) {
        return Until([&] { return Panel("ToolTip").contains(text); }, 5000);
    };
    EXPECT_TRUE(tipSays(MsgTexts(82))) << Panel("ToolTip").toStdString();
    // Stop and Pause are off while nothing records.
    EXPECT_EQ(Panel("Click", {MsgTexts(2)}), QString());

    ASSERT_NE(Panel("Click", {MsgTexts(1)}), QString()) << Log().toStdString();
    ASSERT_TRUE(Until([&] { return Recording(); }));
    EXPECT_TRUE(tipSays(MsgTexts(84).section(QStringLiteral("%1"), 0, 0)));
    Pause(600);
    ASSERT_NE(Panel("Click", {MsgTexts(21)}), QString());
    ASSERT_TRUE(Until([&] { return form_->Camera()->Paused.load(); }));
    EXPECT_TRUE(tipSays(MsgTexts(85).section(QStringLiteral("%1"), 0, 0)));
    ASSERT_NE(Panel("Click", {MsgTexts(22)}), QString());
    ASSERT_TRUE(Until([&] { return !form_->Camera()->Paused.load(); }));
    Pause(600);

    ASSERT_NE(Panel("Click", {MsgTexts(2)}), QString());
    ASSERT_TRUE(Merged()) << Log().toStdString();
    EXPECT_EQ(Recordings().size(), 1);
    EXPECT_TRUE(tipSays(MsgTexts(82)));
    // The same lines as the window's own buttons leave.
    EXPECT_TRUE(Log().contains(LogTexts(11)));
}

// A recording started in a folder that does not answer yet: the tray says it
// waits, and its Stop cancels the wait as the window's does.
TEST_F(DesktopTest, TrayShowsARecordingWaitingForItsFolderAndItsStopCancelsIt) {
    ASSERT_NO_FATAL_FAILURE(MakeWindowWithPanel());
    // The folder's questions queue behind one that does not come back yet.
    std::promise<void> gate;
    RunInFolder(Settings.WorkDir, [answered = gate.get_future().share()] { answered.wait(); });
    ASSERT_NE(Panel("Click", {MsgTexts(1)}), QString());
    EXPECT_TRUE(Until([&] { return Panel("ToolTip").contains(MsgTexts(103)); }, 5000))
        << Panel("ToolTip").toStdString();
    EXPECT_EQ(form_->TrayStatus().state, TrayIcon::State::Waiting);
    ASSERT_NE(Panel("Click", {MsgTexts(2)}), QString()) << "Stop is off while it waits";
    EXPECT_TRUE(Until([&] { return Log().contains(QStringLiteral("Nothing was recorded")); }))
        << Log().toStdString();
    EXPECT_TRUE(Until([&] { return Panel("ToolTip").contains(MsgTexts(82)); }, 5000));
    gate.set_value();
    Pause(300);
    EXPECT_FALSE(Recording());
    EXPECT_EQ(Recordings().size(), 0);
}

// MinimizeCapture with a tray: the window goes to the tray while recording,
// not to the task bar, and a click on the icon's Show brings it back.
TEST_F(DesktopTest, MinimizeCaptureHidesTheWindowInTheTray) {
    const QString items = dir_.filePath(QStringLiteral("items.log"));
    StartDouble("fake_status_notifier_watcher.py", QStringLiteral("org.kde.StatusNotifierWatcher"),
                {items.toStdString()});
    MakeWindow("NotifySaved=0\nMinimizeCapture=1\n");
    ASSERT_TRUE(Until([&] { return form_->Tray()->Shown(); }));
    Button("recordButton")->click();
    ASSERT_TRUE(Recording());
    ASSERT_TRUE(Until([&] { return !form_->isVisible(); }));
    EXPECT_FALSE(form_->isMinimized());
    const QDBusMessage reply = CallDouble(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.velmora.TestPanel"), QStringLiteral("Click"), {MsgTexts(87)});
    EXPECT_NE(reply.arguments().value(0).toString(), QString());
    EXPECT_TRUE(Until([&] { return form_->isVisible(); }));
    Pause(800);
    form_->HotKeyPressed(platform::kVkF10);
    ASSERT_TRUE(Merged()) << Log().toStdString();
}

}  // namespace
