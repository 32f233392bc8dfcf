// The folder of a running recording removed (rm -rf) or its disk unmounted
// (umount -l) 2 s into a 6 s recording: the program says so at once, goes on,
// and saves the whole recording in the user's videos folder, saying where.

#include <sys/mount.h>

#include "tests/e2e/ProgramHarness.h"
#include "tests/support/SmallDisk.h"

using namespace velmora::e2e;

namespace {

enum class Loss { Removed, Unmounted };

void PrintTo(Loss loss, std::ostream* os) {
    *os << (loss == Loss::Removed ? "rm -rf" : "umount -l");
}

class LostFolderProgramTest : public ProgramTest, public testing::WithParamInterface<Loss> {};

TEST_P(LostFolderProgramTest, TheWholeRecordingIsSavedInTheVideosFolder) {
    std::optional<velmora::test::SmallDisk> disk;
    fs::path recordings = root_ / "recordings";
    if (GetParam() == Loss::Unmounted) {
        disk.emplace(65536);
        if (!disk->Mounted()) GTEST_SKIP() << disk->Why();
        recordings = disk->Folder();
    }
    fs::create_directories(recordings);
    const std::string lost = (recordings / "").string();
    const fs::path home = root_ / "home", videos = home / "Videos";
    fs::create_directories(videos);
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupVideo]\nWorkDir=" << lost << "\n[SetupApp]\nSendStats=0\n";
    Program program(folder_, {"-vc", "time=6"},
                    {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string()});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(recordings / "~tempvideo.avi"); }))
        << TodaysLog();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (GetParam() == Loss::Removed)
        // As rm -rf does, again while the program adds to it.
        ASSERT_TRUE(WaitFor([&] {
            std::error_code ignored;
            fs::remove_all(recordings, ignored);
            return !fs::exists(recordings);
        }));
    else
        ASSERT_EQ(::umount2(disk->Folder().c_str(), MNT_DETACH), 0);

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
    // All six seconds, not the two before the loss.
    const double seconds = std::stod(capture(
        "ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 '" +
        file + "'"));
    EXPECT_NEAR(seconds, 6.0, 0.6);
    EXPECT_EQ(capture("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
    for (const auto& entry : fs::directory_iterator(videos)) {
        EXPECT_EQ(entry.path().string(), file) << "left behind";
    }
    if (GetParam() == Loss::Unmounted) {
        EXPECT_TRUE(fs::is_empty(recordings));
    }
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Loss, LostFolderProgramTest,
                         testing::Values(Loss::Removed, Loss::Unmounted),
                         [](const testing::TestParamInfo<Loss>& info) {
                             return info.param == Loss::Removed ? "Removed" : "Unmounted";
                         });

}  // namespace
