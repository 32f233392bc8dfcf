#pragma once
// Real-time scheduling for the thread that grabs frames. Under the default
// scheduler a thread that wakes while both cores run other work (the
// encoder, the X server, the program being recorded) waits for the next
// scheduler tick: grabs then start a few ms late. A low real-time priority
// lets the grab take the core the moment its frame is due; the grab is
// short and sleeps between frames, so nobody starves.

#include <string>

namespace velmora::platform {

enum class RealtimeGrant {
    Direct,       // the process may set it itself (root, or an rtprio limit)
    RealtimeKit,  // granted by the desktop's RealtimeKit daemon
    Refused,
};

struct RealtimeResult {
    RealtimeGrant grant = RealtimeGrant::Refused;
    std::string reason;  // why it was refused
};

// Round-robin real-time scheduling at `priority` (1 is the lowest) for the
// calling thread: itself first, then through RealtimeKit on the system bus.
// Before it, the process's real-time CPU limit is set so that a thread that
// runs on without sleeping is put back to normal scheduling (SIGXCPU) well
// before the kernel would kill the program.
RealtimeResult MakeThreadRealtime(int priority);
// Only the RealtimeKit request, for the calling thread.
RealtimeResult RequestRealtimeKit(int priority);
// The calling thread back to normal scheduling; its nice value stays.
void EndThreadRealtime();
// Whether the calling thread runs with a real-time policy now.
bool ThreadIsRealtime();

// Longest real-time CPU time without a blocking call before the thread is
// put back to normal scheduling.
constexpr long kRealtimeSoftLimitUs = 100000;

}  // namespace velmora::platform
