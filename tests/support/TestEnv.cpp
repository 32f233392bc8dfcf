#include "tests/support/TestEnv.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace velmora::test {
namespace {
std::string var(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
}  // namespace

std::string display24() { return var("VELMORA_DISPLAY24"); }
std::string display16() { return var("VELMORA_DISPLAY16"); }
std::string pulseServer() { return var("PULSE_SERVER"); }

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

}  // namespace velmora::test
