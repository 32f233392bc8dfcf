#pragma once
// One running copy per application title, user and display. The lock is a
// file lock (flock) held for the process's life on a file in the user's
// private runtime folder, beside the Unix socket the holder listens on: the
// kernel frees the lock when the holder's last descriptor closes, so a
// crashed copy never keeps a later one from starting (its socket file is
// replaced). The folder is $XDG_RUNTIME_DIR, or a folder of our own under
// /tmp named with the uid; either must be the user's own (no link) and
// closed to everyone else. Where another user (or a link) has the uid's
// name first, a folder made by mkdtemp beside it is used, which every copy
// and command of the user finds. Both ends still check the other's user id
// (SO_PEERCRED): root can reach any folder.
// The same socket takes commands for the running copy ("start", "stop",
// "toggle", "pause", "resume", "pause-toggle"), so a desktop's own key
// bindings can reach it where global key grabs do not exist (Wayland).
// Protocol: the client sends one command, each of its arguments after a NUL,
// and '\n'; the holder answers "ok\n", "unknown\n" or, for a command it
// cannot carry out now, "busy " and the reason, and closes. A command whose
// outcome the sender must learn (one that starts a recording) is answered
// "wait\n" at once and later "ok\n" or "failed " and the reason.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

// The commands a running copy takes.
bool IsInstanceCommand(const std::string& command);

// The sender of a command answered "wait", still connected: it learns the
// outcome from Answer (once), or, if the reply goes unanswered, that there
// was none.
class InstanceReply {
  public:
    explicit InstanceReply(int fd) : fd_(fd) {}
    ~InstanceReply();
    InstanceReply(const InstanceReply&) = delete;
    InstanceReply& operator=(const InstanceReply&) = delete;
    // failure empty: it was carried out.
    void Answer(const std::string& failure);

  private:
    int fd_;
    bool answered_ = false;
};

struct InstanceCommand {
    std::string name;                    // "start", "stop", "toggle", "pause", ...
    std::vector<std::string> arguments;  // the sender's parameters for it, if any
    std::shared_ptr<InstanceReply> reply;  // set when its answer comes later
};

class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another holder (any process) has the lock for the
    // title on the current user and display; holder() then names its user
    // when that is not this one. True when this object now holds it, and also
    // when the lock cannot be made at all (held() then stays false and
    // trouble() says why): a broken lock must not stop the program.
    bool Acquire(const std::string& title);
    void Release();
    bool held() const { return fd_ >= 0; }
    // The listening socket, readable when a command waits; -1 when not held.
    int fd() const { return fd_; }
    const std::string& trouble() const { return trouble_; }
    // For the log: the private folder used in place of one that was not ours.
    const std::string& note() const { return note_; }
    const std::string& holder() const { return holder_; }

    // Why a command cannot be carried out now, or "" when it can.
    using Refusal = std::function<std::string(const InstanceCommand&)>;

    // Takes one waiting connection without blocking on the listen queue:
    // the command it sent when it is one of ours, from this user and not
    // refused (it has been answered "ok"), nothing otherwise (a refused one
    // has been told why). A client that sends nothing is given up after a
    // short wait.
    // Whether the sender waits for the command's outcome.
    using AnswerLater = std::function<bool(const InstanceCommand&)>;

    std::optional<InstanceCommand> ReceiveCommand(const Refusal& refusal = {},
                                                  const AnswerLater& answerLater = {});

    // The name of the lock of a title, user and display; ":0" and ":0.0"
    // name the same display.
    static std::string NameFor(const std::string& title, unsigned uid, const std::string& display);
    // The user's private folder the lock and socket files go in (ending with
    // '/'; made when it is the fallback and missing), or "" with why.
    static std::string RuntimeFolder(std::string* why = nullptr, std::string* note = nullptr);
    // The fallback folder under base for a user: base + "velmora-UID/", made
    // 0700 when missing, used when it is a folder of that user's own (no
    // link) and closed to others. Otherwise the first such folder named
    // base + "velmora-UID-XXXXXX/", made by mkdtemp when there is none, and
    // note says why; "" with why when none can be had.
    static std::string PrivateFolderIn(const std::string& base, std::string* why = nullptr,
                                       std::string* note = nullptr);
    // The socket of title's lock on this user and display, "" with why when
    // there is no folder for it.
    static std::string SocketPath(const std::string& title, std::string* why = nullptr,
                                  std::string* note = nullptr);
    // The display the lock is named after: $DISPLAY, else the path of the
    // Wayland socket (a Wayland session without XWayland), else empty.
    static std::string CurrentDisplay();

  private:
    int fd_ = -1;
    int lockFd_ = -1;
    std::string socketPath_, lockPath_;
    std::string trouble_, holder_, note_;
};

// The process-wide lock of the program, held until the process ends.
InstanceLock& ProgramInstanceLock();

enum class CommandResult {
    Done,     // the running copy took it
    NoCopy,   // none runs for this user and display
    Refused,  // it answered that it does not know the command
    Busy,     // it cannot carry it out now (detail says why)
    NotDone,  // it took it, but carrying it out failed (detail says why)
    Failed,   // no usable answer (detail says why)
};

// Sends a command to the running copy of title on this user and display.
// An argument cannot hold a line break (Failed).
CommandResult SendInstanceCommand(const std::string& title, const std::string& command,
                                  std::string* detail = nullptr,
                                  const std::vector<std::string>& arguments = {});

}  // namespace velmora::platform
