// What a command line asks for counts for the recording it starts: a copy
// running already takes `-vc format=mp4 time=3` from another, records that
// one in H.264 MP4 for 3 s, and records its next F9 as the user set it up.
// A path= naming a folder without its closing '/' is that folder. preset=web
// records MP4 with H.264 at 30 fps and AAC sound, for that recording only.

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::soundtest::StreamInfo;

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

double Seconds(const fs::path& file) {
    return std::atof(capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                             file.string() + "'")
                         .c_str());
}

class RunChoicesTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        out_ = root_ / "out";
        fs::create_directory(out_);
        // Xvid, the second compressor, into AVI: a new user's choices.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string()
            << "/\nCodecIndex=1\nOutputFormat=AVI\nTypeCapture=0\nRegionLeftPos=900\n"
               "RegionTopPos=400\nRegionWidthPos=320\nRegionHeightPos=240\n"
               "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    }
    std::string Saved() const { return " - " + std::string("Video file saved") + "\n"; }
    fs::path out_;
};

TEST_F(RunChoicesTest, TheCommandLinesTimeAndFormatAreForItsRecordingOnly) {
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const std::string told = capture("cd '" + folder_.string() +
                                     "' && timeout 20 ./velmora -vc format=mp4 time=3 2>&1; "
                                     "echo exit=$?");
    EXPECT_EQ(told, "exit=0\n");
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), Saved()) == 1; }, std::chrono::seconds(40)))
        << TodaysLog();
    ASSERT_EQ(Recordings(out_).size(), 1u);
    const fs::path mp4 = Recordings(out_).front();
    EXPECT_EQ(mp4.extension(), ".mp4");
    EXPECT_EQ(StreamInfo(mp4.string(), 0).at("codec_name"), "h264");
    EXPECT_NEAR(Seconds(mp4), 3.0, 0.3);
    EXPECT_NE(TodaysLog().find("format=mp4: this recording is made with H.264 (x264), which web "
                               "browsers play; Options keeps Xvid MPEG-4 Codec\n"),
              std::string::npos)
        << TodaysLog();

    // F9 records as the user set it up: no time limit, AVI with Xvid.
    run("xdotool key F9");
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), " - VideoRecord_") == 2; })) << TodaysLog();
    // Ended by itself within 6 s, it would have kept the 3 s limit.
    EXPECT_FALSE(WaitFor([&] { return Count(TodaysLog(), Saved()) == 2; }, std::chrono::seconds(6)))
        << TodaysLog();
    run("xdotool key F10");
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), Saved()) == 2; }, std::chrono::seconds(40)))
        << TodaysLog();
    fs::path avi;
    for (const fs::path& file : Recordings(out_))
        if (file.extension() == ".avi") avi = file;
    ASSERT_FALSE(avi.empty()) << TodaysLog();
    EXPECT_EQ(StreamInfo(avi.string(), 0).at("codec_name"), "mpeg4");
    EXPECT_GE(Seconds(avi), 5.9);

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    const std::string setup = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(setup.find("\nOutputFormat=AVI\n"), std::string::npos) << setup;
    EXPECT_NE(setup.find("\nCodecIndex=1\n"), std::string::npos) << setup;
}

TEST_F(RunChoicesTest, APathWithoutItsSlashIsTheFolderItNames) {
    const fs::path named = root_ / "videos";
    fs::create_directory(named);
    Program program(folder_, {"-vc", "time=1", "path=" + named.string()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), Saved()) == 1; }, std::chrono::seconds(40)))
        << TodaysLog();
    EXPECT_EQ(Recordings(named).size(), 1u) << TodaysLog();
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    const std::string setup = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(setup.find("\nWorkDir=" + named.string() + "/\n"), std::string::npos) << setup;
}

TEST_F(RunChoicesTest, TheWebPresetGivesAnMp4ABrowserPlaysForThatRecordingOnly) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    Program program(folder_, {"-vc", "preset=web", "time=2"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), Saved()) == 1; }, std::chrono::seconds(40)))
        << TodaysLog();
    ASSERT_EQ(Recordings(out_).size(), 1u) << TodaysLog();
    const fs::path mp4 = Recordings(out_).front();
    EXPECT_EQ(mp4.extension(), ".mp4");
    EXPECT_EQ(StreamInfo(mp4.string(), 0).at("codec_name"), "h264");
    EXPECT_EQ(capture("ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate "
                      "-of csv=p=0 '" +
                      mp4.string() + "'"),
              "30/1\n");
    const auto sound = StreamInfo(mp4.string(), 1);
    EXPECT_EQ(sound.at("codec_name"), "aac");
    EXPECT_EQ(sound.at("sample_rate"), "48000");
    EXPECT_EQ(sound.at("channels"), "2");
    EXPECT_NEAR(Seconds(mp4), 2.0, 0.3);

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    // Options' choices stay the user's: Xvid into AVI at 15 fps, no sound.
    const std::string setup = Slurp(folder_ / "Setup.ini");
    for (const char* line :
         {"\nCodecIndex=1\n", "\nOutputFormat=AVI\n", "\nVideoFPS=15\n", "\nKeyFramesFreq=8\n",
          "\nAudioRecordEnable=0\n", "\nX264Preset=ultrafast\n", "\nAudioCodec=PCM\n"})
        EXPECT_NE(setup.find(line), std::string::npos) << line << setup;
}

}  // namespace
