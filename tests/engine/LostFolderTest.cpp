// The recording's folder goes away under it (removed, its disk unmounted):
// the recording goes on, the loss is said when it happens, and at the stop
// the whole recording is saved in a folder that is there, with why.

#include <sys/mount.h>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

namespace fs = std::filesystem;

class LostFolderTest : public EngineTest {
  protected:
    // Three seconds of full frames with sound; the folder is lost at the
    // tenth grab (a second in), by `lose`.
    TScreenCamera& Make3Seconds(const std::function<void()>& lose) {
        withAudio = true;
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.RecordAudio = true;
        cam.TimeLimit = TTimeLimit{true, 0, 0, 3};
        cam.FallbackFolders = {folder.path() + "no-videos-folder/", fallback.path()};
        desktop->onGrab = [this, lose](int number) {
            if (number == 10) lose();
            // The loss is said within a second of the recording.
            if (number == 22) toldInTime = !Errors().empty();
        };
        return cam;
    }

    void ExpectSavedInTheFallback(const std::string& lost) {
        const std::string target = fallback.path() + "VideoRecord_test.avi";
        const auto errors = Errors();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.front(), "The folder " + lost +
                                      " was removed or unmounted during the recording; it goes "
                                      "on and is saved in " +
                                      fallback.path() + ".");
        EXPECT_TRUE(toldInTime) << Text(errors);
        const std::string& summary = errors.back();
        EXPECT_EQ(summary.rfind("L12 ", 0), 0u) << Text(errors);
        EXPECT_NE(summary.find(" - saved in " + target + " because the folder " + lost +
                               " was removed or unmounted during the recording"),
                  std::string::npos)
            << summary;
        // Every frame and the sound, nothing else left behind.
        EXPECT_EQ(WrittenIndices(target).size(), 31u);
        EXPECT_EQ(Probe(target, "stream=codec_type", "a"), "audio");
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fallback.path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"VideoRecord_test.avi"});
        EXPECT_FALSE(camera->Recording);
        EXPECT_FALSE(camera->EndedByFailure);
    }

    TempFolder fallback;
    std::atomic<bool> toldInTime{false};
};

TEST_F(LostFolderTest, ARemovedFolderIsSaidAtOnceAndTheWholeRecordingIsSavedElsewhere) {
    const std::string recordings = folder.path() + "recordings/";
    fs::create_directory(recordings);
    Make3Seconds([&] { fs::remove_all(recordings); });
    RecordOnWorker(recordings + "VideoRecord_test.avi");
    ExpectSavedInTheFallback(recordings);
    EXPECT_FALSE(fs::exists(recordings));
}

// A lazily unmounted disk leaves its mount point behind, an empty folder of
// another disk: the recording does not go there either.
TEST_F(LostFolderTest, AnUnmountedDiskIsLostTooThoughItsMountPointStays) {
    test::SmallDisk disk(16384);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    Make3Seconds([&] { ASSERT_EQ(::umount2(disk.Folder().c_str(), MNT_DETACH), 0); });
    RecordOnWorker(disk.Folder() + "VideoRecord_test.avi");
    ExpectSavedInTheFallback(disk.Folder());
    EXPECT_TRUE(fs::is_empty(disk.Folder()));
}

// Only the temporary files went: the folder takes them back.
TEST_F(LostFolderTest, RemovedTemporaryFilesAreWrittenBackIntoTheirFolder) {
    auto& cam = Make3Seconds([] {
        fs::remove(TempVideoFile);
        fs::remove(TempAudioFile);
    });
    RecordOnWorker(Target());
    EXPECT_EQ(WrittenIndices(Target()).size(), 31u);
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "a"), "audio");
    EXPECT_FALSE(FileExists(TempVideoFile));
    EXPECT_FALSE(FileExists(TempAudioFile));
    (void)cam;
}

// Nowhere to go: said, and nothing is claimed saved.
TEST_F(LostFolderTest, WithNoFolderToGoToTheLossIsSaid) {
    const std::string recordings = folder.path() + "recordings/";
    fs::create_directory(recordings);
    auto& cam = Make3Seconds([&] { fs::remove_all(recordings); });
    cam.FallbackFolders = {folder.path() + "missing/"};
    RecordOnWorker(recordings + "VideoRecord_test.avi");
    const auto errors = Errors();
    ASSERT_FALSE(errors.empty()) << Text(errors);
    EXPECT_EQ(errors.front(), "The folder " + recordings +
                                  " was removed or unmounted during the recording; no other "
                                  "folder takes files, so it cannot be saved.");
    for (const std::string& e : errors) EXPECT_EQ(e.rfind("L12 ", 0), std::string::npos) << e;
    EXPECT_TRUE(camera->EndedByFailure);
}

}  // namespace
}  // namespace velmora::enginetest
