// A real browser plays what the program records: headless Chromium opens
// play.html on each file and reports what its <video> element made of it.
// MP4 (with AAC or Opus) and Matroska play, with the picture's size,
// length and colours the right way up; AVI is refused, which is why the
// other formats exist. A recording killed
// mid-way and saved at the next start plays too.

#include <signal.h>

#include <memory>
#include <regex>
#include <vector>

#include "tests/e2e/FormatRecording.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;

namespace {

// The picture under the recorded area: its top half one colour, its
// bottom half another, so a picture upside down shows.
constexpr int kTop[] = {192, 48, 32}, kBottom[] = {32, 80, 208};

std::string TwoColourPicture() {
    char source[200];
    std::snprintf(source, sizeof source,
                  "color=c=0x%02x%02x%02x:s=%dx%d:r=15,drawbox=x=0:y=%d:w=%d:h=%d:"
                  "c=0x%02x%02x%02x:t=fill",
                  kTop[0], kTop[1], kTop[2], kAreaWidth, kAreaHeight, kAreaHeight / 2, kAreaWidth,
                  kAreaHeight / 2, kBottom[0], kBottom[1], kBottom[2]);
    return source;
}

// A value of the page's JSON verdict: a number, true/false or null.
std::string Field(const std::string& json, const std::string& name) {
    std::smatch m;
    return std::regex_search(json, m, std::regex("\"" + name + "\":([^,}]+)")) ? m[1].str()
                                                                               : std::string();
}

// The numbers of the page's 2x2 colour grid, row by row: top left r, g, b,
// top right r, g, b, bottom left...
std::vector<int> Grid(const std::string& json) {
    std::vector<int> numbers;
    const auto at = json.find("\"grid\":[");
    if (at == std::string::npos) return numbers;
    const std::string grid = json.substr(at + 8, json.find("]]]", at) - at - 8);
    static const std::regex number("[0-9]+");
    for (auto it = std::sregex_iterator(grid.begin(), grid.end(), number);
         it != std::sregex_iterator(); ++it)
        numbers.push_back(std::stoi(it->str()));
    return numbers;
}

class BrowserTest : public FormatProgramTest {
  protected:
    void SetUp() override {
        FormatProgramTest::SetUp();
        if (IsSkipped()) return;
        if (run("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no chromium";
        picture_ = std::make_unique<ScreenPicture>(TwoColourPicture());
        ASSERT_TRUE(picture_->Shown());
    }

    static std::string Play(const std::string& file) {
        return capture(std::string("'") + VELMORA_BROWSER_SCRIPT + "' '" + file + "' 2");
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
        const std::vector<int> grid = Grid(json);
        ASSERT_EQ(grid.size(), 12u);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(grid[c], kTop[c], 12) << "top left";
            EXPECT_NEAR(grid[3 + c], kTop[c], 12) << "top right";
            EXPECT_NEAR(grid[6 + c], kBottom[c], 12) << "bottom left";
            EXPECT_NEAR(grid[9 + c], kBottom[c], 12) << "bottom right";
        }
    }

    std::unique_ptr<ScreenPicture> picture_;
};

TEST_F(BrowserTest, Mp4AndMatroskaPlayWithTheirPictureAndAviIsRefused) {
    const std::string mp4 = Record("MP4", "AAC");
    ASSERT_FALSE(mp4.empty()) << TodaysLog();
    ExpectPlayed(mp4);
    const std::string mkv = Record("MKV", "OPUS");
    ASSERT_FALSE(mkv.empty()) << TodaysLog();
    ExpectPlayed(mkv);
    const std::string mp4Opus = Record("MP4", "OPUS");
    ASSERT_FALSE(mp4Opus.empty()) << TodaysLog();
    ExpectPlayed(mp4Opus);
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
        // Two seconds of sound stored: the saved file has sound to play.
        ASSERT_TRUE(WaitForSound(out_ / "~tempaudio.wav", 2.0)) << TodaysLog();
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
