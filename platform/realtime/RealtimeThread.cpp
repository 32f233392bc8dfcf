#include "platform/realtime/RealtimeThread.h"

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace velmora::platform {
namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kObject = "/org/freedesktop/RealtimeKit1";
// What RealtimeKit allows when it cannot be asked (its own default).
constexpr std::int64_t kDefaultRtTimeMaxUs = 200000;
constexpr std::uint64_t kCallTimeoutUs = 1000000;

// The thread that ran on past the soft limit gets the signal: it goes back
// to normal scheduling instead of the program being killed at the hard one.
void OnCpuLimit(int) {
    const sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
}

void InstallLimitHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGXCPU, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
        struct sigaction action {};
        action.sa_handler = OnCpuLimit;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGXCPU, &action, nullptr);
    });
}

// RealtimeKit grants only to processes whose hard limit is at most its
// maximum; the soft limit stays below so SIGXCPU comes first.
bool LimitRealtimeCpu(std::int64_t hardUs) {
    rlimit current{};
    if (getrlimit(RLIMIT_RTTIME, &current) != 0) return false;
    rlimit wanted{};
    wanted.rlim_max = static_cast<rlim_t>(hardUs);
    if (current.rlim_max != RLIM_INFINITY)
        wanted.rlim_max = std::min(wanted.rlim_max, current.rlim_max);
    wanted.rlim_cur = std::min<rlim_t>(wanted.rlim_max, kRealtimeSoftLimitUs);
    if (current.rlim_max != RLIM_INFINITY && current.rlim_cur <= wanted.rlim_cur &&
        current.rlim_max <= wanted.rlim_max)
        return true;  // already as strict
    return setrlimit(RLIMIT_RTTIME, &wanted) == 0;
}

std::string BusErrorText(const sd_bus_error& error, int r) {
    if (error.message && *error.message) return error.message;
    if (error.name && *error.name) return error.name;
    return std::strerror(-r);
}

struct Bus {
    sd_bus* bus = nullptr;
    ~Bus() { sd_bus_flush_close_unref(bus); }
};

}  // namespace

RealtimeResult RequestRealtimeKit(int priority) {
    RealtimeResult result;
    Bus bus;
    int r = sd_bus_open_system(&bus.bus);
    if (r < 0) {
        result.reason = std::string("no system bus (") + std::strerror(-r) + ")";
        return result;
    }
    // The request is made as a recording starts: a daemon that does not
    // answer must not hold it up for sd-bus's default 25 s.
    sd_bus_set_method_call_timeout(bus.bus, kCallTimeoutUs);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::int64_t maxUs = kDefaultRtTimeMaxUs;
    r = sd_bus_get_property_trivial(bus.bus, kService, kObject, kService, "RTTimeUSecMax", &error,
                                    'x', &maxUs);
    if (r < 0) {
        result.reason = "RealtimeKit: " + BusErrorText(error, r);
        sd_bus_error_free(&error);
        return result;
    }
    sd_bus_error_free(&error);
    std::int32_t maxPriority = priority;
    if (sd_bus_get_property_trivial(bus.bus, kService, kObject, kService, "MaxRealtimePriority",
                                    &error, 'i', &maxPriority) < 0)
        maxPriority = priority;
    sd_bus_error_free(&error);
    if (maxUs <= 0 || !LimitRealtimeCpu(maxUs)) {
        result.reason = "the real-time CPU limit RealtimeKit needs cannot be set";
        return result;
    }
    InstallLimitHandler();
    const auto thread = static_cast<std::uint64_t>(gettid());
    const auto asked =
        static_cast<std::uint32_t>(std::clamp(priority, 1, std::max(1, maxPriority)));
    r = sd_bus_call_method(bus.bus, kService, kObject, kService, "MakeThreadRealtime", &error,
                           nullptr, "tu", thread, asked);
    if (r < 0) {
        result.reason = "RealtimeKit refused: " + BusErrorText(error, r);
        sd_bus_error_free(&error);
        return result;
    }
    sd_bus_error_free(&error);
    result.grant = RealtimeGrant::RealtimeKit;
    return result;
}

RealtimeResult MakeThreadRealtime(int priority) {
    const int lowest = sched_get_priority_min(SCHED_RR);
    const sched_param param{std::max(priority, lowest)};
    if (LimitRealtimeCpu(kDefaultRtTimeMaxUs)) {
        InstallLimitHandler();
        if (sched_setscheduler(0, SCHED_RR, &param) == 0) return {RealtimeGrant::Direct, {}};
    }
    return RequestRealtimeKit(priority);
}

// The kernel's calls on the calling thread (0), not pthread's: glibc keeps
// its own copy of a thread's policy, which the SIGXCPU handler's change and
// RealtimeKit's do not update.
void EndThreadRealtime() {
    if (!ThreadIsRealtime()) return;
    const sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
}

bool ThreadIsRealtime() {
    const int policy = sched_getscheduler(0);
    return policy == SCHED_RR || policy == SCHED_FIFO;
}

}  // namespace velmora::platform
