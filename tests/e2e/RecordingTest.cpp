// Recordings of the whole program under the private Xvfb with openbox: from
// the command line, with the global hot keys, and leaving while one runs.
// Files are checked with ffprobe.

#include <map>
#include <regex>

#include "tests/e2e/ProgramHarness.h"
#include "tests/support/SmallDisk.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::capture;
using velmora::test::run;

namespace {

constexpr auto kRecordingPatience = std::chrono::seconds(40);

// ffprobe's view of each stream: key=value pairs.
std::vector<std::map<std::string, std::string>> Streams(const fs::path& file) {
    const std::string out = capture(
        "ffprobe -v error -show_entries "
        "stream=codec_type,codec_tag_string,r_frame_rate,duration -of default=nw=0 '" +
        file.string() + "'");
    std::vector<std::map<std::string, std::string>> streams;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "[STREAM]") streams.emplace_back();
        const auto eq = line.find('=');
        if (eq != std::string::npos && !streams.empty())
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Each part found after the one before it.
::testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos)
            return ::testing::AssertionFailure() << "\"" << part << "\" not in order in\n" << text;
        at += part.size();
    }
    return ::testing::AssertionSuccess();
}

class RecordingTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        out_ = root_ / "out";
        fs::create_directory(out_);
    }
    std::string OutArg() const { return "path=" + out_.string() + "/"; }
    bool Merged(std::size_t files = 1) {
        return WaitFor(
            [&] {
                return Recordings(out_).size() == files &&
                       Count(TodaysLog(), " - Video file saved\n") == files;
            },
            kRecordingPatience);
    }
    fs::path out_;
};

TEST_F(RecordingTest, CommandLineRecordsAboutTwoSecondsOnItsOwnAndMerges) {
    Program program(folder_, {"-vc", "time=2", OutArg()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(Merged()) << TodaysLog();

    const fs::path file = Recordings(out_).front();
    const auto streams = Streams(file);
    ASSERT_EQ(streams.size(), 1u) << file;
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_EQ(streams[0].at("codec_tag_string"), "XVID");  // the default compressor
    EXPECT_EQ(streams[0].at("r_frame_rate"), "15/1");
    const double seconds = std::stod(streams[0].at("duration"));
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 2.8);

    // The temporary files were made where the recording went, and are gone.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(out_ / "~tempvideo.avi"); }));
    EXPECT_FALSE(fs::exists(folder_ / "~tempvideo.avi"));
    EXPECT_FALSE(fs::exists(out_ / "~tempaudio.wav"));

    const std::string log = TodaysLog();
    EXPECT_TRUE(InOrder(
        log, {" - \n", " - " + file.filename().string() + "\n", " - Saving the video file...\n",
              " - Video file saved\n", " - Recorded with "}));
    EXPECT_EQ(Count(log, " - Saving the video file...\n"), 1u) << log;

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

TEST_F(RecordingTest, F9StartsOnlyWhenIdleAndF10StopsOnlyWhenRecordingWhateverHasTheFocus) {
    Program program(folder_, {OutArg()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    // Another program's window takes the focus; it goes by itself later.
    const std::string other = capture(
        "xmessage -timeout 60 -title Elsewhere elsewhere "
        ">/dev/null 2>&1 & echo $!");
    const pid_t otherPid = std::stoi(other);
    ASSERT_TRUE(WaitFor([] { return run("wmctrl -a Elsewhere") == 0; }));
    ASSERT_TRUE(
        WaitFor([&] { return capture("xdotool getactivewindow getwindowname") == "Elsewhere\n"; }));

    // What must not happen has no event to wait for: a key is acted on
    // within some tens of milliseconds, so 300 ms would show it.
    const auto ignored = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
    run("xdotool key F10");
    ignored();
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 0u) << "F10 started something";

    run("xdotool key F9");
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), " - VideoRecord_") == 1; }));
    ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi")) << TodaysLog();
    run("xdotool key F9");
    ignored();
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 1u) << "F9 started a second recording";
    EXPECT_EQ(Count(TodaysLog(), " - Saving the video file"), 0u) << "F9 stopped the recording";

    run("xdotool key F10");
    ASSERT_TRUE(Merged()) << TodaysLog();
    const auto streams = Streams(Recordings(out_).front());
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_GT(std::stod(streams[0].at("duration")), 0.3);

    // Idle again: F10 does nothing.
    run("xdotool key F10");
    ignored();
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 1u);
    EXPECT_EQ(Count(TodaysLog(), " - Saving the video file"), 1u);

    ::kill(otherPid, SIGTERM);
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

// The menu's "Record now" while the window is open: the open copy records,
// into the folder and for the time the second command line gives.
TEST_F(RecordingTest, ASecondCommandLineRecordingIsHandedToTheRunningCopy) {
    Program first(folder_, {});
    const std::string window = first.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    // The folder relative to the second copy's working folder, not the first's.
    fs::create_directory(folder_ / "sub");
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    Program second({(folder_ / "velmora").string(), "-vc", "time=2", "path=../../out/"},
                   environment, folder_ / "sub");
    EXPECT_EQ(second.Exit(), 0) << "the second copy did not hand the recording over";
    ASSERT_TRUE(Merged()) << TodaysLog();
    const auto streams = Streams(Recordings(out_).front());
    ASSERT_EQ(streams.size(), 1u);
    const double seconds = std::stod(streams[0].at("duration"));
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 3.0);
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(first.Window(kMainTitle), window);

    first.Close(window);
    EXPECT_EQ(first.Exit(), 0);
}

TEST_F(RecordingTest, LeavingDuringARecordingAsksFirstAndItsDefaultSavesTheRecording) {
    std::ofstream(folder_ / "Setup.ini") << "[SetupVideo]\nWorkDir=" << out_.string() << "/\n";
    Program program(folder_, {"-vc"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(out_ / "~tempvideo.avi"); }));

    // The exit button is the door at the right of the second row.
    const std::string clickExit = "xdotool mousemove --window " + window + " 233 86 click 1";
    run(clickExit);
    std::string box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty()) << "no question";
    run("xdotool windowactivate --sync " + box + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Velmora").empty(); }));
    EXPECT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi", 3)) << "Esc stopped the recording";
    EXPECT_TRUE(program.Running()) << "Esc left the program";

    run(clickExit);
    box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty()) << "no question the second time";
    run("xdotool windowactivate --sync " + box + " key Return");
    EXPECT_EQ(program.Exit(kRecordingPatience), 0);
    EXPECT_EQ(Recordings(out_).size(), 1u) << "Save and exit did not save the recording";
    EXPECT_FALSE(fs::exists(out_ / "~tempvideo.avi")) << TodaysLog();
    EXPECT_TRUE(fs::exists(folder_ / "Setup.ini"));
}

// A disk that holds the recording but not its saved copy: the save fails
// during the merge, and one box says so and where the recording is kept.
TEST_F(RecordingTest, ADiskFillingDuringTheSaveShowsOneBoxNamingTheKeptFile) {
    velmora::test::SmallDisk disk(8192);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    // HuffYUV of the whole screen: megabytes a second.
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupVideo]\nTypeCapture=1\nCodecIndex=4\nCaptureCursor=0\n"
           "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    Program program(folder_, {"-vc", "path=" + disk.Folder()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const fs::path temp = disk.Folder() + "~tempvideo.avi";
    // More than half the disk recorded: its copy cannot fit beside it.
    ASSERT_TRUE(WaitFor([&] { return SizeOf(temp) > 4500u * 1024; }, kRecordingPatience))
        << SizeOf(temp) << "\n"
        << TodaysLog();
    run("xdotool key F10");
    const std::string box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty()) << "no box\n" << TodaysLog();
    const std::string log = TodaysLog();
    EXPECT_NE(log.find(" - Error writing files! The disk is full: " + disk.Folder()),
              std::string::npos)
        << log;
    std::smatch kept;
    ASSERT_TRUE(std::regex_search(log, kept, std::regex(" Recording kept in: (\\S+_video\\.avi)")))
        << log;
    EXPECT_TRUE(fs::exists(kept[1].str())) << kept[1];
    EXPECT_TRUE(Recordings(disk.Folder()).empty());
    EXPECT_EQ(Count(log, "The disk is full"), 1u) << "a failure of the recording itself\n" << log;
    // One box: the window lists no other of the program's.
    EXPECT_EQ(Count(capture("wmctrl -lp"), " " + std::to_string(program.pid()) + " "), 2u)
        << capture("wmctrl -lp");
    program.Close(box);
    ASSERT_TRUE(WaitFor([&] { return program.Window("Velmora").empty(); }));
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace

// The program on the RandR server, started at 1920x1080; the screen then
// goes to 1280x720 (a laptop leaving its dock) before F9.
TEST_F(RecordingTest, FullScreenAfterAResolutionChangeRecordsTheNewSize) {
    const std::string randr = velmora::test::displayRandr();
    if (randr.empty()) GTEST_SKIP() << "needs the x11 fixture";
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", randr.c_str(), 1);
    ASSERT_EQ(run("xrandr -s 1920x1080"), 0);
    {
        Program program(folder_, {OutArg()});
        const std::string window = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(window.empty());
        // The server tells the program of the new size before the key that
        // follows, on the same connection.
        ASSERT_EQ(run("xrandr -s 1280x720"), 0);
        run("xdotool key F9");
        ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), "VideoRecord_") >= 1; }));
        ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi", 2)) << TodaysLog();
        run("xdotool key F10");
        ASSERT_TRUE(Merged()) << TodaysLog();

        const fs::path file = Recordings(out_).front();
        EXPECT_EQ(capture("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" +
                          file.string() + "'"),
                  "1280,720\n");
        const std::string log = TodaysLog();
        EXPECT_EQ(log.find("rror"), std::string::npos) << log;
        program.Close(window);
        EXPECT_EQ(program.Exit(), 0);
    }
    run("xrandr -s 1920x1080");
    setenv("DISPLAY", display.c_str(), 1);
}
