#include "tests/support/TestEnv.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>

// Leaks inside the system's own libraries (font, shaping and bus caches
// that live until exit) are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n"
           "leak:libdbus-1.so\n";
}

namespace velmora::test {
namespace {
std::string var(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void loadEnvFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        setenv(key.c_str(), value.c_str(), 1);
        if (key == "DISPLAY") setenv("VELMORA_DISPLAY24", value.c_str(), 1);
    }
}
}  // namespace

void loadFixtureEnvironment() {
    if (const char* dir = std::getenv("VELMORA_TEST_ENV")) {
        const std::string base = dir;
        loadEnvFile(base + "/x11.env");
        loadEnvFile(base + "/audio.env");
    }
}

std::string display24() {
    return var("VELMORA_DISPLAY24");
}
std::string display16() {
    return var("VELMORA_DISPLAY16");
}
std::string displayRandr() {
    return var("VELMORA_DISPLAY_RANDR");
}

void applyRequestedScaling(int argc, char** argv) {
    std::string scale, dpi;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--qt-scale=", 0) == 0) scale = arg.substr(11);
        if (arg.rfind("--xft-dpi=", 0) == 0) dpi = arg.substr(10);
    }
    if (!scale.empty()) setenv("QT_SCALE_FACTOR", scale.c_str(), 1);
    if (dpi.empty()) {
        if (!displayRandr().empty()) run("DISPLAY=" + displayRandr() + " xrdb -nocpp -remove");
        return;
    }
    if (displayRandr().empty()) return;
    setenv("DISPLAY", displayRandr().c_str(), 1);
    setenv("VELMORA_DISPLAY24", displayRandr().c_str(), 1);
    run("echo 'Xft.dpi: " + dpi + "' | xrdb -nocpp -merge");
}

std::string pulseServer() {
    return var("PULSE_SERVER");
}

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
