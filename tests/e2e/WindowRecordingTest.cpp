// Recording one window in the whole program, as a user and a script would:
// the Window button and a click on the window (at Qt scale factors 1 and 2),
// or -vc window=TITLE. While it records, another window is moved over half
// of it and the window itself is moved; every frame must still be wholly the
// window's own colour at the window's size. Closing the window ends the
// recording, which is merged as after F10. Lossless HuffYUV, no cursor.

// gtest (in the harness) before Xlib: Xlib's None and Bool macros break it.
#include "tests/e2e/ProgramHarness.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <fstream>
#include <regex>

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::capture;
using velmora::test::run;

namespace {

constexpr unsigned long kRed = 0xff0000, kGreen = 0x00ff00;
constexpr int kWidth = 320, kHeight = 240;

// Plain one-colour windows the window manager frames, placed where asked.
class ColourWindows {
  public:
    ColourWindows() : display_(XOpenDisplay(display24().c_str())) {}
    ~ColourWindows() {
        if (display_) XCloseDisplay(display_);
    }
    Window Make(unsigned long colour, int x, int y, int w, int h, const char* title) {
        XSetWindowAttributes attributes{};
        attributes.background_pixel = colour;
        const Window window =
            XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWBackPixel, &attributes);
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = w;
        hints.height = h;
        XSetWMNormalHints(display_, window, &hints);
        XStoreName(display_, window, title);
        XMapRaised(display_, window);
        XSync(display_, False);
        return window;
    }
    // Mapped by the window manager, in its frame.
    bool Viewable(Window window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) &&
               attributes.map_state == IsViewable;
    }
    void Destroy(Window window) {
        XDestroyWindow(display_, window);
        XSync(display_, False);
    }
    // Where the window's own pixels stand on the screen.
    std::pair<int, int> Position(Window window) {
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y};
    }
    bool ok() const { return display_ != nullptr; }

  private:
    Display* display_;
};

std::string Hex(unsigned long id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", id);
    return text;
}

class WindowRecordingTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(windows_.ok());
        out_ = root_ / "out";
        fs::create_directory(out_);
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=1\nCaptureCursor=0\n"
            << "CodecIndex=4\nVideoFPS=10\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
        // Clear of the main window at scale 2 (the middle of the screen); the
        // move takes the red one partly off the screen.
        red_ = windows_.Make(kRed, 940, 440, kWidth, kHeight, "velmora-e2e red");
        green_ = windows_.Make(kGreen, 60, 480, 200, 200, "velmora-e2e green");
        ASSERT_TRUE(WaitFor([&] { return windows_.Viewable(red_) && windows_.Viewable(green_); }));
    }
    void TearDown() override {
        run("xdotool mouseup 1");
        ProgramTest::TearDown();
    }

    // While recording: the green window over the red one's right half, then
    // the red one moved on by 200 pixels, then closed; five frames are
    // written after each change has taken effect.
    void CoverMoveAndClose() {
        const fs::path video = out_ / "~tempvideo.avi";
        ASSERT_TRUE(WaitFor([&] { return fs::exists(video); })) << TodaysLog();
        ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
        const auto [x, y] = windows_.Position(red_);
        const auto green = windows_.Position(green_);
        run("xdotool windowmove " + std::to_string(green_) + " " + std::to_string(x + kWidth / 2) +
            " " + std::to_string(y) + " windowraise " + std::to_string(green_));
        ASSERT_TRUE(WaitFor([&] { return windows_.Position(green_) != green; }));
        ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
        run("xdotool windowmove " + std::to_string(red_) + " " + std::to_string(x + 200) + " " +
            std::to_string(y));
        ASSERT_TRUE(WaitFor([&] { return windows_.Position(red_).first != x; }));
        ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
        windows_.Destroy(red_);
    }
    static constexpr int kFramesEach = 5;

    // The merged file: the window's size, and every pixel of every frame red.
    void ExpectOnlyTheWindow() {
        const fs::path file = MergedRecording(out_);
        ASSERT_FALSE(file.empty()) << TodaysLog();
        EXPECT_NE(TodaysLog().find("The recorded window was closed."), std::string::npos)
            << TodaysLog();
        const std::string probe = capture(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_tag_string,width,height,nb_read_frames -of default=nw=1 '" +
            file.string() + "'");
        EXPECT_NE(probe.find("codec_tag_string=HFYU"), std::string::npos) << probe;
        EXPECT_NE(probe.find("width=" + std::to_string(kWidth) + "\n"), std::string::npos) << probe;
        EXPECT_NE(probe.find("height=" + std::to_string(kHeight) + "\n"), std::string::npos)
            << probe;
        const fs::path frames = root_ / "frames.rgb";
        ASSERT_EQ(run("ffmpeg -v error -y -i '" + file.string() + "' -f rawvideo -pix_fmt rgb24 '" +
                      frames.string() + "'"),
                  0);
        const std::string pixels = Slurp(frames);
        const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 3;
        ASSERT_GE(pixels.size(), frameBytes * 3 * kFramesEach) << "too few frames: " << probe;
        ASSERT_EQ(pixels.size() % frameBytes, 0u);
        std::size_t notRed = 0, green = 0;
        for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) {
            const auto r = static_cast<unsigned char>(pixels[i]);
            const auto g = static_cast<unsigned char>(pixels[i + 1]);
            const auto b = static_cast<unsigned char>(pixels[i + 2]);
            notRed += !(r == 255 && g == 0 && b == 0);
            green += g > 128;
        }
        EXPECT_EQ(notRed, 0u) << "of " << pixels.size() / 3 << " pixels";
        EXPECT_EQ(green, 0u);
    }

    ColourWindows windows_;
    Window red_ = 0, green_ = 0;
    fs::path out_;
};

class WindowPickTest : public WindowRecordingTest, public testing::WithParamInterface<int> {};

}  // namespace

TEST_P(WindowPickTest, ClickedWindowIsRecordedAloneUntilItCloses) {
    const int scale = GetParam();
    Program program(folder_, {}, {"QT_SCALE_FACTOR=" + std::to_string(scale)});
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main));
    // The Window button, third of the mode buttons.
    run("xdotool mousemove --window " + main + " " + std::to_string(50 * scale) + " " +
        std::to_string(95 * scale) + " click 1");
    ASSERT_TRUE(Program::WaitViewable(program.WaitForWindow("Window selection"))) << TodaysLog();
    const auto [x, y] = windows_.Position(red_);
    run("xdotool mousemove " + std::to_string(x + 40) + " " + std::to_string(y + 30) +
        " sleep 0.3 click 1");
    ASSERT_TRUE(WaitFor([&] {
        const std::string setup = Slurp(folder_ / "Setup.ini");
        return setup.find("TypeCapture=2") != std::string::npos &&
               setup.find("CaptureWindow=" + Hex(red_)) != std::string::npos;
    })) << Slurp(folder_ / "Setup.ini");
    EXPECT_TRUE(program.Window("Window selection").empty() ||
                capture("xdotool search --onlyvisible --name '^Window selection$'").empty());

    run("xdotool mousemove 5 700 key F9");
    CoverMoveAndClose();
    ExpectOnlyTheWindow();
    // Ended as by F10: the program goes on, and leaves cleanly.
    EXPECT_TRUE(program.Running());
    program.Close(main);
    EXPECT_EQ(program.Exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scale, WindowPickTest, testing::Values(1, 2),
                         [](const auto& info) { return "x" + std::to_string(info.param); });

TEST_F(WindowRecordingTest, CommandLineNamesTheWindowByTitleOrRefusesAMissingOne) {
    Program missing(folder_, {"-vc", "window=no such window here"});
    EXPECT_EQ(missing.Exit(), 2);

    Program program(folder_, {"-vc", "window=velmora-e2e red"});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    CoverMoveAndClose();
    ExpectOnlyTheWindow();
    // The command line's window is for its run: the stored mode is kept.
    program.Close(program.Window(kMainTitle));
    EXPECT_EQ(program.Exit(), 0);
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("TypeCapture=1"), std::string::npos);
}
