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
        XClassHint hint{};
        hint.res_name = const_cast<char*>("velmora-e2e");
        hint.res_class = const_cast<char*>("VelmoraE2E");
        XSetClassHint(display_, window, &hint);
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
    // The colour it paints itself with from now on (at once where shown).
    void Paint(Window window, unsigned long colour) {
        XSetWindowBackground(display_, window, colour);
        XClearWindow(display_, window);
        XSync(display_, False);
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

// Each frame of the file as its one colour (0xRRGGBB), or -1 for a frame of
// more than one.
std::vector<long> FrameColours(const fs::path& file, const fs::path& scratch) {
    std::vector<long> colours;
    if (run("ffmpeg -v error -y -i '" + file.string() + "' -f rawvideo -pix_fmt rgb24 '" +
            scratch.string() + "'") != 0)
        return colours;
    const std::string pixels = Slurp(scratch);
    const std::size_t frameBytes = std::size_t{kWidth} * kHeight * 3;
    for (std::size_t at = 0; at + frameBytes <= pixels.size(); at += frameBytes) {
        long colour = -2;
        for (std::size_t i = at; i < at + frameBytes && colour != -1; i += 3) {
            const long pixel = long(static_cast<unsigned char>(pixels[i])) << 16 |
                               long(static_cast<unsigned char>(pixels[i + 1])) << 8 |
                               static_cast<unsigned char>(pixels[i + 2]);
            colour = colour == -2 || colour == pixel ? pixel : -1;
        }
        colours.push_back(colour);
    }
    return colours;
}

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

// Minimised, then on another desktop: the recording goes on with the
// window's last picture (painted blue while it is minimised, it shows red
// until it is restored), says so once, and shows the window again when it
// is back; only closing the window ends it.
TEST_F(WindowRecordingTest, HiddenWindowKeepsItsLastPictureUntilItIsShownAgain) {
    constexpr unsigned long kBlue = 0x0000ff;
    Program program(folder_, {"-vc", "window=velmora-e2e red"});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    const fs::path video = out_ / "~tempvideo.avi";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(video); })) << TodaysLog();
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
    EXPECT_NE(TodaysLog().find("\"velmora-e2e red\" (VelmoraE2E), id " + Hex(red_)),
              std::string::npos)
        << TodaysLog();

    const std::string red = std::to_string(red_);
    run("xdotool windowminimize " + red);
    ASSERT_TRUE(WaitFor([&] { return !windows_.Viewable(red_); }));
    windows_.Paint(red_, kBlue);
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
    run("wmctrl -i -a " + Hex(red_));
    ASSERT_TRUE(WaitFor([&] { return windows_.Viewable(red_); }));
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();

    run("wmctrl -s 1");
    ASSERT_TRUE(WaitFor([&] { return !windows_.Viewable(red_); }));
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
    run("wmctrl -s 0");
    ASSERT_TRUE(WaitFor([&] { return windows_.Viewable(red_); }));
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(TodaysLog().find("The recorded window was closed."), std::string::npos)
        << TodaysLog();
    windows_.Destroy(red_);

    const fs::path file = MergedRecording(out_);
    ASSERT_FALSE(file.empty()) << TodaysLog();
    const std::string log = TodaysLog();
    EXPECT_NE(log.find("The recorded window was closed."), std::string::npos) << log;
    const std::string hidden = "The recorded window is not shown";
    ASSERT_NE(log.find(hidden), std::string::npos) << log;
    EXPECT_EQ(log.find(hidden, log.find(hidden) + 1), std::string::npos) << log;
    // Red until it was restored, blue from then on: never black, never a
    // mixture, never red again.
    const std::vector<long> colours = FrameColours(file, root_ / "frames.rgb");
    std::size_t reds = 0, blues = 0, others = 0;
    bool blueSeen = false, redAfterBlue = false;
    for (long colour : colours) {
        reds += colour == long(kRed);
        blues += colour == long(kBlue);
        others += colour != long(kRed) && colour != long(kBlue);
        redAfterBlue = redAfterBlue || (blueSeen && colour == long(kRed));
        blueSeen = blueSeen || colour == long(kBlue);
    }
    EXPECT_GE(reds, std::size_t{2 * kFramesEach}) << colours.size() << " frames";
    EXPECT_GE(blues, std::size_t{3 * kFramesEach}) << colours.size() << " frames";
    EXPECT_EQ(others, 0u);
    EXPECT_FALSE(redAfterBlue);
    program.Close(program.Window(kMainTitle));
    EXPECT_EQ(program.Exit(), 0);
}

// X gives a closed window's id to later windows: a stored window id that
// now has another window (the green one here, as if it had been given the
// red one's id) is not recorded unasked. -vc refuses with exit status 2,
// naming both windows; F9 asks, No records nothing, Yes records it and
// keeps it as the chosen window.
TEST_F(WindowRecordingTest, AStoredIdThatNowHasAnotherWindowIsNotRecordedUnasked) {
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupVideo]\nWorkDir=" << out_.string()
        << "/\nTypeCapture=2\nCaptureWindow=" << Hex(green_)
        << "\nCaptureWindowTitle=velmora-e2e red\nCaptureWindowClass=VelmoraE2E\n"
        << "CaptureCursor=0\nCodecIndex=4\nVideoFPS=10\n"
        << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    const fs::path errors = root_ / "stderr.txt";
    {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) environment.emplace_back(*e);
        environment.push_back("LSAN_OPTIONS=suppressions=" + (root_ / "lsan.supp").string());
        Program refused({"sh", "-c", "exec ./velmora -vc 2>'" + errors.string() + "'"}, environment,
                        folder_);
        EXPECT_EQ(refused.Exit(), 2) << TodaysLog();
    }
    const std::string message = Slurp(errors);
    EXPECT_NE(message.find("velmora: -vc: the window " + Hex(green_) +
                           " is now \"velmora-e2e green\" (VelmoraE2E), not \"velmora-e2e "
                           "red\" (VelmoraE2E) as chosen"),
              std::string::npos)
        << message;
    EXPECT_TRUE(Recordings(out_).empty());
    EXPECT_FALSE(fs::exists(out_ / "~tempvideo.avi"));

    Program program(folder_, {});
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main));
    for (const char* answer : {"Escape", "alt+y"}) {
        run("xdotool key F9");
        const std::string box = program.WaitForWindow("Velmora");
        ASSERT_TRUE(Program::WaitViewable(box)) << TodaysLog();
        run("xdotool windowactivate --sync " + box + " key " + answer);
        ASSERT_TRUE(WaitFor([&] { return program.Window("Velmora").empty(); }));
    }
    const fs::path video = out_ / "~tempvideo.avi";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(video); })) << TodaysLog();
    ASSERT_TRUE(WaitForGrowth(video, kFramesEach)) << TodaysLog();
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("CaptureWindowTitle=velmora-e2e green"),
              std::string::npos);
    const std::string log = TodaysLog();
    EXPECT_NE(log.find("\"velmora-e2e green\" (VelmoraE2E), id " + Hex(green_)), std::string::npos)
        << log;
    EXPECT_NE(log.find("Not recorded: the window " + Hex(green_) + " is now"), std::string::npos)
        << log;
    run("xdotool key F10");
    ASSERT_FALSE(MergedRecording(out_).empty()) << TodaysLog();
    // The second F9 was the one recorded: the first was answered No.
    EXPECT_EQ(Recordings(out_).size(), 1u);
    program.Close(main);
    EXPECT_EQ(program.Exit(), 0);
}
