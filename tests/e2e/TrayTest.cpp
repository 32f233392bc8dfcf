// The status icon in an XEmbed system tray (trayer, as older panels are):
// it appears, and a click on it hides and shows the main window. Without a
// tray the program runs as ever and says so once in its log.

#include <thread>

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace std::chrono_literals;

namespace {

class TrayTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupApp]\nMinimizeCapture=0\nSendStats=0\nTrayIcon=1\nNotifySaved=0\n";
    }
    static bool Viewable(const std::string& window) {
        return capture("xwininfo -id " + window + " 2>/dev/null").find("IsViewable") !=
               std::string::npos;
    }
    // The program's log line for a desktop without a tray.
    static constexpr const char* kNoTray = "The desktop has no system tray";
};

TEST_F(TrayTest, IconInAnXEmbedTrayHidesAndShowsTheWindowOnAClick) {
    // At the top right, 32 pixels high: the icon stands at its middle.
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    Program tray({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                  "--height", "32", "--SetDockType", "false"},
                 environment, folder_);
    ASSERT_TRUE(WaitFor([] { return !capture("xdotool search --class trayer").empty(); }))
        << "trayer did not start";
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(window));
    const auto clickIcon = [] { run("xdotool mousemove 1264 16 click 1"); };
    // The icon is embedded once the window is up; each click toggles.
    ASSERT_TRUE(WaitFor([&] {
        clickIcon();
        return WaitFor([&] { return !Viewable(window); }, 1s);
    })) << TodaysLog();
    clickIcon();
    EXPECT_TRUE(WaitFor([&] { return Viewable(window); })) << "a click did not show the window";
    EXPECT_EQ(TodaysLog().find(kNoTray), std::string::npos) << TodaysLog();
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

TEST_F(TrayTest, WithoutATrayOneLogLineAndTheRecordingAsEver) {
    const fs::path out = root_ / "out";
    fs::create_directory(out);
    Program program(folder_, {"-vc", "time=1", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(window));
    // The start of the recording looks for the tray again.
    ASSERT_FALSE(MergedRecording(out).empty()) << TodaysLog();
    const std::string log = TodaysLog();
    ASSERT_NE(log.find(kNoTray), std::string::npos) << log;
    EXPECT_EQ(log.find(kNoTray), log.rfind(kNoTray)) << log;
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
