#pragma once
// One running copy per application title, user and display. The lock is an
// abstract Unix socket bound under a name made of the three: the kernel frees
// the name when the holder's last descriptor closes, so a crashed copy never
// leaves a stale lock behind, and nothing is written to any folder.
// The same socket takes commands for the running copy ("start", "stop",
// "toggle"), so a desktop's own key bindings can reach it where global key
// grabs do not exist (Wayland). Abstract names carry no permissions: both
// ends check the other's user id (SO_PEERCRED).
// Protocol: the client sends one command, each of its arguments after a NUL,
// and '\n'; the holder answers "ok\n", "unknown\n" or, for a command it
// cannot carry out now, "busy " and the reason, and closes.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

// The commands a running copy takes.
bool IsInstanceCommand(const std::string& command);

struct InstanceCommand {
    std::string name;                    // "start", "stop" or "toggle"
    std::vector<std::string> arguments;  // the sender's parameters for it, if any
};

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another holder (any process) has the lock for the
    // title on the current user and display. True when this object now holds
    // it, and also when the lock cannot be made at all (held() then stays
    // false): a broken lock must not stop the program.
    bool Acquire(const std::string& title);
    void Release();
    bool held() const { return fd_ >= 0; }
    // The listening socket, readable when a command waits; -1 when not held.
    int fd() const { return fd_; }

    // Why a command cannot be carried out now, or "" when it can.
    using Refusal = std::function<std::string(const InstanceCommand&)>;

    // Takes one waiting connection without blocking on the listen queue:
    // the command it sent when it is one of ours, from this user and not
    // refused (it has been answered "ok"), nothing otherwise (a refused one
    // has been told why). A client that sends nothing is given up after a
    // short wait.
    std::optional<InstanceCommand> ReceiveCommand(const Refusal& refusal = {});

    // The abstract socket name used for a title, user and display; ":0" and
    // ":0.0" name the same display.
    static std::string NameFor(const std::string& title, unsigned uid, const std::string& display);
    // The display the lock is named after: $DISPLAY, else the path of the
    // Wayland socket (a Wayland session without XWayland), else empty.
    static std::string CurrentDisplay();

  private:
    int fd_ = -1;
};

// The process-wide lock of the program, held until the process ends.
InstanceLock& ProgramInstanceLock();
bool AcquireSingleInstance(const std::string& title);

enum class CommandResult {
    Done,     // the running copy took it
    NoCopy,   // none runs for this user and display
    Refused,  // it answered that it does not know the command
    Busy,     // it cannot carry it out now (detail says why)
    Failed,   // no usable answer (detail says why)
};

// Sends a command to the running copy of title on this user and display.
// An argument cannot hold a line break (Failed).
CommandResult SendInstanceCommand(const std::string& title, const std::string& command,
                                  std::string* detail = nullptr,
                                  const std::vector<std::string>& arguments = {});

}  // namespace velmora::platform
