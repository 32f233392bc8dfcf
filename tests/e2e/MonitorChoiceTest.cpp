// Full Screen with two monitors side by side (the left one primary, with
// the program's window; the right one blue): `monitor=NAME` records that monitor for its one
// recording, a name no monitor has records nothing and says which there
// are, and the monitor picked from Full Screen's menu is kept in Setup.ini
// and recorded from then on.

#include <memory>
#include <regex>

#include "tests/e2e/ProgramHarness.h"
#include "tests/support/RandrServer.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;

namespace {

std::string IniValue(const std::string& text, const std::string& key) {
    std::smatch m;
    if (std::regex_search(text, m, std::regex("(^|\n)" + key + "=([^\r\n]*)"))) return m[2];
    return {};
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Size(const fs::path& file) {
    return capture("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" +
                   file.string() + "'");
}

// The first frame's average colour as "r,g,b", each rounded to 32s.
std::string Colour(const fs::path& file) {
    const std::string out = capture("ffmpeg -v error -i '" + file.string() +
                                    "' -frames:v 1 -vf scale=1:1:flags=area -f rawvideo "
                                    "-pix_fmt rgb24 - | od -An -v -tu1 -w3");
    std::istringstream in(out);
    int r = 0, g = 0, b = 0;
    in >> r >> g >> b;
    const auto round = [](int v) { return std::to_string((v + 16) / 32 * 32); };
    return round(r) + "," + round(g) + "," + round(b);
}

class MonitorChoiceTest : public ProgramTest {
  protected:
    void SetUp() override {
        if (velmora::test::displayRandr().empty()) GTEST_SKIP() << "no RandR test display";
        ProgramTest::SetUp();
        const char* display = std::getenv("DISPLAY");
        display_ = display ? display : "";
        setenv("DISPLAY", velmora::test::displayRandr().c_str(), 1);
        server_ = std::make_unique<velmora::test::RandrServer>();
        ASSERT_TRUE(server_->ok());
        server_->AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, true, true);
        server_->AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, false, false);
        // The right one blue; the left one, with the program's window, as it is.
        server_->Paint({960, 0, 960, 1080}, 0x0000ff);
        out_ = root_ / "out";
        fs::create_directory(out_);
        // An area in area mode: what a recording without monitor= takes.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=0\nCaptureCursor=0\n"
            << "RegionLeftPos=1000\nRegionTopPos=100\nRegionWidthPos=320\nRegionHeightPos=240\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    }
    void TearDown() override {
        server_.reset();
        if (!display_.empty()) setenv("DISPLAY", display_.c_str(), 1);
        ProgramTest::TearDown();
    }
    std::string Send(const std::string& arguments) const {
        return capture("cd '" + folder_.string() + "' && timeout 20 ./velmora " + arguments +
                       " 2>&1; echo exit=$?");
    }
    bool Saved(std::size_t n) const {
        return WaitFor([&] { return Count(TodaysLog(), " - Video file saved\n") == n; },
                       std::chrono::seconds(40));
    }
    fs::path Newest() const {
        fs::path newest;
        for (const fs::path& file : Recordings(out_))
            if (newest.empty() || fs::last_write_time(file) > fs::last_write_time(newest))
                newest = file;
        return newest;
    }
    std::string Setup() const { return Slurp(folder_ / "Setup.ini"); }

    std::string display_;
    std::unique_ptr<velmora::test::RandrServer> server_;
    fs::path out_;
};

TEST_F(MonitorChoiceTest, TheCommandLinesMonitorIsRecordedOnceAndAnUnknownOneNotAtAll) {
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    EXPECT_EQ(Send("-vc monitor=VELMORA-RIGHT time=2"), "exit=0\n");
    ASSERT_TRUE(Saved(1)) << TodaysLog();
    const fs::path right = Newest();
    EXPECT_EQ(Size(right), "960,1080\n");
    EXPECT_EQ(Colour(right), "0,0,256");

    // The sender hears that nothing started; the log says why.
    EXPECT_EQ(Send("-vc monitor=VELMORA-MIDDLE time=2"),
              "velmora: -vc: the recording did not start\nexit=1\n");
    const std::string log = TodaysLog();
    EXPECT_NE(log.find("monitor=VELMORA-MIDDLE: there is no such monitor, so nothing is recorded; "
                       "the monitors are: VELMORA-LEFT (960x1080), VELMORA-RIGHT (960x1080), all"),
              std::string::npos)
        << log;
    EXPECT_EQ(Recordings(out_).size(), 1u);

    // The next recording takes the stored area again.
    EXPECT_EQ(Send("-vc time=2"), "exit=0\n");
    ASSERT_TRUE(Saved(2)) << TodaysLog();
    EXPECT_EQ(Size(Newest()), "320,240\n") << TodaysLog();

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    EXPECT_EQ(IniValue(Setup(), "TypeCapture"), "0");
    EXPECT_EQ(IniValue(Setup(), "FullScreenMonitor"), "");
}

TEST_F(MonitorChoiceTest, TheMonitorPickedInFullScreensMenuIsKeptAndRecorded) {
    {
        Program program(folder_, {});
        const std::string window = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(window.empty());
        // The arrow at the right edge of Full Screen opens a menu of the
        // monitors in RandR's order, then all of them.
        const auto shown = [] {
            return Count(capture("xdotool search --onlyvisible --classname velmora"), "\n");
        };
        const std::size_t before = shown();
        run("xdotool mousemove --window " + window + " 108 58 click 1");
        ASSERT_TRUE(WaitFor([&] { return shown() > before; }))
            << capture("xdotool search --onlyvisible --classname velmora getwindowgeometry %@");
        run("xdotool key Down Down Return");
        ASSERT_TRUE(WaitFor([&] {
            return IniValue(Setup(), "FullScreenMonitor") == "VELMORA-RIGHT";
        })) << Setup();
        EXPECT_EQ(IniValue(Setup(), "TypeCapture"), "1");
        program.Close(window);
        EXPECT_EQ(program.Exit(), 0);
    }
    // Kept for the next start, whose recording takes that monitor.
    Program program(folder_, {"-vc", "time=2"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(Saved(1)) << TodaysLog();
    EXPECT_EQ(Size(Newest()), "960,1080\n");
    EXPECT_EQ(Colour(Newest()), "0,0,256");
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
