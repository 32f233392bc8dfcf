#include "tests/support/TestEnv.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

// Leaks inside the system's own libraries (font, shaping and bus caches
// that live until exit) are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n"
           "leak:libdbus-1.so\n"
           // Qt DBus keeps what it learnt of a remote interface (a tray
           // watcher's) for the connection's life.
           "leak:libQt6DBus.so\n";
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

// The slot CTest gave this test ("id:K,slots:1"), else 0.
std::string serverSlot() {
    const std::string group = var("CTEST_RESOURCE_GROUP_0_SERVERS");
    if (group.rfind("id:", 0) != 0) return "0";
    return group.substr(3, group.find(',') - 3);
}

void loadFixtureEnvironment() {
    if (const char* dir = std::getenv("VELMORA_TEST_ENV")) {
        const std::string base = std::string(dir) + "/slot-" + serverSlot();
        loadEnvFile(base + "/x11.env");
        loadEnvFile(base + "/audio.env");
    }
    // Everything this test starts inherits the mark, so what is left
    // running at its end can be found (finishTests).
    setenv("VELMORA_TEST_OWNER", std::to_string(::getpid()).c_str(), 1);
}

int finishTests(int result) {
    namespace fs = std::filesystem;
    const std::string mark = "VELMORA_TEST_OWNER=" + std::to_string(::getpid());
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == std::to_string(::getpid()))
            continue;
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        const std::string vars{std::istreambuf_iterator<char>(environ),
                               std::istreambuf_iterator<char>()};
        if (vars.find(mark + '\0') == std::string::npos) continue;
        std::ifstream statusFile(entry.path() / "status");
        std::string line, state;
        while (std::getline(statusFile, line))
            if (line.rfind("State:", 0) == 0) state = line;
        if (state.find('Z') != std::string::npos) continue;  // ended, not yet reaped
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        std::string command{std::istreambuf_iterator<char>(cmdline),
                            std::istreambuf_iterator<char>()};
        for (char& c : command)
            if (c == '\0') c = ' ';
        std::cerr << "A test left this process running: " << pid << " " << command << "\n";
        result = 1;
    }
    return result;
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
