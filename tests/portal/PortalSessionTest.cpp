// When the program asks the desktop for the screen: against a scripted portal
// that refuses every Start and notes each call, on a private bus. Nothing is
// asked at the engine's start-up or for the compressor list, a Record asks
// once however often its grabs fail, and the next Record asks again, for the
// pointer only when it is to be recorded. While the desktop's dialog waits
// for the user, the asking thread runs none of its events and nobody else
// waits for it.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/ScreenCamera.h"
#include "platform/x11/ScreenBackend.h"
#include "tests/doubles/ScriptedHost.h"
#include "tests/support/ChildProcess.h"

namespace velmora {
namespace {

class PortalSessionTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string address;
        bus_ = test::StartPrivateBus(address);
        ASSERT_GT(bus_, 0);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    static void TearDownTestSuite() { test::StopSpawned(bus_); }

    void SetUp() override {
        log_ = "/tmp/" + test::UniqueName("portal", "calls");
        folder_ = "/tmp/" + test::UniqueName("portal", "out") + "/";
        std::filesystem::create_directories(folder_);
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        const bool slow = std::string(info->name()).find("Dialog") != std::string::npos;
        portal_ =
            test::Spawn({"/usr/bin/python3", VELMORA_FAKE_PORTAL, slow ? "slow" : "refuse", log_});
        ASSERT_GT(portal_, 0);
        QDBusConnection probe =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("probe"));
        const QString name = QStringLiteral("org.freedesktop.portal.Desktop");
        for (int i = 0; i < 200 && !probe.interface()->isServiceRegistered(name); ++i)
            QThread::msleep(25);
        ASSERT_TRUE(probe.interface()->isServiceRegistered(name));
        QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
        platform::SetScreenBackend(platform::ScreenBackend::Portal);
        platform::SetOutputSize({0, 0, 1280, 720});
    }
    void TearDown() override {
        platform::SetScreenBackend(platform::ScreenBackend::X11);
        platform::SetOutputSize({});
        test::StopSpawned(portal_);
        std::remove(log_.c_str());
        std::filesystem::remove_all(folder_);
    }

    // How often the portal was asked to share the screen.
    int Starts() const { return Calls("Start"); }
    int Calls(const std::string& call) const {
        std::ifstream in(log_);
        const std::vector<std::string> calls{std::istream_iterator<std::string>(in), {}};
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }

    static inline pid_t bus_ = -1;
    pid_t portal_ = -1;
    std::string log_, folder_;
};

TEST_F(PortalSessionTest, StartUpAndCompressorListAskNothingAndEachRecordAsksOnce) {
    test::ScriptedHost host;
    std::vector<std::string> errors;
    engine::TScreenCamera camera(host);
    camera.OnCameraError = [&errors](engine::TScreenCamera*, const std::string& e) {
        errors.push_back(e);
    };
    // The size is the output's until a stream tells it.
    EXPECT_EQ(camera.ScreenWidth, 1280);
    EXPECT_EQ(camera.ScreenHeight, 720);
    EXPECT_FALSE(camera.ListCompressors().empty());
    EXPECT_EQ(Starts(), 0);

    camera.Mode = engine::CaptureMode::FullScreen;
    camera.MinimizeOnRecord = camera.RestoreAfterRecord = false;
    for (int record = 1; record <= 2; ++record) {
        errors.clear();
        // The second without the pointer: the desktop is asked to leave it out.
        camera.CaptureCursor = record == 1;
        camera.StartRecording(folder_ + "out.avi");
        ASSERT_TRUE(host.RunUntil([&] { return !camera.Recording && !camera.WorkerRunning(); }));
        EXPECT_TRUE(camera.EndedByFailure);
        EXPECT_EQ(Starts(), record) << "record " << record;
        ASSERT_FALSE(errors.empty());
        EXPECT_NE(errors.front().find("refused"), std::string::npos) << errors.front();
    }
    EXPECT_EQ(Calls("SelectSources:cursor_mode=2"), 1);  // embedded
    EXPECT_EQ(Calls("SelectSources:cursor_mode=1"), 1);  // hidden
}

TEST_F(PortalSessionTest, ARefusalIsRememberedUntilTheNextUseBegins) {
    auto desktop = platform::OpenDesktop();
    ASSERT_NE(desktop, nullptr);
    std::vector<std::uint8_t> bits(16 * 16 * 4);
    platform::DibRows rows;
    rows.bits = bits.data();
    rows.width = rows.height = 16;
    // No use has begun: nothing is asked, not even for the size.
    EXPECT_FALSE(desktop->grab(0, 0, rows));
    EXPECT_EQ(desktop->width(), 1280);
    EXPECT_EQ(Starts(), 0);

    desktop->beginCapture(true);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(desktop->grab(0, 0, rows));
    EXPECT_NE(desktop->lastError().find("refused"), std::string::npos) << desktop->lastError();
    desktop->endCapture();
    EXPECT_EQ(Starts(), 1);
    EXPECT_FALSE(desktop->grab(0, 0, rows));
    EXPECT_EQ(Starts(), 1);

    // The area selector's use beside a recording's: one question for both.
    auto selector = platform::OpenDesktop();
    desktop->beginCapture(true);
    selector->beginCapture(true);
    EXPECT_FALSE(desktop->grab(0, 0, rows));
    EXPECT_FALSE(selector->grab(0, 0, rows));
    selector->endCapture();
    desktop->endCapture();
    EXPECT_EQ(Starts(), 2);
}

// The portal's dialog takes 1.5 s to be refused.
TEST_F(PortalSessionTest, WhileTheDialogWaitsNoEventRunsAndNothingWaitsForIt) {
    auto desktop = platform::OpenDesktop();
    auto selector = platform::OpenDesktop();
    std::vector<std::uint8_t> bits(16 * 16 * 4);
    platform::DibRows rows;
    rows.bits = bits.data();
    rows.width = rows.height = 16;
    desktop->beginCapture(true);
    selector->beginCapture(true);
    bool timerRan = false;
    QTimer::singleShot(0, [&timerRan] { timerRan = true; });
    // Another use ending meanwhile (the selector closed) is not held up.
    std::atomic<qint64> endTook{-1};
    std::thread ending([&] {
        QThread::msleep(300);
        QElapsedTimer clock;
        clock.start();
        selector->endCapture();
        endTook = clock.elapsed();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(desktop->grab(0, 0, rows));
    ending.join();
    EXPECT_GE(clock.elapsed(), 1400);
    EXPECT_NE(desktop->lastError().find("refused"), std::string::npos) << desktop->lastError();
    EXPECT_FALSE(timerRan) << "the handshake ran the caller's events";
    EXPECT_LT(endTook, 500);
    desktop->endCapture();
    EXPECT_EQ(Starts(), 1);
}

// The engine's frame timer asks where the pointer is while its worker's
// first grab waits for the dialog; the UI thread must not wait with it.
TEST_F(PortalSessionTest, TheFrameTimerDoesNotWaitForTheDialog) {
    test::ScriptedHost host;
    engine::TScreenCamera camera(host);
    camera.Mode = engine::CaptureMode::FollowMouse;  // follow the mouse
    camera.Width = camera.Height = 320;
    camera.MinimizeOnRecord = camera.RestoreAfterRecord = false;
    camera.StartRecording(folder_ + "out.avi");
    QElapsedTimer clock, tick;
    clock.start();
    qint64 longest = 0;
    ASSERT_TRUE(host.RunUntil([&] {
        if (host.timer) {
            tick.start();
            host.timer->Fire();
            longest = std::max(longest, tick.elapsed());
        }
        return !camera.Recording && !camera.WorkerRunning();
    }));
    EXPECT_GE(clock.elapsed(), 1400);  // the dialog was waited for
    EXPECT_LT(longest, 500) << "a tick waited " << longest << " ms";
    EXPECT_EQ(Starts(), 1);
}

TEST_F(PortalSessionTest, AWindowRecordingAsksForAWindowWithItsOwnToken) {
    platform::SetScreenCastTokenStore(
        {[](platform::ScreenCastSource source) {
             return std::string(source == platform::ScreenCastSource::Window ? "window-token"
                                                                             : "monitor-token");
         },
         {}});
    struct Unset {
        ~Unset() { platform::SetScreenCastTokenStore({}); }
    } unset;
    test::ScriptedHost host;
    std::vector<std::string> errors;
    engine::TScreenCamera camera(host);
    camera.OnCameraError = [&errors](engine::TScreenCamera*, const std::string& e) {
        errors.push_back(e);
    };
    camera.Mode = engine::CaptureMode::Window;
    camera.CaptureWindow = 0;  // no window id on Wayland: the dialog picks it
    camera.MinimizeOnRecord = camera.RestoreAfterRecord = false;
    camera.StartRecording(folder_ + "out.avi");
    ASSERT_TRUE(host.RunUntil([&] { return !camera.Recording && !camera.WorkerRunning(); }));
    EXPECT_TRUE(camera.EndedByFailure);
    EXPECT_EQ(Starts(), 1);
    EXPECT_EQ(Calls("SelectSources:types=2"), 1);
    EXPECT_EQ(Calls("SelectSources:restore_token=window-token"), 1);
    EXPECT_EQ(Calls("SelectSources:restore_token=monitor-token"), 0);
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.front().find("refused"), std::string::npos) << errors.front();

    // The screen's recording asks for its monitor as before.
    camera.Mode = engine::CaptureMode::FullScreen;
    camera.StartRecording(folder_ + "out.avi");
    ASSERT_TRUE(host.RunUntil([&] { return !camera.Recording && !camera.WorkerRunning(); }));
    EXPECT_EQ(Calls("SelectSources:types=1"), 1);
    EXPECT_EQ(Calls("SelectSources:restore_token=monitor-token"), 1);
}

}  // namespace
}  // namespace velmora
