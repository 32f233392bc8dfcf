#pragma once
// Tests that need a second process: a fork whose body's result is its exit
// status, and names unique to this test process.

#include <sys/wait.h>
#include <unistd.h>

#include <string>

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

}  // namespace velmora::test
