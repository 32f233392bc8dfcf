// The whole program on the private Xvfb with openbox, each test in its own
// copy of the program folder, closed through the window manager as a user
// would close it.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <ctime>

#include "tests/e2e/ProgramHarness.h"

#include "platform/instance/SingleInstance.h"
#include "platform/x11/HotKeys.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::display24;

namespace {

struct XConnection {
    XConnection() : c(xcb_connect(display24().c_str(), nullptr)) {}
    ~XConnection() { xcb_disconnect(c); }
    xcb_connection_t* c;
};

TEST_F(ProgramTest, SecondCopyExitsWithZeroAndTheFirstKeepsRunning) {
    Program first(folder_, {});
    const std::string mainWindow = first.WaitForWindow(kMainTitle);
    ASSERT_FALSE(mainWindow.empty());

    Program second(folder_, {"path=" + root_.string() + "/"});
    const std::string notice = second.WaitForWindow("Velmora");
    ASSERT_FALSE(notice.empty()) << "no \"already running\" box";
    EXPECT_TRUE(second.Window(kMainTitle).empty());
    second.Close(notice);
    EXPECT_EQ(second.Exit(), 0);

    EXPECT_TRUE(first.Running());
    EXPECT_EQ(first.Window(kMainTitle), mainWindow);
    EXPECT_FALSE(fs::exists(folder_ / "Setup.ini")) << "the second copy wrote settings";
    first.Close(mainWindow);
    EXPECT_EQ(first.Exit(), 0);
}

// Runs the shell line in folder: what it printed on stderr, then "status=N"
// (137 when it still ran, say behind a message box, after 20 s).
std::string RunQuietly(const fs::path& folder, const std::string& line) {
    return capture("cd '" + folder.string() + "' && timeout -s KILL 20 " + line +
                   " 2>&1 >/dev/null; echo status=$?");
}

TEST_F(ProgramTest, AnUnknownOptionIsRefusedBeforeAnythingStartsAndExitsTwo) {
    const std::string usage =
        "Usage: velmora [-vc] [path=FOLDER] [time=SECONDS] [delay=SECONDS] [format=avi|mp4|mkv]\n"
        "               [window=ID|TITLE] [monitor=NAME|all] [preset=NAME]\n";
    // No display is needed to be told: it is answered before the toolkit.
    EXPECT_EQ(RunQuietly(folder_, "env -u DISPLAY -u WAYLAND_DISPLAY ./velmora -VC --record"),
              "velmora: unknown option --record\n" + usage +
                  "       velmora --start | --stop | --toggle | --pause | --resume | "
                  "--pause-toggle\nstatus=2\n");
    EXPECT_FALSE(fs::exists(folder_ / "Logs"));
    EXPECT_FALSE(fs::exists(folder_ / "Setup.ini"));

    // With a copy running, no second one sits behind an "already running" box.
    Program first(folder_, {});
    const std::string mainWindow = first.WaitForWindow(kMainTitle);
    ASSERT_FALSE(mainWindow.empty());
    const std::pair<std::string, std::string> cases[] = {
        {"tme=5", "tme=5"}, {"--HELP", "--HELP"}, {"-vc -platform xcb --stop-now", "--stop-now"}};
    for (const auto& [arguments, unknown] : cases) {
        const std::string said = RunQuietly(folder_, "./velmora " + arguments);
        EXPECT_TRUE(said.starts_with("velmora: unknown option " + unknown + "\n" + usage)) << said;
        EXPECT_TRUE(said.ends_with("status=2\n")) << said;
    }
    // Qt's own options are no strangers; the command goes to the running copy.
    EXPECT_EQ(RunQuietly(folder_, "./velmora -style Fusion --stop"), "status=0\n");
    first.Close(mainWindow);
    EXPECT_EQ(first.Exit(), 0);
}

TEST_F(ProgramTest, FirstStartCreatesSettingsAtExitAndHoldsTheHotKeysWhileRunning) {
    const std::string out = (folder_ / "Out Mixed/").string();
    fs::create_directory(out);
    Program program(folder_, {"PATH=" + out, "time=abc"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    EXPECT_FALSE(fs::exists(folder_ / "Setup.ini"));

    // F9 and F10 belong to the program now; another client cannot take them.
    XConnection other;
    {
        velmora::platform::HotKeys keys(other.c);
        EXPECT_FALSE(keys.Register(1, velmora::platform::kVkF9));
        EXPECT_FALSE(keys.Register(2, velmora::platform::kVkF10));
    }
    EXPECT_NE(TodaysLog().find(" - The time= parameter is not a number"), std::string::npos)
        << TodaysLog();

    program.Close(window);
    ASSERT_EQ(program.Exit(), 0);
    const std::string ini = Slurp(folder_ / "Setup.ini");
    for (const char* key : {"[Setup]\nLanguage=English\n",
                            "[SetupApp]\n",
                            "MinimizeCapture=0\n",
                            "RestoreAfterRecord=1\n",
                            "SendStats=1\n",
                            "[SetupVideo]\n",
                            "TypeCapture=1\n",
                            "VideoFPS=15\n",
                            "KeyFramesFreq=8\n",
                            "CodecIndex=",
                            "VideoQuality=90\n",
                            "RegionTopPos=0\n",
                            "RegionLeftPos=0\n",
                            "RegionWidthPos=1280\n",
                            "RegionHeightPos=720\n",
                            "CaptureCursor=1\n",
                            "[SetupAudio]\n",
                            "AudioRecordEnable=0\n",
                            "AudioFormatIndex=-1\n",
                            "AudioInputIndex=-1\n",
                            "AudioInputGain=100\n"})
        EXPECT_NE(ini.find(key), std::string::npos) << key << " missing from\n" << ini;
    // The folder from the command line, exactly as written.
    EXPECT_NE(ini.find("\nWorkDir=" + out + "\n"), std::string::npos) << ini;

    // Gone with the program.
    {
        velmora::platform::HotKeys keys(other.c);
        EXPECT_TRUE(keys.Register(1, velmora::platform::kVkF9));
        EXPECT_TRUE(keys.Register(2, velmora::platform::kVkF10));
    }
}

TEST_F(ProgramTest, ACrashsTemporaryFilesSurviveAStartAndACloseWithoutRecording) {
    // What a killed recording leaves in the output folder (the program folder
    // by default).
    std::ofstream(folder_ / "~tempvideo.avi") << "RIFF of a crashed recording";
    std::ofstream(folder_ / "~tempaudio.wav") << "RIFF of its sound";
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    // The start offers them; No leaves them.
    const std::string box = program.WaitForWindow("Notice");
    ASSERT_FALSE(box.empty()) << "no question";
    run("xdotool windowactivate --sync " + box + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Notice").empty(); }));
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    EXPECT_EQ(Slurp(folder_ / "~tempvideo.avi"), "RIFF of a crashed recording");
    EXPECT_EQ(Slurp(folder_ / "~tempaudio.wav"), "RIFF of its sound");
}

TEST_F(ProgramTest, AFolderThatCannotTakeRecordingsIsRefusedAndNeverSaved) {
    const std::string out = (root_ / "out/").string();
    fs::create_directory(out);
    std::ofstream(folder_ / "Setup.ini") << "[SetupVideo]\nWorkDir=" << out << "\n";
    const std::string longName = "/" + std::string(5000, 'a') + "/";
    Program program(folder_,
                    {"path=/proc/", "path=/dev/", "path=" + longName, "path=" + out + "missing/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    program.Close(window);
    ASSERT_EQ(program.Exit(), 0);
    const std::string log = TodaysLog();
    for (const std::string& folder :
         {std::string("/proc/"), std::string("/dev/"), longName, out + "missing/"})
        EXPECT_NE(log.find(" - The folder cannot be used for recordings: " + folder + ": "),
                  std::string::npos)
            << log.substr(0, 2000);
    EXPECT_NE(log.find(out + "missing/: No such file or directory"), std::string::npos);
    EXPECT_NE(log.find("/dev/: Not a folder for files (a system folder)"), std::string::npos);
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("\nWorkDir=" + out + "\n"), std::string::npos)
        << Slurp(folder_ / "Setup.ini");
}

// WorkDir=/dev/ in the settings, where root could write: the recording the
// command line asks for does not start there, and the log says why.
TEST_F(ProgramTest, ASystemFolderInTheSettingsTakesNoRecording) {
    std::ofstream(folder_ / "Setup.ini") << "[SetupVideo]\nWorkDir=/dev/\n";
    auto ours = [] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator("/dev")) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("~temp") || name.starts_with("VideoRecord_"))
                names.push_back(name);
        }
        return names;
    };
    const auto before = ours();
    Program program(folder_, {"-vc", "time=1"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const std::string refusal =
        " - Error on create AVI file. /dev/: Not a folder for files (a system folder)\n";
    EXPECT_TRUE(WaitFor([&] { return TodaysLog().find(refusal) != std::string::npos; }))
        << TodaysLog();
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    EXPECT_EQ(ours(), before);
}

// Setup.ini or the language file as a named pipe, a folder or a device: read
// as missing at once (defaults, English captions), never waited on.
TEST_F(ProgramTest, SettingsAndLanguageThatAreNoFilesGiveDefaultsAtOnce) {
    for (const std::string kind : {"pipe", "folder", "device"}) {
        for (const fs::path& file : {folder_ / "Setup.ini", folder_ / "Language/English.lng"}) {
            SCOPED_TRACE(kind + " as " + file.filename().string());
            const fs::path saved = root_ / "saved.lng";
            const bool language = file.extension() == ".lng";
            if (language) fs::rename(file, saved);
            if (kind == "pipe") {
                ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
            }
            if (kind == "folder") fs::create_directory(file);
            if (kind == "device") fs::create_symlink("/dev/zero", file);
            const auto started = std::chrono::steady_clock::now();
            Program program(folder_, {});
            const std::string window = program.WaitForWindow(kMainTitle);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("%s as %s: window after %.2f s\n", kind.c_str(), file.filename().c_str(),
                        seconds);
            EXPECT_FALSE(window.empty());
            ::kill(program.pid(), SIGTERM);
            EXPECT_EQ(program.Exit(), 0);
            fs::remove_all(file);
            if (language) fs::rename(saved, file);
            fs::remove(folder_ / "Setup.ini");
        }
    }
}

TEST_F(ProgramTest, SettingsThatCannotBeWrittenAreReportedAndTheWindowStillCloses) {
    fs::create_directory(folder_ / "Setup.ini");
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    program.Close(window);

    const std::string box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty()) << "no message box";
    const std::string message = "Unable to write to " + (folder_ / "Setup.ini").string();
    EXPECT_NE(TodaysLog().find(message + " - The settings of this session are not saved."),
              std::string::npos)
        << TodaysLog();
    program.Close(box);

    EXPECT_EQ(program.Exit(), 0);
    EXPECT_TRUE(fs::is_directory(folder_ / "Setup.ini"));
}

// Another user who takes the name an abstract lock socket would have
// (anyone may bind any abstract name) keeps nobody's copy from starting: the
// lock is a socket in the user's own runtime folder, and goes at the exit.
TEST_F(ProgramTest, AnotherUsersSocketUnderTheLockNameDoesNotKeepTheProgramOut) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    const std::string name =
        velmora::platform::InstanceLock::NameFor("Velmora", ::geteuid(), display24());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t squatter = ::fork();
    if (squatter == 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool ok =
            ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0 &&
            ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                   static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())) ==
                0 &&
            ::listen(fd, 4) == 0;
        (void)!::write(ready[1], ok ? "1" : "0", 1);
        ::pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ok, '1');
    {
        Program program(folder_, {});
        const std::string window = program.WaitForWindow(kMainTitle);
        EXPECT_FALSE(window.empty()) << "kept out by another user's socket\n" << TodaysLog();
        const std::string socket = velmora::platform::InstanceLock::SocketPath("Velmora");
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        ASSERT_TRUE(runtime);
        EXPECT_EQ(socket.rfind(std::string(runtime) + "/", 0), 0u) << socket;
        EXPECT_TRUE(fs::is_socket(socket)) << socket;
        if (!window.empty()) program.Close(window);
        EXPECT_EQ(program.Exit(), 0);
        EXPECT_FALSE(fs::exists(socket)) << socket;
    }
    ::kill(squatter, SIGKILL);
    ::waitpid(squatter, nullptr, 0);
}

// Setup.ini and the day's log as another user's links to root's files
// elsewhere: root's copy writes through neither, says so once, and keeps the
// log in a file of its own. The same links made root's own are followed.
TEST_F(ProgramTest, SettingsAndLogAsAnotherUsersLinksAreNotWrittenThrough) {
    if (::geteuid() != 0) GTEST_SKIP() << "other users' links need root";
    const fs::path elsewhere = root_ / "elsewhere";
    fs::create_directory(elsewhere);
    const fs::path settings = elsewhere / "settings", log = elsewhere / "log";
    std::ofstream(settings) << "original settings\n";
    std::ofstream(log) << "original log\n";
    const std::time_t now = std::time(nullptr);
    char day[32];
    std::strftime(day, sizeof day, "Log_%Y-%m-%d.log", std::localtime(&now));
    fs::create_directory(folder_ / "Logs");
    const fs::path settingsLink = folder_ / "Setup.ini", logLink = folder_ / "Logs" / day;
    fs::create_symlink(settings, settingsLink);
    fs::create_symlink(log, logLink);
    for (const fs::path& link : {settingsLink, logLink})
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
    {
        Program program(folder_, {});
        const std::string window = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(window.empty());
        program.Close(window);
        const std::string box = program.WaitForWindow("Velmora");
        ASSERT_FALSE(box.empty()) << "no message box\n" << TodaysLog();
        program.Close(box);
        EXPECT_EQ(program.Exit(), 0);
    }
    EXPECT_EQ(Slurp(settings), "original settings\n");
    EXPECT_EQ(Slurp(log), "original log\n");
    EXPECT_TRUE(fs::is_symlink(settingsLink) && fs::is_symlink(logLink));
    const std::string own = Slurp(folder_ / "Logs" / (std::string(day, 14) + "-1.log"));
    const auto count = [&](const std::string& part) {
        std::size_t n = 0;
        for (auto at = own.find(part); at != std::string::npos; at = own.find(part, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(settingsLink.string() + " is a link not followed (the link " +
                    settingsLink.string() + " belongs to "),
              1u)
        << own;
    EXPECT_EQ(count(std::string(day) + " is not used ("), 1u) << own;
    EXPECT_EQ(count("Unable to write to " + settingsLink.string() +
                    " - The settings of this session are not saved."),
              1u)
        << own;

    for (const fs::path& link : {settingsLink, logLink}) ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
    {
        Program program(folder_, {});
        const std::string window = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(window.empty());
        program.Close(window);
        EXPECT_EQ(program.Exit(), 0);
    }
    EXPECT_NE(Slurp(settings).find("[SetupVideo]\nWorkDir="), std::string::npos) << Slurp(settings);
    EXPECT_NE(Slurp(log).find(" - Settings: "), std::string::npos) << Slurp(log);
    EXPECT_TRUE(fs::is_symlink(settingsLink) && fs::is_symlink(logLink));
}

}  // namespace
