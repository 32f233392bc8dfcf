// Picking the area to record in the whole program, as a user would, at Qt
// scale factors 1 and 2: Specific Area, a drag on the frozen picture, Enter
// or Escape; then a recording of the area, whose frames must show exactly
// the screen pixels picked; once on one monitor and once on the second of
// two. The desktop shows a picture in which every pixel tells its own
// position, and the recording is lossless (HuffYUV).

#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

#include "tests/e2e/ProgramHarness.h"
#include "tests/support/RandrServer.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::capture;
using velmora::test::run;

namespace {

// The colour of the desktop picture at (x, y): red and green are the low
// bytes of x and y, blue holds their high bits.
std::uint32_t PatternAt(int x, int y) {
    return std::uint32_t(x & 255) << 16 | std::uint32_t(y & 255) << 8 |
           std::uint32_t((x >> 8) << 5 | (y >> 8) << 3);
}

void WritePattern(const fs::path& file, int width, int height) {
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = PatternAt(x, y);
            out.put(char(c >> 16)).put(char(c >> 8)).put(char(c));
        }
}

// The value of a key in the settings file's text.
std::string IniValue(const std::string& text, const std::string& key) {
    std::smatch m;
    if (std::regex_search(text, m, std::regex("(^|\n)" + key + "=([^\r\n]*)"))) return m[2];
    return {};
}

class AreaSelectionTest : public ProgramTest, public testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        out_ = root_ / "out";
        fs::create_directory(out_);
        WritePattern(root_ / "pattern.ppm", screenWidth_, screenHeight_);
        // display answers 1 even when it has set the picture: look instead.
        run("display -window root '" + (root_ / "pattern.ppm").string() + "'");
        ASSERT_NE(capture("import -window root -crop 1x1+300+200 txt:-").find("srgb(44,200,32)"),
                  std::string::npos)
            << "the desktop does not show the picture";
        // HuffYUV (the fifth compressor) keeps every pixel; no cursor in the
        // frames, no window movements, no reports.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=1\nCaptureCursor=0\n"
            << "CodecIndex=4\nVideoFPS=10\nRegionLeftPos=0\nRegionTopPos=0\n"
            << "RegionWidthPos=500\nRegionHeightPos=500\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    }
    void TearDown() override {
        run("xdotool mouseup 1");
        run("xsetroot -solid black");
        ProgramTest::TearDown();
    }

    int Scale() const { return GetParam(); }
    std::vector<std::string> Environment() const {
        return {"QT_SCALE_FACTOR=" + std::to_string(Scale())};
    }
    std::string Setup() const { return Slurp(folder_ / "Setup.ini"); }

    // Clicks Specific Area (the first button) and waits for the selector.
    void OpenSelector(Program& program, const std::string& window) {
        run("xdotool mousemove --window " + window + " " + std::to_string(50 * Scale()) + " " +
            std::to_string(30 * Scale()) + " click 1");
        ASSERT_TRUE(Program::WaitViewable(program.WaitForWindow("Area selection")))
            << "no selector";
    }
    // A user's drag: press, move in steps, hold still, let go.
    static void Drag(int x0, int y0, int x1, int y1) {
        ASSERT_EQ(
            run("xdotool mousemove " + std::to_string(x0) + " " + std::to_string(y0) +
                " sleep 0.1 mousedown 1 sleep 0.1 mousemove " + std::to_string((x0 + x1) / 2) +
                " " + std::to_string((y0 + y1) / 2) + " sleep 0.1 mousemove " + std::to_string(x1) +
                " " + std::to_string(y1) + " sleep 0.1 mouseup 1"),
            0);
    }

    // Records the stored area until a frame is written; the file must be the
    // area's size and its first frame show exactly the desktop's pixels there.
    void ExpectRecordingShows(int left, int top, int width, int height) {
        run("xdotool mousemove " + std::to_string(screenWidth_ - 10) + " " +
            std::to_string(screenHeight_ - 10));
        run("xdotool key F9");
        ASSERT_TRUE(WaitFor([&] { return fs::exists(out_ / "~tempvideo.avi"); })) << TodaysLog();
        ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi")) << TodaysLog();
        run("xdotool key F10");
        const fs::path file = MergedRecording(out_);
        ASSERT_FALSE(file.empty()) << TodaysLog();

        const std::string probe = capture(
            "ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string,width,"
            "height -of default=nw=1 '" +
            file.string() + "'");
        EXPECT_NE(probe.find("codec_tag_string=HFYU"), std::string::npos) << probe;
        EXPECT_NE(probe.find("width=" + std::to_string(width) + "\n"), std::string::npos) << probe;
        EXPECT_NE(probe.find("height=" + std::to_string(height) + "\n"), std::string::npos)
            << probe;

        const fs::path frame = root_ / "frame.rgb";
        ASSERT_EQ(run("ffmpeg -v error -y -i '" + file.string() +
                      "' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + frame.string() + "'"),
                  0);
        const std::string pixels = Slurp(frame);
        ASSERT_EQ(pixels.size(), std::size_t(width * height * 3));
        int wrong = 0;
        std::string first;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto* p =
                    reinterpret_cast<const unsigned char*>(pixels.data()) + (y * width + x) * 3;
                const std::uint32_t got =
                    std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
                if (got != PatternAt(left + x, top + y) && wrong++ == 0)
                    first = std::to_string(x) + "," + std::to_string(y);
            }
        EXPECT_EQ(wrong, 0) << "first wrong pixel at " << first;
    }

    // The X screen's size (the desktop picture's).
    int screenWidth_ = 1280, screenHeight_ = 720;
    fs::path out_;
};

TEST_P(AreaSelectionTest, EnterStoresTheDraggedAreaAndTheNextRecordingShowsExactlyIt) {
    Program program(folder_, {}, Environment());
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    // Escape after a drag changes nothing.
    OpenSelector(program, window);
    Drag(600, 500, 900, 650);
    run("xdotool key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Area selection").empty(); }));
    // No event tells that Escape wrote nothing: the file is read a moment
    // after the selector has gone, when a write would have come.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(IniValue(Setup(), "RegionWidthPos"), "500");
    EXPECT_EQ(IniValue(Setup(), "TypeCapture"), "1") << "nothing is saved by Escape";

    // From (21, 13) to (340, 160): 319 x 147 cut back to 312 x 144.
    OpenSelector(program, window);
    Drag(21, 13, 340, 160);
    run("xdotool key Return");
    ASSERT_TRUE(WaitFor([&] { return IniValue(Setup(), "RegionWidthPos") == "312"; })) << Setup();
    EXPECT_TRUE(program.Window("Area selection").empty());
    const std::string setup = Setup();
    EXPECT_EQ(IniValue(setup, "RegionLeftPos"), "21");
    EXPECT_EQ(IniValue(setup, "RegionTopPos"), "13");
    EXPECT_EQ(IniValue(setup, "RegionHeightPos"), "144");
    EXPECT_EQ(IniValue(setup, "TypeCapture"), "0");

    ExpectRecordingShows(21, 13, 312, 144);

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scale, AreaSelectionTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                             return "QtScale" + std::to_string(info.param);
                         });

// Two monitors side by side on the RandR test server, the primary on the
// left; the area is picked on the right one, where the X screen's positions
// differ from the monitor's own.
class TwoMonitorAreaSelectionTest : public AreaSelectionTest {
  protected:
    void SetUp() override {
        if (velmora::test::displayRandr().empty()) GTEST_SKIP() << "no RandR test display";
        const char* display = std::getenv("DISPLAY");
        display_ = display ? display : "";
        setenv("DISPLAY", velmora::test::displayRandr().c_str(), 1);
        server_ = std::make_unique<velmora::test::RandrServer>();
        ASSERT_TRUE(server_->ok());
        server_->AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, true, true);
        server_->AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, false, false);
        screenWidth_ = 1920;
        screenHeight_ = 1080;
        AreaSelectionTest::SetUp();
    }
    void TearDown() override {
        AreaSelectionTest::TearDown();
        server_.reset();
        setenv("DISPLAY", display_.c_str(), 1);
    }

    std::string display_;
    std::unique_ptr<velmora::test::RandrServer> server_;
};

TEST_P(TwoMonitorAreaSelectionTest, AnAreaOnTheSecondMonitorIsStoredAndRecordedInXPixels) {
    Program program(folder_, {}, Environment());
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    // 320 x 240 from (1201, 301), 241 pixels into the right monitor.
    OpenSelector(program, window);
    Drag(1201, 301, 1521, 541);
    run("xdotool key Return");
    ASSERT_TRUE(WaitFor([&] { return IniValue(Setup(), "RegionWidthPos") == "320"; })) << Setup();
    EXPECT_TRUE(program.Window("Area selection").empty());
    const std::string setup = Setup();
    EXPECT_EQ(IniValue(setup, "RegionLeftPos"), "1201");
    EXPECT_EQ(IniValue(setup, "RegionTopPos"), "301");
    EXPECT_EQ(IniValue(setup, "RegionHeightPos"), "240");
    EXPECT_EQ(IniValue(setup, "TypeCapture"), "0");

    ExpectRecordingShows(1201, 301, 320, 240);

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scale, TwoMonitorAreaSelectionTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int>& info) {
                             return "QtScale" + std::to_string(info.param);
                         });

}  // namespace
