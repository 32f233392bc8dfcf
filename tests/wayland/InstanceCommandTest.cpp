// Commands to the running copy over the single-instance socket, between
// this process (the holder) and child processes (the senders).

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "platform/instance/SingleInstance.h"
#include "shell/CommandLine.h"
#include "tests/support/ChildProcess.h"

using velmora::platform::CommandResult;
using velmora::platform::InstanceLock;
using velmora::platform::SendInstanceCommand;

namespace {

std::string UniqueTitle(const char* what) {
    return velmora::test::UniqueName("Cmd", what);
}

using velmora::test::InChild;

int Connect(int fd, const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1));
}

// Serves the lock until the sender's child process is done; what it took
// (names only, or also the arguments, each after a '|').
template <typename F>
std::pair<int, std::vector<std::string>> Exchange(InstanceLock& lock, F sender,
                                                  bool withArguments = false,
                                                  const InstanceLock::Refusal& refusal = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(sender());
    std::vector<std::string> taken;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        pollfd p{lock.fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0)
            if (auto command = lock.ReceiveCommand(refusal)) {
                taken.push_back(command->name);
                if (withArguments)
                    for (const std::string& argument : command->arguments)
                        taken.back() += "|" + argument;
            }
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, taken};
}

TEST(InstanceCommands, EachKnownCommandReachesTheHolderAndIsAnswered) {
    const std::string title = UniqueTitle("Known");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    ASSERT_TRUE(lock.held());
    const auto [status, taken] = Exchange(lock, [&] {
        for (const char* c : {"start", "stop", "toggle", "pause", "resume", "pause-toggle"})
            if (SendInstanceCommand(title, c) != CommandResult::Done) return 1;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(taken, (std::vector<std::string>{"start", "stop", "toggle", "pause", "resume",
                                               "pause-toggle"}));
}

// A handed-over recording's folder may be long and hold any byte but a line
// break; empty arguments keep their places.
TEST(InstanceCommands, ArgumentsArriveAsSentAndALineBreakIsRefusedBeforeSending) {
    const std::string title = UniqueTitle("Arguments");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    const std::string folder = "path=/" + std::string(5000, 'a') + "/with\ttab and space/";
    const auto [status, taken] = Exchange(
        lock,
        [&] {
            std::string detail;
            if (SendInstanceCommand(title, "start", nullptr, {"-vc", folder, "", "time=3"}) !=
                CommandResult::Done)
                return 1;
            if (SendInstanceCommand(title, "start", &detail, {"-vc", "path=/a\nb/"}) !=
                    CommandResult::Failed ||
                detail.find("line break") == std::string::npos)
                return 2;
            return SendInstanceCommand(title, "stop") == CommandResult::Done ? 0 : 3;
        },
        true);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(taken, (std::vector<std::string>{"start|-vc|" + folder + "||time=3", "stop"}));
}

TEST(InstanceCommands, UnknownCommandIsRefusedAndNotTaken) {
    const std::string title = UniqueTitle("Unknown");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    const auto [status, taken] = Exchange(lock, [&] {
        return SendInstanceCommand(title, "quit") == CommandResult::Refused &&
                       SendInstanceCommand(title, "Start") == CommandResult::Refused
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(taken.empty());
}

TEST(InstanceCommands, ACommandThatCannotBeCarriedOutNowIsAnsweredWithTheReason) {
    const std::string title = UniqueTitle("Busy");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    const auto [status, taken] = Exchange(
        lock,
        [&] {
            std::string detail, message;
            if (SendInstanceCommand(title, "toggle", &detail) != CommandResult::Busy ||
                detail != "a recording is being saved")
                return 1;
            if (velmora::SendToRunningCopy(title, "start", message) != 1 ||
                message != "velmora: --start: a recording is being saved\n")
                return 2;
            return SendInstanceCommand(title, "stop") == CommandResult::Done ? 0 : 3;
        },
        false,
        [](const velmora::platform::InstanceCommand& command) {
            return command.name == "stop" ? "" : "a recording is being saved";
        });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(taken, std::vector<std::string>{"stop"});
}

// A start is answered once the holder knows whether the recording runs: the
// sender of one that failed exits 1 with the holder's reason.
TEST(InstanceCommands, AStartIsAnsweredWithWhetherTheRecordingRuns) {
    const std::string title = UniqueTitle("Started");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::string message;
        if (velmora::SendToRunningCopy(title, "start", message) != 1 ||
            message != "velmora: --start: Screen capture was refused\n")
            _exit(1);
        _exit(velmora::SendToRunningCopy(title, "toggle", message) == 0 ? 0 : 2);
    }
    const auto answerLater = [](const velmora::platform::InstanceCommand&) { return true; };
    std::vector<std::shared_ptr<velmora::platform::InstanceReply>> replies;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        pollfd p{lock.fd(), POLLIN, 0};
        if (::poll(&p, 1, 20) > 0)
            if (auto command = lock.ReceiveCommand({}, answerLater)) {
                ASSERT_NE(command->reply, nullptr);
                replies.push_back(command->reply);
                // The recording's start takes its time.
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                command->reply->Answer(replies.size() == 1 ? "Screen capture was refused" : "");
            }
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(replies.size(), 2u);
}

TEST(InstanceCommands, WithoutARunningCopyTheSenderFailsClearly) {
    const std::string title = UniqueTitle("Nobody");
    std::string detail;
    EXPECT_EQ(SendInstanceCommand(title, "toggle", &detail), CommandResult::NoCopy);
    std::string message;
    EXPECT_EQ(velmora::SendToRunningCopy(title, "toggle", message), 1);
    EXPECT_NE(message.find("--toggle: no running copy of " + title), std::string::npos) << message;

    // A Wayland session without X: the display by its name, not the
    // socket's path the lock is named after.
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::unsetenv("DISPLAY");
    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    velmora::SendToRunningCopy(title, "toggle", message);
    for (const auto& [name, value] : saved)
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    EXPECT_NE(message.find(" on Wayland display wayland-7\n"), std::string::npos) << message;
    EXPECT_EQ(message.find("/wayland-7"), std::string::npos) << message;
}

TEST(InstanceCommands, ASilentClientDoesNotHoldTheHolderAndTheNextOneIsServed) {
    const std::string title = UniqueTitle("Silent");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    // Connects to the lock's socket and sends nothing.
    const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(Connect(silent, InstanceLock::SocketPath(title)), 0);
    EXPECT_FALSE(lock.ReceiveCommand());  // gives up after its short wait
    ::close(silent);
    const auto [status, taken] = Exchange(
        lock, [&] { return SendInstanceCommand(title, "stop") == CommandResult::Done ? 0 : 1; });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(taken, std::vector<std::string>{"stop"});
}

TEST(InstanceCommands, AnotherUserIsNeitherServedNorAnswered) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string title = UniqueTitle("Stranger");
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(title));
    const std::string path = InstanceLock::SocketPath(title);
    const auto [status, taken] = Exchange(lock, [&] {
        // Another user names our socket directly (its own name differs): our
        // private folder keeps it out.
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0)
            return 2;
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (Connect(fd, path) != 0) return errno == EACCES ? 0 : 3;
        // The holder may have closed already: the send can fail.
        [[maybe_unused]] const ssize_t sent = ::send(fd, "start\n", 6, MSG_NOSIGNAL);
        char answer[16];
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0) return 5;
        return ::recv(fd, answer, sizeof answer, 0) <= 0 ? 0 : 6;  // closed unanswered
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(taken.empty());
}

TEST(InstanceCommands, TheSwitchesAreFoundAnywhereAndOnlyExactly) {
    using velmora::InstanceCommandRequest;
    EXPECT_EQ(InstanceCommandRequest({"path=/a/", "--toggle"}), "toggle");
    EXPECT_EQ(InstanceCommandRequest({"--stop", "--start"}), "stop");
    EXPECT_EQ(InstanceCommandRequest({"--pause-toggle"}), "pause-toggle");
    EXPECT_EQ(InstanceCommandRequest({"time=5", "--resume", "--pause"}), "resume");
    EXPECT_FALSE(InstanceCommandRequest({"-vc", "--START", "start", "-start", "path=--stop"}));
}

TEST(InstanceCommands, WithoutXTheLockIsNamedAfterTheWaylandSocketOfItsSession) {
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"}) {
        const char* value = std::getenv(name);
        saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::unsetenv("DISPLAY");
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/a", 1);
    const std::string first = InstanceLock::CurrentDisplay();
    ::setenv("XDG_RUNTIME_DIR", "/run/b", 1);
    // Two sessions of one user, both with "wayland-1": two running copies.
    EXPECT_EQ(first, "/run/a/wayland-1");
    EXPECT_EQ(InstanceLock::CurrentDisplay(), "/run/b/wayland-1");
    ::setenv("WAYLAND_DISPLAY", "/sock/w", 1);
    EXPECT_EQ(InstanceLock::CurrentDisplay(), "/sock/w");
    ::setenv("DISPLAY", ":3", 1);
    EXPECT_EQ(InstanceLock::CurrentDisplay(), ":3");
    for (const auto& [name, value] : saved)
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
}

}  // namespace
