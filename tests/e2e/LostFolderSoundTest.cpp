// The folder of a recording with sound removed 2 s in: the sound, written on
// into the file the recorder holds, is saved with the picture in the videos
// folder, whole and in step.

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

TEST_F(SoundProgramTest, ARecordingWhoseFolderIsRemovedKeepsItsSound) {
    const fs::path home = root_ / "home", videos = home / "Videos";
    fs::create_directories(videos);
    Program program(folder_, {"-vc", "time=5", OutArg()},
                    {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(out_ / "~tempaudio.wav"); })) << TodaysLog();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // As rm -rf does, again while the program adds to it.
    ASSERT_TRUE(WaitFor([&] {
        std::error_code ignored;
        fs::remove_all(out_, ignored);
        return !fs::exists(out_);
    }));
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find(" - Video file saved\n") != std::string::npos;
    })) << TodaysLog();
    const auto files = Recordings(videos);
    ASSERT_EQ(files.size(), 1u) << TodaysLog();
    ExpectRecordingWithSound(files.front().string(), 5.0, 0.1);
    EXPECT_NEAR(ToneHz(Samples(files.front().string()), 2, 44100), 440.0, 2.0);
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
