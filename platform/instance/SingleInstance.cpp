#include "platform/instance/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace velmora::platform {
namespace {

// A client that connects and sends nothing must not hold up the running
// copy's UI thread for long; the running copy may be busy for a moment
// (a dialog opening), so the client waits longer for its answer.
constexpr int kCommandWaitMs = 500;
constexpr int kAnswerWaitMs = 5000;
// A command's arguments carry folder names.
constexpr std::size_t kMaxCommandLine = 16384;
constexpr std::size_t kMaxAnswerLine = 512;

struct Address {
    sockaddr_un address{};
    socklen_t size = 0;
};

Address AddressFor(const std::string& title) {
    const std::string name =
        InstanceLock::NameFor(title, ::getuid(), InstanceLock::CurrentDisplay());
    Address a;
    a.address.sun_family = AF_UNIX;
    // Abstract namespace: a leading NUL, then the name (cut to fit).
    const std::size_t length = std::min(name.size(), sizeof a.address.sun_path - 1);
    std::memcpy(a.address.sun_path + 1, name.data(), length);
    a.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    return a;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// Reads up to a '\n' (not kept), the end of the stream or maxLine bytes,
// waiting at most waitMs in all. Nothing on a timeout or an error.
std::optional<std::string> ReadLine(int fd, int waitMs, std::size_t maxLine) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string line;
    while (line.size() < maxLine) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, maxLine - line.size()), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return line;
        line.append(buffer, static_cast<std::size_t>(n));
        if (const auto end = line.find('\n'); end != std::string::npos) return line.substr(0, end);
    }
    return std::nullopt;
}

void SendText(int fd, const std::string& text) {
    // Best effort: a client gone already is no concern of ours.
    [[maybe_unused]] const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

}  // namespace

bool IsInstanceCommand(const std::string& command) {
    return command == "start" || command == "stop" || command == "toggle";
}

InstanceLock::~InstanceLock() {
    Release();
}

std::string InstanceLock::NameFor(const std::string& title, unsigned uid,
                                  const std::string& display) {
    // Drop the screen number: the grabs and the windows belong to the display.
    std::string host = display;
    const auto colon = host.rfind(':');
    if (colon != std::string::npos) {
        const auto dot = host.find('.', colon);
        if (dot != std::string::npos) host.erase(dot);
    }
    return "velmora-instance/" + std::to_string(uid) + "/" + host + "/" + title;
}

std::string InstanceLock::CurrentDisplay() {
    if (const char* x = std::getenv("DISPLAY"); x && *x) return x;
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland) return {};
    // A relative name ("wayland-1") is a socket in the runtime folder: two
    // sessions of one user may both have it.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (*wayland == '/' || !runtime || !*runtime) return wayland;
    return std::string(runtime) + "/" + wayland;
}

bool InstanceLock::Acquire(const std::string& title) {
    if (fd_ >= 0) return true;
    const Address a = AddressFor(title);
    // Only a name in use means another copy. Any other failure (no
    // descriptors left, sockets forbidden) must not keep the program from
    // starting: it then runs without the lock.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return true;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a.address), a.size) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(fd);
        return !taken;
    }
    // Without listening the lock still holds; commands are then refused by
    // the kernel, which the sender reports as no copy running.
    ::listen(fd, 8);
    fd_ = fd;
    return true;
}

void InstanceLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::optional<InstanceCommand> InstanceLock::ReceiveCommand(const Refusal& refusal) {
    if (fd_ < 0) return std::nullopt;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return std::nullopt;
    std::optional<InstanceCommand> command;
    // Another user could reach the abstract name; it gets no answer at all.
    if (PeerIsThisUser(client)) {
        if (const auto line = ReadLine(client, kCommandWaitMs, kMaxCommandLine)) {
            InstanceCommand taken;
            std::size_t at = line->find('\0');
            taken.name = line->substr(0, at);
            while (at != std::string::npos) {
                const std::size_t next = line->find('\0', at + 1);
                taken.arguments.push_back(line->substr(at + 1, next - (at + 1)));
                at = next;
            }
            std::string answer = "unknown\n";
            if (IsInstanceCommand(taken.name)) {
                std::string why = refusal ? refusal(taken) : std::string();
                std::replace(why.begin(), why.end(), '\n', ' ');
                if (why.empty()) {
                    answer = "ok\n";
                    command = std::move(taken);
                } else {
                    answer = "busy " + why.substr(0, kMaxAnswerLine - 8) + "\n";
                }
            }
            SendText(client, answer);
        }
    }
    ::close(client);
    return command;
}

InstanceLock& ProgramInstanceLock() {
    static InstanceLock lock;  // held until the process ends
    return lock;
}

bool AcquireSingleInstance(const std::string& title) {
    return ProgramInstanceLock().Acquire(title);
}

CommandResult SendInstanceCommand(const std::string& title, const std::string& command,
                                  std::string* detail, const std::vector<std::string>& arguments) {
    const auto fail = [detail](CommandResult result, const std::string& why) {
        if (detail) *detail = why;
        return result;
    };
    std::string line = command;
    for (const std::string& argument : arguments) {
        if (argument.find('\n') != std::string::npos)
            return fail(CommandResult::Failed, "a parameter holds a line break: " + argument);
        line += '\0' + argument;
    }
    line += '\n';
    if (line.size() > kMaxCommandLine)
        return fail(CommandResult::Failed, "the parameters are too long");
    const Address a = AddressFor(title);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(CommandResult::Failed, std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.size) != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT) return fail(CommandResult::NoCopy, "");
        return fail(CommandResult::Failed, std::strerror(errno));
    }
    // The name is open to every user: make sure ours holds it before
    // telling it anything.
    if (!PeerIsThisUser(fd))
        return fail(CommandResult::Failed, "the socket is held by another user");
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        return fail(CommandResult::Failed, std::strerror(errno));
    const auto answer = ReadLine(fd, kAnswerWaitMs, kMaxAnswerLine);
    if (!answer) return fail(CommandResult::Failed, "no answer from the running copy");
    if (*answer == "ok") return CommandResult::Done;
    if (*answer == "unknown") return fail(CommandResult::Refused, "");
    if (answer->starts_with("busy ")) return fail(CommandResult::Busy, answer->substr(5));
    return fail(CommandResult::Failed, "unexpected answer \"" + *answer + "\"");
}

}  // namespace velmora::platform
