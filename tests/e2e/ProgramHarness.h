#pragma once
// Runs copies of the whole program on the private Xvfb with openbox, each in
// its own temporary program folder, and looks at them from outside as a user
// (and the window manager) would.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestEnv.h"

namespace velmora::e2e {

namespace fs = std::filesystem;
using velmora::test::capture;
using velmora::test::display24;
using velmora::test::run;

constexpr auto kPatience = std::chrono::seconds(20);

// The recordings the program made in folder: "VideoRecord_" + time (+ "_n") +
// ".avi", ".mp4" or ".mkv".
inline std::vector<fs::path> Recordings(const fs::path& folder) {
    std::vector<fs::path> found;
    static const std::regex name(R"(VideoRecord_\d{8}_\d{6}(_\d+)?\.(avi|mp4|mkv))");
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (std::regex_match(entry.path().filename().string(), name))
                found.push_back(entry.path());
    return found;
}

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <typename F>
bool WaitFor(F condition, std::chrono::milliseconds patience = kPatience) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// A file's size now; 0 while it is not there.
inline std::uintmax_t SizeOf(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : size;
}

// Waits until a file a recording writes has grown `times` times after this
// call. The recorder appends each frame as it is taken, so every growth seen
// is at least one more frame on the disk.
inline bool WaitForGrowth(const fs::path& file, int times = 1,
                          std::chrono::milliseconds patience = kPatience) {
    std::uintmax_t last = SizeOf(file);
    int grown = 0;
    return WaitFor(
        [&] {
            const std::uintmax_t now = SizeOf(file);
            if (now > last) ++grown;
            last = now;
            return grown >= times;
        },
        patience);
}

inline constexpr const char* kMainTitle = "Velmora 1.0.4";

// The main window's title while it records: "● 0:42 - Velmora", or with
// "❚❚" while paused.
inline bool RecordingTitle(const std::string& name) {
    return name.ends_with(" - Velmora") &&
           (name.starts_with("\u25CF ") || name.starts_with("\u275A\u275A "));
}

// A running copy of the program.
class Program {
  public:
    // environment: NAME=VALUE pairs added to the program's environment.
    Program(const fs::path& folder, std::vector<std::string> args,
            const std::vector<std::string>& environment = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.emplace_back(*e);
        // The sanitizer build of the program leaves the system libraries'
        // caches (D-Bus, fonts) for the exit; they are not our leaks.
        std::vector<std::string> added = environment;
        added.push_back("LSAN_OPTIONS=suppressions=" +
                        (folder.parent_path() / "lsan.supp").string() + ":print_suppressions=0");
        for (const std::string& pair : added) {
            if (pair.find('=') == std::string::npos) continue;
            const std::string name = pair.substr(0, pair.find('=') + 1);
            std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
            env.push_back(pair);
        }
        args.insert(args.begin(), (folder / "velmora").string());
        Start(args, env, folder, false);
    }
    // Runs command (found on PATH) in folder with exactly this environment.
    Program(std::vector<std::string> command, std::vector<std::string> environment,
            const fs::path& folder) {
        Start(command, environment, folder, true);
    }
    ~Program() {
        if (!exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

    // Exit status, or nothing while it still runs after the wait.
    std::optional<int> Exit(std::chrono::milliseconds patience = kPatience) {
        if (!exited_)
            WaitFor(
                [&] {
                    int status = 0;
                    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
                    exited_ = true;
                    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                    return true;
                },
                patience);
        if (!exited_) return std::nullopt;
        return status_;
    }
    bool Running() { return !Exit(std::chrono::milliseconds(0)); }

    // The id of this process's window with exactly this title, or "". The
    // main window is found by its own title while it records too.
    std::string Window(const std::string& title) const {
        std::istringstream lines(capture("wmctrl -lp"));
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string id, desktop, pid, host, name;
            fields >> id >> desktop >> pid >> host;
            std::getline(fields >> std::ws, name);
            if (pid == std::to_string(pid_) &&
                (name == title || (title == kMainTitle && RecordingTitle(name))))
                return id;
        }
        return {};
    }
    std::string WaitForWindow(const std::string& title) const {
        std::string id;
        WaitFor([&] { return !(id = Window(title)).empty(); });
        return id;
    }
    void Close(const std::string& windowId) const { run("wmctrl -i -c " + windowId); }
    // Waits until the window is mapped with its frame: the window manager
    // lists it a little before, when clicks may still go past it.
    static bool WaitViewable(const std::string& window) {
        return !window.empty() && WaitFor([&] {
            return capture("xwininfo -id " + window + " 2>/dev/null").find("IsViewable") !=
                   std::string::npos;
        });
    }
    // Clicks the point (x, y) of a window at scale 1; false when the window
    // has no place on the screen.
    static bool Click(const std::string& window, int x, int y) {
        const std::string geometry = capture("xdotool getwindowgeometry --shell " + window);
        std::smatch m;
        if (!std::regex_search(geometry, m, std::regex(R"(X=(\d+)\s+Y=(\d+))"))) return false;
        run("xdotool mousemove " + std::to_string(std::stoi(m[1]) + x) + " " +
            std::to_string(std::stoi(m[2]) + y) + " click 1");
        return true;
    }
    // The Options button, the gears at the top right of the main window;
    // Pause and Resume take its place while recording.
    static constexpr int kOptionsX = 233, kOptionsY = 30;
    // Clicks the Options button and gives the dialog the focus: its window
    // id, or "".
    std::string OpenOptions(const std::string& mainWindow) const {
        if (!Click(mainWindow, kOptionsX, kOptionsY)) return {};
        const std::string options = WaitForWindow("Options");
        if (!options.empty()) run("xdotool windowactivate --sync " + options);
        return options;
    }

  private:
    // Everything is made before the fork: the test runs threads, and the
    // child may only make async-signal-safe calls before exec (a malloc
    // there can wait forever on a lock another thread held at the fork).
    void Start(std::vector<std::string>& command, std::vector<std::string>& environment,
               const fs::path& folder, bool searchPath) {
        std::vector<char*> argv, envp;
        for (auto& a : command) argv.push_back(a.data());
        for (auto& e : environment) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const std::string dir = folder.string();
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ != 0) return;
        // A test that crashes or is killed by its time-out takes the program
        // with it, so it cannot hold the slot's hot keys and lock for the next.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(127);
        if (::chdir(dir.c_str()) != 0) _exit(126);
        if (searchPath)
            ::execvpe(argv[0], argv.data(), envp.data());
        else
            ::execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

class ProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        if (display24().empty()) GTEST_SKIP() << "no test display";
        // In the build tree, on the program's own file system, so the
        // program folder can link the program instead of copying it.
        const fs::path build = VELMORA_BUILD_DIR;
        fs::create_directories(build / "test-tmp");
        std::string pattern = (build / "test-tmp" / "velmora-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = root_ / "program";
        fs::create_directory(folder_);
        std::ofstream(root_ / "lsan.supp") << "leak:libfontconfig.so\nleak:libharfbuzz.so\n"
                                              "leak:libfreetype.so\nleak:libdbus-1.so\n";
        // The program finds its folder through /proc/self/exe: a hard link
        // (not a symbolic one, which it would resolve) makes it this folder.
        fs::create_hard_link(build / "velmora", folder_ / "velmora");
        fs::create_directory(folder_ / "Language");
        for (const auto& file : fs::directory_iterator(build / "Language"))
            fs::create_hard_link(file.path(), folder_ / "Language" / file.path().filename());
    }
    void TearDown() override {
        if (!root_.empty()) fs::remove_all(root_);
    }
    std::string TodaysLog() const {
        std::string text;
        if (fs::exists(folder_ / "Logs"))
            for (const auto& entry : fs::directory_iterator(folder_ / "Logs"))
                text += Slurp(entry.path());
        return text;
    }

    // The one recording in out once its merge has been logged, or "".
    fs::path MergedRecording(const fs::path& out) const {
        const bool merged = WaitFor(
            [&] {
                return Recordings(out).size() == 1 &&
                       TodaysLog().find(" - Video file saved\n") != std::string::npos;
            },
            std::chrono::seconds(40));
        return merged ? Recordings(out).front() : fs::path();
    }

    fs::path root_, folder_;
};

}  // namespace velmora::e2e
