// Failures of the disk and the folder: a disk that fills during the capture
// or the merge, folders that cannot take the files, and temporary files of
// other runs. Each says why, asks no compressor question, and keeps what
// was recorded.

#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/engine/EngineTestSupport.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

namespace fs = std::filesystem;

bool Has(const std::vector<std::string>& texts, const std::string& part) {
    for (const std::string& t : texts)
        if (t.find(part) != std::string::npos) return true;
    return false;
}

class FullDiskTest : public EngineTest {
  protected:
    TScreenCamera& MakeRaw(int seconds) {
        auto& cam = Make();
        // Uncompressed frames fill a small disk fast.
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.TimeLimit = TTimeLimit{true, 0, 0, static_cast<std::uint8_t>(seconds)};
        return cam;
    }
};

// The disk fills during the capture, so the merge on that disk cannot
// follow: what was written is kept with its index and counts (players see
// its length), and the next recording, into another folder, works without a
// restart because its temporary files go with it.
TEST_F(FullDiskTest, AFullDiskKeepsAnIndexedRecordingAndTheNextGoesIntoAnotherFolder) {
    test::SmallDisk disk(256);  // about 20 frames of 12 KiB
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    auto& cam = MakeRaw(10);
    const std::string target = disk.Folder() + "VideoRecord_test.avi";
    EXPECT_EQ(RunOnce(target), 0);

    const auto errors = Errors();
    EXPECT_TRUE(Has(errors, "The disk is full: " + disk.Folder())) << Text(errors);
    EXPECT_TRUE(host.Questions().empty()) << "a compressor question for a full disk";
    EXPECT_FALSE(cam.Recording);
    const std::string kept = disk.Folder() + "VideoRecord_test_video.avi";
    EXPECT_TRUE(Has(errors, "Recording kept in: " + kept)) << Text(errors);
    const auto written = WrittenIndices(kept);
    EXPECT_GT(written.size(), 5u);
    EXPECT_LT(written.size(), 100u);
    // Its header counts what it holds, and its index is there.
    EXPECT_EQ(Probe(kept, "stream=nb_frames"), std::to_string(written.size()));
    EXPECT_EQ(test::capture("ffmpeg -v error -i '" + kept + "' -f null - 2>&1"), "");
    const std::string bytes = test::capture("tail -c " + std::to_string(8 + 16 * written.size()) +
                                            " '" + kept + "' | head -c 4");
    EXPECT_EQ(bytes, "idx1");
    EXPECT_TRUE(disk.Leftovers().empty());

    // The disk still full, another folder: nothing of it goes to the full one.
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    const int before = desktop->grabs;
    desktop->onGrab = [this, before](int number) {
        // Past the probe, which comes before the files.
        if (number <= before + 1) return;
        EXPECT_EQ(TempVideoFile, folder.path() + "~tempvideo.avi");
        EXPECT_TRUE(FileExists(TempVideoFile));
    };
    EXPECT_EQ(RunOnce(Target("again.avi")), 1) << Text(Errors());
    EXPECT_EQ(WrittenIndices(Target("again.avi")).size(), 11u);
    EXPECT_FALSE(FileExists(disk.Folder() + "~tempvideo.avi"));
}

TEST_F(FullDiskTest, DiskFillingDuringTheMergeKeepsTheRecordingAndLeavesNoPartialTarget) {
    // Room for 1 s of frames (11 of 12 KiB), not for them twice.
    test::SmallDisk disk(192);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    auto& cam = MakeRaw(1);
    std::vector<int> progress;
    cam.OnSaveProgress = [&progress](TScreenCamera*, std::int32_t percent, bool&) {
        progress.push_back(percent);
    };
    const std::string target = disk.Folder() + "VideoRecord_full.avi";
    EXPECT_EQ(RunOnce(target), 1);
    // No final 100: the window would log "Video file saved".
    EXPECT_TRUE(progress.empty() || progress.back() != 100);

    const auto errors = Errors();
    ASSERT_FALSE(errors.empty());
    const std::string& result = errors.back();
    EXPECT_EQ(result.rfind("Error writing files! The disk is full: " + disk.Folder(), 0), 0u)
        << result;
    const std::string kept = disk.Folder() + "VideoRecord_full_video.avi";
    EXPECT_NE(result.find(" Recording kept in: " + kept), std::string::npos) << result;
    EXPECT_TRUE(host.Questions().empty());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(disk.Leftovers().empty());
    EXPECT_EQ(WrittenIndices(kept).size(), 11u);

    ASSERT_TRUE(disk.Resize(16384));
    EXPECT_EQ(RunOnce(target), 1);
    EXPECT_EQ(WrittenIndices(target).size(), 11u);
    (void)cam;
}

TEST_F(FullDiskTest, FoldersThatCannotTakeTheFileSayWhyAndAskNothing) {
    const std::string file = folder.path() + "a-file";
    std::ofstream(file) << "x";
    test::SmallDisk readOnly(64);
    const bool mounted = readOnly.Mounted();
    if (mounted) {
        ASSERT_EQ(
            ::mount("tmpfs", readOnly.Folder().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr),
            0);
    }
    struct Case {
        std::string folder, reason;
    };
    std::vector<Case> cases = {{folder.path() + "missing/", "No such file or directory"},
                               {file + "/", "Not a directory"}};
    if (mounted) cases.push_back({readOnly.Folder(), "Read-only file system"});
    for (const Case& c : cases) {
        MakeRaw(1);
        EXPECT_EQ(RunOnce(c.folder + "VideoRecord_test.avi"), 0) << c.folder;
        EXPECT_TRUE(Has(Errors(), "Error on create AVI file. " + c.folder + ": " + c.reason))
            << Text(Errors());
        EXPECT_TRUE(host.Questions().empty()) << c.folder;
        EXPECT_FALSE(fs::exists(c.folder + "VideoRecord_test.avi"));
    }
}

TEST_F(FullDiskTest, TemporaryFilesOfAnotherRunAreMovedAsideNotDeleted) {
    // A crash's recording, and its start one hour ago.
    std::ofstream(folder.path() + "~tempvideo.avi") << "crashed video";
    std::ofstream(folder.path() + "~tempaudio.wav") << "crashed sound";
    auto& cam = MakeRaw(1);
    camera.reset();  // a start and an exit without recording
    ASSERT_TRUE(fs::exists(folder.path() + "~tempvideo.avi"));
    ASSERT_TRUE(fs::exists(folder.path() + "~tempaudio.wav"));

    auto& again = MakeRaw(1);
    EXPECT_EQ(RunOnce(Target()), 1);
    (void)cam;
    // The new recording took the names; the old one went aside whole.
    const auto errors = Errors();
    ASSERT_TRUE(Has(errors, "An interrupted recording was moved aside: ")) << Text(errors);
    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("VideoRecord_", 0) == 0 && name != "VideoRecord_test.avi")
            aside.push_back(test::capture("cat '" + entry.path().string() + "'"));
    }
    std::sort(aside.begin(), aside.end());
    EXPECT_EQ(aside, (std::vector<std::string>{"crashed sound", "crashed video"}));
    EXPECT_EQ(WrittenIndices(Target()).size(), 11u);
    (void)again;
}

// The program is going away during the merge (a second signal): the part
// copied goes, the recording stays in the temporary files for the next start,
// and neither the worker nor the engine's end deletes them.
TEST_F(FullDiskTest, AnAbandonedMergeLeavesTheTemporaryFilesForTheNextStart) {
    withAudio = true;
    auto& cam = MakeRaw(1);
    cam.RecordAudio = true;
    cam.OnSaveProgress = [&cam](TScreenCamera*, std::int32_t percent, bool&) {
        if (percent >= 10) cam.AbandonMerge();
    };
    RecordOnWorker(Target());
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_FALSE(fs::exists(Target() + ".part"));
    const auto errors = Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), "Saving cancelled: nothing is deleted. The recording is left in: " +
                                 TempVideoFile + ", " + TempAudioFile);
    camera.reset();
    EXPECT_EQ(WrittenIndices(TempVideoFile).size(), 11u);
    EXPECT_TRUE(fs::exists(TempAudioFile));
}

TEST_F(FullDiskTest, LinksPlantedAtTheTemporaryNamesAreRemovedAsLinks) {
    const std::string victim = folder.path() + "victim", soundVictim = folder.path() + "victim2";
    std::ofstream(victim) << "precious";
    std::ofstream(soundVictim) << "precious too";
    fs::create_symlink(victim, folder.path() + "~tempvideo.avi");
    fs::create_symlink(soundVictim, folder.path() + "~tempaudio.wav");
    withAudio = true;
    MakeRaw(1).RecordAudio = true;
    RecordOnWorker(Target());
    EXPECT_EQ(test::capture("cat '" + victim + "'"), "precious");
    EXPECT_EQ(test::capture("cat '" + soundVictim + "'"), "precious too");
    EXPECT_FALSE(fs::exists(folder.path() + "~tempvideo.avi"));
    EXPECT_FALSE(fs::is_symlink(folder.path() + "~tempaudio.wav"));
    // The recording worked, with its sound.
    EXPECT_EQ(WrittenIndices(Target()).size(), 11u);
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "a"), "audio");
}

}  // namespace
}  // namespace velmora::enginetest
