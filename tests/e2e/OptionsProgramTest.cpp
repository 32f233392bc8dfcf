// The options dialog of the whole program, driven as a user drives it: the
// Options button clicked, the keyboard through the dialog (H.264, sound on,
// the last format, the speakers' monitor as input, Enter for OK), then F9 and
// F10. The recording is read back with ffprobe and the settings file after
// the program has closed.

#include <regex>

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

void Keys(const std::string& keys) {
    ASSERT_EQ(run("xdotool key --delay 60 " + keys), 0) << keys;
}

// The speakers play a 1000 Hz tone while the module is loaded.
class SpeakersTone {
  public:
    SpeakersTone() {
        index_ = capture("pactl load-module module-sine sink=speakers frequency=1000");
        while (!index_.empty() && index_.back() == '\n') index_.pop_back();
    }
    ~SpeakersTone() {
        if (!index_.empty()) run("pactl unload-module " + index_);
    }
    bool Playing() const { return !index_.empty(); }

  private:
    std::string index_;
};

TEST_F(ProgramTest, OptionsChosenByKeyboardGiveAnH264RecordingWithTheMonitorsSound) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    SpeakersTone tone;
    ASSERT_TRUE(tone.Playing());
    const fs::path out = root_ / "out";
    fs::create_directory(out);
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupVideo]\nWorkDir=" << out.string()
        << "/\nTypeCapture=0\nRegionWidthPos=320\nRegionHeightPos=240\n"
           "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";

    Program program(folder_, {});
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty());
    ASSERT_FALSE(program.OpenOptions(main).empty());

    // Focus starts on the compressor list.
    ASSERT_EQ(run("xdotool type --delay 40 'H.264'"), 0);
    // Back past Cancel and OK to the sound box, tick it, the last format
    // (stereo, 16 bits, 48 kHz); past the sound compression beside it, open
    // the input list, type the name, Enter picks it and Enter again is OK.
    Keys("shift+Tab shift+Tab shift+Tab space Tab End Tab Tab space");
    ASSERT_EQ(run("xdotool type --delay 40 'Monitor of Speakers'"), 0);
    Keys("Return Return");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Options").empty(); })) << TodaysLog();

    Keys("F9");
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find(" - VideoRecord_") != std::string::npos; }))
        << TodaysLog();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    Keys("F10");
    const std::string file = MergedRecording(out).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    ASSERT_EQ(StreamCount(file), 2) << TodaysLog();
    const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
    EXPECT_EQ(video.at("codec_name"), "h264");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "48000");
    EXPECT_EQ(sound.at("channels"), "2");
    // The speakers' tone, not the microphone's 440 Hz.
    const auto samples = Samples(file);
    ASSERT_GT(samples.size(), 48000u * 2);
    EXPECT_NEAR(ToneHz(samples, 2, 48000), 1000.0, 5.0);

    program.Close(main);
    ASSERT_EQ(program.Exit(), 0);
    const std::string ini = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(ini.find("CodecIndex=3\n"), std::string::npos) << ini;  // H.264 (x264)
    EXPECT_NE(ini.find("AudioRecordEnable=1\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("AudioFormatIndex=19\n"), std::string::npos) << ini;
    EXPECT_TRUE(std::regex_search(ini, std::regex(R"(AudioInputIndex=\d+\n)"))) << ini;
}

}  // namespace
