// The whole program recording with sound: "-vc time=4" with sound enabled in
// Setup.ini ends as an AVI with the picture first and the microphone's tone
// beside it, both of one length.

#include "tests/e2e_sound/SoundProgram.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

TEST_F(SoundProgramTest, CommandLineRecordingWithSoundHasTheToneBesideThePicture) {
    const fs::path out = out_;
    Program program(folder_, {"-vc", "time=4", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor(
        [&] {
            return Recordings(out).size() == 1 &&
                   TodaysLog().find(" - Video file saved\n") != std::string::npos;
        },
        std::chrono::seconds(40)))
        << TodaysLog();

    const std::string file = Recordings(out).front().string();
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
