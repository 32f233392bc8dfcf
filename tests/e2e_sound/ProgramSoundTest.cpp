// The whole program recording with sound: "-vc time=4" with sound enabled in
// Setup.ini ends as an AVI with the picture first and the microphone's tone
// beside it, both of one length.

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

TEST_F(ProgramTest, CommandLineRecordingWithSoundHasTheToneBesideThePicture) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    ASSERT_TRUE(WaitFor([] {
        return capture(
                   "timeout 1 parec --latency-msec=20 -d fakemic --raw 2>/dev/null | "
                   "head -c 4410 | wc -c") == "4410\n";
    })) << "fakemic is silent";
    const fs::path out = root_ / "out";
    fs::create_directory(out);
    // The input is the microphone's line; the mixer lists the sound server's
    // sources in its order.
    const std::string input = capture(
        "pactl list short sources | awk '$2 == \"fakemic\" "
        "{ print NR - 1 }'");
    ASSERT_FALSE(input.empty());
    // Format 16 of the catalogue, stereo 16-bit 44.1 kHz, is list entry 15.
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" << input;

    Program program(folder_, {"-vc", "time=4", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const std::string file = MergedRecording(out).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    ASSERT_EQ(StreamCount(file), 2) << TodaysLog();
    const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
    EXPECT_EQ(video.at("codec_type"), "video");
    EXPECT_EQ(sound.at("codec_type"), "audio");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "44100");
    EXPECT_EQ(sound.at("channels"), "2");

    const auto samples = Samples(file);
    const double videoSeconds = std::stod(video.at("duration"));
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    std::printf("video %.3f s, sound %.3f s\n", videoSeconds, soundSeconds);
    EXPECT_GT(videoSeconds, 3.5);
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);
    // The temporary files go (the engine keeps them in the program folder).
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(folder_ / "~tempaudio.wav"); }));
    EXPECT_FALSE(fs::exists(out / "~tempaudio.wav"));

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
