#pragma once
// Tests that need a second process: a fork whose body's result is its exit
// status, and names unique to this test process.

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace velmora::test {

// prefix + what + this process's id, so parallel test runs never share it.
inline std::string UniqueName(const char* prefix, const char* what) {
    return std::string(prefix) + what + std::to_string(::getpid());
}

// Runs body in a child process and returns its exit status (-1: it did not
// exit normally).
template <typename F>
int InChild(F body) {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts args[0] (a full path) with this environment; its standard output
// goes to stdoutFd when given. -1 when it cannot be started. The process is
// killed when this test process ends, however it ends: a stub left behind by
// a test that crashed would hold the test runner's output pipe open, and the
// runner would wait for it until its time-out.
inline pid_t Spawn(const std::vector<std::string>& args, int stdoutFd = -1) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    int ready[2];  // closed by a successful exec, else carries its errno
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(127);  // the parent is already gone
        if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
        ::execve(argv[0], argv.data(), environ);
        const int error = errno;
        (void)!::write(ready[1], &error, sizeof error);
        _exit(127);
    }
    ::close(ready[1]);
    int error = 0;
    const bool failed = pid < 0 || ::read(ready[0], &error, sizeof error) == sizeof error;
    ::close(ready[0]);
    if (failed && pid > 0) ::waitpid(pid, nullptr, 0);
    return failed ? -1 : pid;
}

// Ends a spawned process and waits for it.
inline void StopSpawned(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// A private dbus-daemon; address receives its address (empty on failure).
// It starts no service on demand: the machine's own (xdg-desktop-portal,
// for one) would answer in place of the test's, and outlive the test.
inline pid_t StartPrivateBus(std::string& address) {
    address.clear();
    const std::string config = "/tmp/" + UniqueName("velmora-bus-", ".conf");
    if (FILE* f = std::fopen(config.c_str(), "w")) {
        std::fputs(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>\n"
            "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>\n"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n",
            f);
        std::fclose(f);
    }
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t bus = Spawn({"/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork",
                             "--print-address=1"},
                            fds[1]);
    ::close(fds[1]);
    char c;
    while (bus > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') address += c;
    ::close(fds[0]);
    std::remove(config.c_str());
    return bus;
}

}  // namespace velmora::test
