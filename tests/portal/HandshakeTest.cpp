// The portal handshake against a scripted portal on a private bus: a refused
// or cancelled Start is an error with its reason, a portal that never
// answers is a bounded wait, and all of it works from a thread that is not
// Qt's (the engine's worker) as well as from the UI thread.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/portal/ScreenCastPortal.h"
#include "tests/support/ChildProcess.h"

namespace velmora::platform::portal {
namespace {

class HandshakeTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string address;
        bus_ = test::StartPrivateBus(address);
        ASSERT_GT(bus_, 0);
        ASSERT_FALSE(address.empty());
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    static void TearDownTestSuite() { test::StopSpawned(bus_); }

    void StartPortal(const std::string& mode, const std::string& log = {}) {
        portal_ = log.empty() ? test::Spawn({"/usr/bin/python3", VELMORA_FAKE_PORTAL, mode})
                              : test::Spawn({"/usr/bin/python3", VELMORA_FAKE_PORTAL, mode, log});
        ASSERT_GT(portal_, 0);
        QDBusConnection probe =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("probe"));
        for (int i = 0; i < 200; ++i) {
            if (probe.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.portal.Desktop")))
                break;
            QThread::msleep(25);
        }
        ASSERT_TRUE(probe.interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.portal.Desktop")));
        QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    }
    void TearDown() override { test::StopSpawned(portal_); }

    static inline pid_t bus_ = -1;
    pid_t portal_ = -1;
};

TEST_F(HandshakeTest, RefusedStartIsAnErrorOnAWorkerThread) {
    StartPortal("refuse");
    bool opened = true;
    std::string error;
    std::thread worker([&] {
        ScreenCastPortal portal;
        PortalGrant grant;
        opened = portal.Open("", true, grant, error);
    });
    worker.join();
    EXPECT_FALSE(opened);
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
}

TEST_F(HandshakeTest, CancelledDialogIsAnErrorOnTheUiThread) {
    StartPortal("cancel");
    ScreenCastPortal portal;
    PortalGrant grant;
    std::string error;
    EXPECT_FALSE(portal.Open("kept-token", true, grant, error));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
}

TEST_F(HandshakeTest, APortalThatNeverAnswersIsABoundedWait) {
    StartPortal("silent");
    PortalTimeouts timeouts;
    timeouts.start = std::chrono::milliseconds(700);
    ScreenCastPortal portal(timeouts);
    PortalGrant grant;
    std::string error;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(portal.Open("", true, grant, error));
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_NE(error.find("no answer"), std::string::npos) << error;
}

// The calls the scripted portal noted, one a line.
std::string Calls(const std::string& log) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(HandshakeTest, AWindowIsAskedForAsAWindowSourceWhereThePortalOffersOne) {
    const std::string log =
        (std::filesystem::temp_directory_path() / test::UniqueName("handshake", "calls")).string();
    StartPortal("refuse", log);
    std::string error;
    EXPECT_EQ(AvailableSourceTypes(error) & kSourceWindow, kSourceWindow) << error;
    ScreenCastPortal portal;
    PortalGrant grant;
    EXPECT_FALSE(portal.Open("kept-window-token", true, grant, error, kSourceWindow));
    EXPECT_NE(error.find("refused"), std::string::npos) << error;
    const std::string calls = Calls(log);
    EXPECT_NE(calls.find("SelectSources:types=2\n"), std::string::npos) << calls;
    EXPECT_NE(calls.find("SelectSources:restore_token=kept-window-token\n"), std::string::npos)
        << calls;
    std::remove(log.c_str());
}

TEST_F(HandshakeTest, APortalWithoutWindowsIsRefusedBeforeAnyDialog) {
    const std::string log =
        (std::filesystem::temp_directory_path() / test::UniqueName("handshake", "calls")).string();
    StartPortal("refuse:monitors", log);
    std::string error;
    EXPECT_EQ(AvailableSourceTypes(error), kSourceMonitor) << error;
    ScreenCastPortal portal;
    PortalGrant grant;
    EXPECT_FALSE(portal.Open("", true, grant, error, kSourceWindow));
    EXPECT_NE(error.find("offers no window source"), std::string::npos) << error;
    EXPECT_EQ(Calls(log), "");
    // A monitor is still asked for as before.
    EXPECT_FALSE(portal.Open("", true, grant, error));
    EXPECT_NE(Calls(log).find("SelectSources:types=1\n"), std::string::npos) << Calls(log);
    std::remove(log.c_str());
}

TEST_F(HandshakeTest, NoPortalOnTheBusSaysSo) {
    ScreenCastPortal portal;
    PortalGrant grant;
    std::string error;
    EXPECT_FALSE(portal.Open("", true, grant, error));
    EXPECT_NE(error.find("no ScreenCast portal"), std::string::npos) << error;
}

}  // namespace
}  // namespace velmora::platform::portal
