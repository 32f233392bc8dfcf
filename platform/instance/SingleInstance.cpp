#include "platform/instance/SingleInstance.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/profile/OwnFiles.h"

namespace velmora::platform {
namespace {

// A client that connects and sends nothing must not hold up the running
// copy's UI thread for long; the running copy may be busy for a moment
// (a dialog opening), so the client waits longer for its answer.
constexpr int kCommandWaitMs = 500;
constexpr int kAnswerWaitMs = 5000;
// A start is answered once the recording runs: the desktop may first ask the
// user whether the screen may be shared, and waits two minutes for that.
constexpr int kStartedWaitMs = 150000;
// A command's arguments carry folder names.
constexpr std::size_t kMaxCommandLine = 16384;
constexpr std::size_t kMaxAnswerLine = 512;

struct Address {
    sockaddr_un address{};
    socklen_t size = 0;
};

std::optional<Address> AddressAt(const std::string& path) {
    Address a;
    a.address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof a.address.sun_path) return std::nullopt;
    std::memcpy(a.address.sun_path, path.data(), path.size());
    a.size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return a;
}

std::string WithoutTrailingSlashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// Why folder is not a private folder of this user's own (a folder, not a
// link, closed to others), or "" when it is. One of ours that was opened up
// is not closed again: others may have put files in it meanwhile.
std::string PrivateFolderProblem(const std::string& folder) {
    struct stat link {};
    if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return folder + " is a symbolic link";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return folder + ": " + std::strerror(errno);
    std::string why;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        why = folder + ": " + std::strerror(errno);
    else if (info.st_uid != ::geteuid())
        why = folder + " belongs to " + UserName(info.st_uid);
    else if ((info.st_mode & 077) != 0)
        why = folder + " is open to other users";
    ::close(fd);
    return why;
}

// The first private folder of ours (in name order) whose name is prefix and
// six more characters, as mkdtemp makes them; "" when there is none.
std::string PrivateFolderNamed(const std::string& prefix) {
    const auto slash = prefix.find_last_of('/');
    const std::string parent = prefix.substr(0, slash + 1), start = prefix.substr(slash + 1);
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(parent.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() == start.size() + 6 && name.starts_with(start)) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (PrivateFolderProblem(parent + name).empty()) return parent + name;
    return {};
}

// A short, fixed-length file name for a lock name of any length.
std::string Fingerprint(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The user on the other end of the socket at a, when it is not this one.
std::string OtherUserAt(const Address& a) {
    // Not waiting on a holder whose queue is full: its user then goes unsaid.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return {};
    std::string user;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.size) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid != ::geteuid())
        user = UserName(peer.uid);
    ::close(fd);
    return user;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

// Reads up to a '\n' (not kept), the end of the stream or maxLine bytes,
// waiting at most waitMs in all. Nothing on a timeout or an error. What came
// after the '\n' stays in carry, where the next line starts.
std::optional<std::string> ReadLine(int fd, int waitMs, std::size_t maxLine,
                                    std::string* carry = nullptr) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string line = carry ? std::exchange(*carry, {}) : std::string();
    if (const auto end = line.find('\n'); end != std::string::npos) {
        if (carry) *carry = line.substr(end + 1);
        return line.substr(0, end);
    }
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
        if (const auto end = line.find('\n'); end != std::string::npos) {
            if (carry) *carry = line.substr(end + 1);
            return line.substr(0, end);
        }
    }
    return std::nullopt;
}

void SendText(int fd, const std::string& text) {
    // Best effort: a client gone already is no concern of ours.
    [[maybe_unused]] const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

}  // namespace

bool IsInstanceCommand(const std::string& command) {
    return command == "start" || command == "stop" || command == "toggle" || command == "pause" ||
           command == "resume" || command == "pause-toggle";
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

std::string InstanceLock::PrivateFolderIn(const std::string& base, std::string* why,
                                          std::string* note) {
    const std::string folder =
        WithoutTrailingSlashes(base) + "/velmora-" + std::to_string(::geteuid());
    std::string problem;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        problem = folder + ": " + std::strerror(errno);
    else
        problem = PrivateFolderProblem(folder);
    if (problem.empty()) return folder + "/";
    // Someone else may have had the name first, or opened it up: a folder of
    // our own beside it, found again by every copy and command of this user.
    // A failure of our own (no descriptors left) makes none.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 ||
        (S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0)) {
        if (why) *why = problem;
        return {};
    }
    std::string other = PrivateFolderNamed(folder + "-");
    if (other.empty()) {
        std::string pattern = folder + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            if (why) *why = problem + ", and " + pattern + ": " + std::strerror(errno);
            return {};
        }
        other = pattern;
    }
    if (note) *note = "The runtime folder is not used (" + problem + "): " + other + " instead";
    return other + "/";
}

std::string InstanceLock::RuntimeFolder(std::string* why, std::string* note) {
    std::string runtimeProblem;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
        const std::string folder = WithoutTrailingSlashes(runtime);
        // Not ours to change: a runtime folder open to others is passed over.
        runtimeProblem = PrivateFolderProblem(folder);
        if (runtimeProblem.empty()) return folder + "/";
    }
    const std::string folder = PrivateFolderIn("/tmp", why, note);
    if (folder.empty() && why && !runtimeProblem.empty())
        *why = "XDG_RUNTIME_DIR " + runtimeProblem + ", and " + *why;
    return folder;
}

std::string InstanceLock::SocketPath(const std::string& title, std::string* why,
                                     std::string* note) {
    const std::string folder = RuntimeFolder(why, note);
    if (folder.empty()) return {};
    return folder + "velmora-" + Fingerprint(NameFor(title, ::geteuid(), CurrentDisplay())) +
           ".sock";
}

bool InstanceLock::Acquire(const std::string& title) {
    if (fd_ >= 0) return true;
    trouble_.clear();
    holder_.clear();
    note_.clear();
    // Only a lock held by another process means another copy. Any other
    // failure (no private folder, no descriptors left, sockets forbidden)
    // must not keep the program from starting: it then runs without the lock.
    std::string why;
    const std::string socketPath = SocketPath(title, &why, &note_);
    if (socketPath.empty()) {
        trouble_ = why;
        return true;
    }
    const auto address = AddressAt(socketPath);
    if (!address) {
        trouble_ = "the name is too long for a socket: " + socketPath;
        return true;
    }
    const std::string lockPath = socketPath.substr(0, socketPath.size() - 5) + ".lock";
    int lock = -1;
    // A holder removes its lock file as it lets go: a lock taken on a file
    // removed meanwhile is no lock, and the file is opened again.
    for (int attempt = 0; lock < 0; ++attempt) {
        lock = ::open(lockPath.c_str(),
                      O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
        if (lock < 0) {
            trouble_ = lockPath + ": " + std::strerror(errno);
            return true;
        }
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(lock);
            if (error == EWOULDBLOCK) {
                holder_ = OtherUserAt(*address);
                return false;
            }
            trouble_ = lockPath + ": " + std::strerror(error);
            return true;
        }
        struct stat locked {};
        struct stat named {};
        if (::fstat(lock, &locked) != 0 || ::stat(lockPath.c_str(), &named) != 0 ||
            locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) {
            ::close(lock);
            lock = -1;
            if (attempt == 8) {
                trouble_ = lockPath + " keeps changing";
                return true;
            }
        }
    }
    // A socket file left by a copy that died is replaced.
    ::unlink(socketPath.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address->address), address->size) != 0) {
        trouble_ = socketPath + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        ::close(lock);
        return true;
    }
    // Without listening the lock still holds; commands are then refused by
    // the kernel, which the sender reports as no copy running.
    ::listen(fd, 8);
    fd_ = fd;
    lockFd_ = lock;
    socketPath_ = socketPath;
    lockPath_ = lockPath;
    return true;
}

void InstanceLock::Release() {
    if (fd_ >= 0) {
        // Still under the lock: no later holder's socket can be taken away.
        ::unlink(socketPath_.c_str());
        ::unlink(lockPath_.c_str());
        ::close(fd_);
        ::close(lockFd_);
    }
    fd_ = lockFd_ = -1;
}

InstanceReply::~InstanceReply() {
    ::close(fd_);
}

void InstanceReply::Answer(const std::string& failure) {
    if (answered_) return;
    answered_ = true;
    std::string why = failure.substr(0, kMaxAnswerLine - 10);
    std::replace(why.begin(), why.end(), '\n', ' ');
    SendText(fd_, why.empty() ? std::string("ok\n") : "failed " + why + "\n");
}

std::optional<InstanceCommand> InstanceLock::ReceiveCommand(const Refusal& refusal,
                                                            const AnswerLater& answerLater) {
    if (fd_ < 0) return std::nullopt;
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return std::nullopt;
    std::optional<InstanceCommand> command;
    // Root of another session can reach any folder; another user gets no
    // answer at all.
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
                    if (answerLater && answerLater(taken)) {
                        answer = "wait\n";
                        taken.reply = std::make_shared<InstanceReply>(::dup(client));
                    }
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
    std::string why;
    const std::string path = InstanceLock::SocketPath(title, &why);
    if (path.empty()) return fail(CommandResult::Failed, why);
    const auto address = AddressAt(path);
    if (!address) return fail(CommandResult::Failed, "the name is too long for a socket: " + path);
    const Address& a = *address;
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
    // Root may have put a socket in our folder: make sure ours holds it
    // before telling it anything.
    if (!PeerIsThisUser(fd))
        return fail(CommandResult::Failed, "the socket is held by another user");
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        return fail(CommandResult::Failed, std::strerror(errno));
    std::string carry;
    auto answer = ReadLine(fd, kAnswerWaitMs, kMaxAnswerLine, &carry);
    if (answer && *answer == "wait") {
        answer = ReadLine(fd, kStartedWaitMs, kMaxAnswerLine, &carry);
        if (!answer)
            return fail(CommandResult::Failed, "the running copy did not say whether it started");
        if (answer->starts_with("failed ")) return fail(CommandResult::NotDone, answer->substr(7));
    }
    if (!answer) return fail(CommandResult::Failed, "no answer from the running copy");
    if (*answer == "ok") return CommandResult::Done;
    if (*answer == "unknown") return fail(CommandResult::Refused, "");
    if (answer->starts_with("busy ")) return fail(CommandResult::Busy, answer->substr(5));
    return fail(CommandResult::Failed, "unexpected answer \"" + *answer + "\"");
}

}  // namespace velmora::platform
