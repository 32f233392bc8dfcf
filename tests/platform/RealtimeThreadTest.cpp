// Real-time scheduling for the grab thread: granted directly where the
// process may (root in CI), asked of RealtimeKit otherwise (a scripted one on
// a private bus here), and a thread that runs on without sleeping is put back
// to normal scheduling instead of the program being killed. Each case runs
// in a child process: the limits and the signal handler are process-wide.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/realtime/RealtimeThread.h"
#include "tests/support/ChildProcess.h"

namespace velmora::platform {
namespace {

bool MayGoRealtimeDirectly() {
    return test::InChild([] {
               const sched_param param{1};
               return sched_setscheduler(0, SCHED_RR, &param) == 0 ? 0 : 1;
           }) == 0;
}

TEST(RealtimeThreadTest, DirectGrantSetsTheLimitsAndEndsKeepingTheNiceValue) {
    if (!MayGoRealtimeDirectly()) GTEST_SKIP() << "this process may not use real-time scheduling";
    const int status = test::InChild([] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 5);
        const RealtimeResult result = MakeThreadRealtime(2);
        if (result.grant != RealtimeGrant::Direct) return 10;
        sched_param param{};
        sched_getparam(0, &param);
        if (sched_getscheduler(0) != SCHED_RR || param.sched_priority != 2) return 11;
        rlimit limit{};
        getrlimit(RLIMIT_RTTIME, &limit);
        if (limit.rlim_cur != kRealtimeSoftLimitUs || limit.rlim_max == RLIM_INFINITY) return 12;
        EndThreadRealtime();
        if (ThreadIsRealtime()) return 13;
        if (getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())) != 5) return 14;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(RealtimeThreadTest, AThreadThatNeverSleepsIsPutBackNotKilled) {
    if (!MayGoRealtimeDirectly()) GTEST_SKIP() << "this process may not use real-time scheduling";
    const int status = test::InChild([] {
        if (MakeThreadRealtime(1).grant != RealtimeGrant::Direct) return 10;
        // Spins past the soft limit; the hard one would end the process.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (ThreadIsRealtime() && std::chrono::steady_clock::now() < until) {
        }
        return ThreadIsRealtime() ? 11 : 0;
    });
    EXPECT_EQ(status, 0) << "-1: the process was killed";
}

class RealtimeKitTest : public testing::Test {
  protected:
    void SetUp() override {
        bus_ = test::StartPrivateBus(address_);
        ASSERT_GT(bus_, 0);
        ASSERT_FALSE(address_.empty());
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
        log_ = test::UniqueName(testing::TempDir().c_str(), "realtimekit-log-");
        std::remove(log_.c_str());
    }
    void TearDown() override {
        test::StopSpawned(kit_);
        test::StopSpawned(bus_);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        std::remove(log_.c_str());
    }
    void StartKit(const char* mode) {
        kit_ = test::Spawn({"/usr/bin/python3", VELMORA_FAKE_REALTIMEKIT, mode, log_});
        ASSERT_GT(kit_, 0);
        for (int i = 0; i < 200; ++i) {
            const std::string probe = "dbus-send --bus=" + address_ +
                                      " --print-reply --dest=org.freedesktop.DBus / "
                                      "org.freedesktop.DBus.GetNameOwner "
                                      "string:org.freedesktop.RealtimeKit1 >/dev/null 2>&1";
            if (std::system(probe.c_str()) == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        FAIL() << "the scripted RealtimeKit did not start";
    }
    std::string Log() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t bus_ = -1, kit_ = -1;
    std::string address_, log_;
};

TEST_F(RealtimeKitTest, AsksForTheCallingThreadWithTheLimitsItDemands) {
    StartKit("grant");
    const int status = test::InChild(
        [] { return RequestRealtimeKit(3).grant == RealtimeGrant::RealtimeKit ? 0 : 10; });
    ASSERT_EQ(status, 0);
    // One request: a thread id, the priority, and a hard limit within the
    // daemon's 200 ms with the soft one below it.
    std::istringstream line(Log());
    long long tid = 0;
    int priority = 0;
    std::string soft, hard;
    line >> tid >> priority >> soft >> hard;
    EXPECT_GT(tid, 0);
    EXPECT_EQ(priority, 3);
    EXPECT_EQ(soft, std::to_string(kRealtimeSoftLimitUs));
    EXPECT_EQ(hard, "200000");
}

TEST_F(RealtimeKitTest, ARefusalAndAMissingDaemonAreReasonsNotGrants) {
    ASSERT_EQ(test::InChild([] {
                  const RealtimeResult missing = RequestRealtimeKit(1);
                  return missing.grant == RealtimeGrant::Refused &&
                                 missing.reason.find("RealtimeKit") != std::string::npos
                             ? 0
                             : 10;
              }),
              0);
    StartKit("refuse");
    const int status = test::InChild([] {
        const RealtimeResult result = RequestRealtimeKit(1);
        if (result.grant != RealtimeGrant::Refused) return 10;
        return result.reason == "RealtimeKit refused: Operation not permitted" ? 0 : 11;
    });
    EXPECT_EQ(status, 0);
    EXPECT_NE(Log(), "") << "the request reached the daemon";
}

TEST_F(RealtimeKitTest, ADaemonThatDoesNotAnswerHoldsTheStartUpBriefly) {
    StartKit("silent");
    const auto begin = std::chrono::steady_clock::now();
    const int status = test::InChild(
        [] { return RequestRealtimeKit(1).grant == RealtimeGrant::Refused ? 0 : 10; });
    EXPECT_EQ(status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

}  // namespace
}  // namespace velmora::platform
