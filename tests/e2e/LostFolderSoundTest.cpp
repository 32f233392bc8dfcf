// The folder of a recording with sound removed (rm -rf) once its first
// second of sound is stored: the program says so at once, goes on, and saves
// the whole recording, picture and sound in step, in the user's videos
// folder, saying where. (Each way a folder is lost, the unmounted disk among them,
// and when the loss is said: tests/engine/LostFolderTest.cpp.)

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

TEST_F(SoundProgramTest, ARemovedFolderIsToldAndTheWholeRecordingIsSavedInTheVideosFolder) {
    const fs::path home = root_ / "home", videos = home / "Videos";
    fs::create_directories(videos);
    const std::string lost = (out_ / "").string();
    Program program(folder_, {"-vc", "time=3", OutArg()},
                    {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitForSound(out_ / "~tempaudio.wav", 1.0)) << TodaysLog();
    // As rm -rf does, again while the program adds to it.
    ASSERT_TRUE(WaitFor([&] {
        std::error_code ignored;
        fs::remove_all(out_, ignored);
        return !fs::exists(out_);
    }));

    const std::string told = " - The folder " + lost +
                             " was removed or unmounted during the recording; it goes on and is "
                             "saved in " +
                             (videos / "").string() + ".\n";
    EXPECT_TRUE(WaitFor([&] { return TodaysLog().find(told) != std::string::npos; },
                        std::chrono::seconds(3)))
        << TodaysLog();
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find(" - Video file saved\n") != std::string::npos;
    })) << TodaysLog();
    const auto files = Recordings(videos);
    ASSERT_EQ(files.size(), 1u) << TodaysLog();
    const std::string file = files.front().string();
    EXPECT_NE(TodaysLog().find(" - saved in " + file + " because the folder " + lost +
                               " was removed or unmounted during the recording"),
              std::string::npos)
        << TodaysLog();
    // All three seconds, not the one before the loss.
    ExpectRecordingWithSound(file, 3.0, 0.1);
    EXPECT_NEAR(std::stod(StreamInfo(file, 0).at("duration")), 3.0, 0.3);
    EXPECT_NEAR(ToneHz(Samples(file), 2, 44100), 440.0, 2.0);
    for (const auto& entry : fs::directory_iterator(videos))
        EXPECT_EQ(entry.path().string(), file) << "left behind";
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
