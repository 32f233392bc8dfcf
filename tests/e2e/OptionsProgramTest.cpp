// The options dialog of the whole program, driven as a user drives it: the
// Options button clicked, the keyboard through the dialog (H.264, sound on,
// the last format, the speakers' monitor as input and the microphone as the
// one also recorded, Enter for OK), then F9 and F10. The recording is read
// back with ffprobe - both tones mixed into its one track, each at the
// level it has alone - and the settings file after the program has closed.

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

void Keys(const std::string& keys) {
    ASSERT_EQ(run("xdotool key --delay 60 " + keys), 0) << keys;
}

TEST_F(ProgramTest, OptionsChosenByKeyboardGiveAnH264RecordingOfTheSpeakersAndTheMicrophone) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    // The speakers play a 1000 Hz tone, as loud as the microphone's 440 Hz
    // (half of full scale).
    PulseModule tone("module-sine sink=speakers frequency=1000");
    ASSERT_TRUE(tone.Loaded());
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

    // Focus starts on the presets at the top; the compressor list is next.
    Keys("Tab");
    ASSERT_EQ(run("xdotool type --delay 40 'H.264'"), 0);
    // Back past the presets, Cancel and OK to the sound box, tick it, the
    // last format (stereo, 16 bits, 48 kHz); past the sound compression
    // beside it, open the input list, type the name, Enter picks it.
    Keys("shift+Tab shift+Tab shift+Tab shift+Tab space Tab End Tab Tab space");
    ASSERT_EQ(run("xdotool type --delay 40 'Monitor of Speakers'"), 0);
    Keys("Return");
    // Past its volume to "Also record": open it, the microphone, Enter picks
    // it and Enter again is OK.
    Keys("Tab Tab space");
    ASSERT_EQ(run("xdotool type --delay 40 'Microphone'"), 0);
    Keys("Return Return");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Options").empty(); })) << TodaysLog();

    // A new sink's monitor gives sound a while after it is loaded.
    ASSERT_TRUE(WaitFor([] { return SourceFlows("speakers.monitor"); })) << "speakers silent";
    Keys("F9");
    // A second of the speakers stored: enough tenths of a second to measure
    // their tone in. (The stream on their monitor may begin with silence and
    // lag behind the microphone's; the microphone's sounds throughout.)
    ASSERT_TRUE(WaitFor([&] { return SoundingSeconds(out / "~tempaudio.wav", 48000) >= 1.0; }))
        << TodaysLog();
    Keys("F10");
    const std::string file = MergedRecording(out).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    ASSERT_EQ(StreamCount(file), 2) << "one picture, one sound track\n" << TodaysLog();
    const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
    EXPECT_EQ(video.at("codec_name"), "h264");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "48000");
    EXPECT_EQ(sound.at("channels"), "2");
    // Each tone at the level it has alone: summed, not averaged, and the
    // peaks where they meet turned down, not wrapped.
    const auto mix = Samples(file);
    ASSERT_GT(mix.size(), 48000u * 2);
    std::vector<double> sounding = ToneLevels(mix, 1000, 48000, 0);
    std::erase_if(sounding, [](double level) { return level < 1000; });
    ASSERT_GE(sounding.size(), 8u) << "tenths of a second with the speakers";
    const double speakers = Median(sounding), microphone = ToneLevel(mix, 440, 48000);
    std::printf("1000 Hz at %+.2f dB, 440 Hz at %+.2f dB of half scale\n", Db(speakers / 16384),
                Db(microphone / 16384));
    EXPECT_NEAR(Db(speakers / 16384), 0.0, 1.0);
    EXPECT_NEAR(Db(microphone / 16384), 0.0, 1.0);
    int peak = 0;
    for (std::int16_t s : mix) peak = std::max(peak, std::abs(int(s)));
    EXPECT_LT(peak, 32767);
    EXPECT_NEAR(static_cast<double>(mix.size()) / 2 / 48000, std::stod(video.at("duration")),
                1.0 / 15);

    program.Close(main);
    ASSERT_EQ(program.Exit(), 0);
    const std::string ini = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(ini.find("CodecIndex=3\n"), std::string::npos) << ini;  // H.264 (x264)
    EXPECT_NE(ini.find("AudioRecordEnable=1\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("AudioFormatIndex=19\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("AudioInputIndex=" + InputIndexOf("speakers.monitor") + "\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("AudioInput2Name=fakemic\n"), std::string::npos) << ini;
}

}  // namespace
