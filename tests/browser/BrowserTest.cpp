// A real browser plays what the program records: headless Chromium opens
// play.html on each file and reports what its <video> element made of it.
// MP4 and Matroska play, with the picture's size, length and colours; AVI
// is refused, which is why the other formats exist. A recording killed
// mid-way and saved at the next start plays too.

#include <signal.h>

#include <regex>

#include "tests/e2e_sound/FormatRecording.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;

namespace {

// The desktop's colour under the recorded area, and what the page reads.
constexpr int kRed = 192, kGreen = 48, kBlue = 32;

// A value of the page's JSON verdict: a number, true/false/null, or the
// first [r,g,b] of the colour grid.
std::string Field(const std::string& json, const std::string& name) {
    std::smatch m;
    const std::regex value("\"" + name + "\":(\\[\\[\\[[0-9,]+\\]|[^,}]+)");
    return std::regex_search(json, m, value) ? m[1].str() : std::string();
}

class BrowserTest : public FormatProgramTest {
  protected:
    void SetUp() override {
        FormatProgramTest::SetUp();
        if (IsSkipped()) return;
        if (run("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no chromium";
        char colour[16];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", kRed, kGreen, kBlue);
        ASSERT_EQ(run(std::string("xsetroot -solid '") + colour + "'"), 0);
    }
    void TearDown() override {
        run("xsetroot -solid black");
        FormatProgramTest::TearDown();
    }

    static std::string Play(const std::string& file) {
        return capture(std::string("'") + VELMORA_BROWSER_SCRIPT + "' '" + file + "' 1");
    }

    // The page decoded the file: its length, size, sound and first frame.
    static void ExpectPlayed(const std::string& file) {
        const std::string json = Play(file);
        SCOPED_TRACE(file + ": " + json);
        ASSERT_EQ(Field(json, "ok"), "true");
        EXPECT_NEAR(std::atof(Field(json, "duration").c_str()), VideoSeconds(file), 0.2);
        EXPECT_EQ(Field(json, "videoWidth"), std::to_string(kAreaWidth));
        EXPECT_EQ(Field(json, "videoHeight"), std::to_string(kAreaHeight));
        EXPECT_GT(std::atoi(Field(json, "audioBytes").c_str()), 0);
        int r = -1, g = -1, b = -1;
        ASSERT_EQ(std::sscanf(Field(json, "grid").c_str(), "[[[%d,%d,%d]", &r, &g, &b), 3);
        EXPECT_NEAR(r, kRed, 12);
        EXPECT_NEAR(g, kGreen, 12);
        EXPECT_NEAR(b, kBlue, 12);
    }
};

TEST_F(BrowserTest, Mp4AndMatroskaPlayWithTheirPictureAndAviIsRefused) {
    const std::string mp4 = Record("MP4", "AAC");
    ASSERT_FALSE(mp4.empty()) << TodaysLog();
    ExpectPlayed(mp4);
    const std::string mkv = Record("MKV", "OPUS");
    ASSERT_FALSE(mkv.empty()) << TodaysLog();
    ExpectPlayed(mkv);
    const std::string avi = Record("AVI", "PCM");
    ASSERT_FALSE(avi.empty()) << TodaysLog();
    const std::string json = Play(avi);
    EXPECT_EQ(Field(json, "ok"), "false") << json;
    EXPECT_EQ(Field(json, "error"), "4") << json;  // MEDIA_ERR_SRC_NOT_SUPPORTED
}

TEST_F(BrowserTest, AKilledMp4RecordingIsSavedAtTheNextStartAsAnMp4ThatPlays) {
    std::ofstream(folder_ / "Setup.ini") << FormatSettings(microphone_, "MP4", "AAC");
    {
        Program program(folder_, {"-vc", OutArg()});
        ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
        ASSERT_TRUE(WaitFor([&] { return fs::exists(folder_ / "~tempaudio.wav"); }));
        std::this_thread::sleep_for(std::chrono::seconds(4));
        ::kill(program.pid(), SIGKILL);
        program.Exit();
    }
    Program program(folder_, {OutArg()});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    const std::string box = program.WaitForWindow("Notice");
    ASSERT_FALSE(box.empty()) << TodaysLog();
    run("xdotool windowactivate --sync " + box + " key Return");
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find(" - The interrupted recording is saved: ") != std::string::npos;
    })) << TodaysLog();
    const auto files = Recordings(out_);
    ASSERT_EQ(files.size(), 1u) << TodaysLog();
    EXPECT_EQ(files.front().extension(), ".mp4");
    ExpectPlayed(files.front().string());
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
