// The merge into the target file: streams, result texts, cancel, and the
// recording kept when the target cannot be written.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/Functions.h"
#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

using namespace velmora::vfw;

TEST(MergeTextTest, EverySaveResultHasItsText) {
    const std::pair<std::uint32_t, const char*> rows[] = {
        {0x80044065, "Error, unsupported format!"},
        {0x80044066, "Error, bad format!"},
        {0x80044067, "Error in memory!"},
        {0x80044068, "Error internal!"},
        {0x80044069, "Error bad flags!"},
        {0x8004406A, "Error bad params!"},
        {0x8004406B, "Error bad size!"},
        {0x8004406C, "Error bad handle!"},
        {0x8004406D, "Error reading files!"},
        {0x8004406E, "Error writing files!"},
        {0x8004406F, "Error opening files!"},
        {0x80044070, "Error in compressor!"},
        {0x80044071, "Error no compressor!"},
        {0x80044072, "Error read-only files!"},
        {0x80044073, "Error no data!"},
        {0x80044074, "Error buffer too small!"},
        {0x80044075, "Error cannot compress!"},
        {0x800440C6, "Saving cancelled: nothing is deleted."},
        {0x800440C7, "Error generic!"},
        {0x80044076, "Avi error number: 2147762294"}};
    for (const auto& [code, text] : rows)
        EXPECT_EQ(TScreenCamera::SaveResultText(MakeAviError(code)), text) << std::hex << code;
}

TEST(MergeTextTest, EveryOpenResultHasItsText) {
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_OK), "");
    EXPECT_EQ(TScreenCamera::OpenResultText(REGDB_E_CLASSNOTREG),
              "According to the registry, the type of AVI file specified in AVIFileOpen does not "
              "have a handler to process it.");
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_BADFORMAT),
              "The file could not be read, indicating a corrupt file or an unrecognized format.");
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_MEMORY),
              "The file could not be opened because of insufficient memory.");
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_FILEREAD),
              "A disk error occurred while reading the AVI file.");
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_FILEOPEN),
              "A disk error occurred while opening the AVI file.");
    EXPECT_EQ(TScreenCamera::OpenResultText(AVIERR_NODATA), "Unknown error opening AVI file");
}

// channels of the fake recorder's WAV (16-byte fmt chunk)
void ZeroChannels(const std::string& wav) {
    std::fstream f(wav, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(22);
    f.write("\0\0", 2);
}

class MergeTest : public EngineTest {
  protected:
    TScreenCamera& MakeRaw() {
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
        return cam;
    }
    // A second's recording whose merge is cancelled: its files are kept as
    // VideoRecord_test_video.avi (and _audio.wav with sound), as a crash's are.
    TScreenCamera& RecordAndKeep(bool withSound) {
        withAudio = withSound;
        auto& cam = MakeRaw();
        cam.RecordAudio = withSound;
        cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
        RecordOnWorker(Target());
        cam.OnSaveProgress = nullptr;
        return cam;
    }
};

TEST_F(MergeTest, SummaryLineTakesTheMainWindowsFigures) {
    auto& cam = Make();
    cam.CompressorName = "xvid";
    cam.ElapsedText = "1m 5s";
    host.figures = MergeSummaryFigures{800, 600, 0.0};
    EXPECT_EQ(cam.SummaryLine(), "L12 xvid; 800x600; L4 1m 5s; L11 0%");
    host.figures.droppedPercent = 12.5;
    EXPECT_EQ(cam.SummaryLine(), "L12 xvid; 800x600; L4 1m 5s; L11 12.5%");
}

TEST_F(MergeTest, RecordingWithoutSoundGivesOneVideoStreamAndTheSummary) {
    auto& cam = MakeRaw();
    std::vector<int> progress;
    cam.OnSaveProgress = [&](TScreenCamera*, std::int32_t percent, bool&) {
        progress.push_back(percent);
    };
    host.figures = MergeSummaryFigures{64, 48, 0.0};
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "v"), "video");
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(Errors(), std::vector<std::string>{"L12 Uncompressed; 64x48; L4 1s; L11 0%"});
    EXPECT_EQ(host.Reports(), Errors());
    EXPECT_EQ(host.BusyCalls(), (std::vector<bool>{true, false}));
    EXPECT_FALSE(FileExists(TempVideoFile));
}

TEST_F(MergeTest, MissingSoundFileGivesOneStreamAndNoMessage) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    recorder->writeWav = false;
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors().front().rfind("L12 ", 0), 0u);
}

TEST_F(MergeTest, CancelRemovesThePartialFileAndKeepsTheRecordingForTheNextStart) {
    auto& cam = MakeRaw();
    std::vector<int> progress;
    cam.OnSaveProgress = [&](TScreenCamera*, std::int32_t percent, bool& proceed) {
        progress.push_back(percent);
        proceed = false;
    };
    RecordOnWorker(Target());
    const std::string kept = folder.path() + "VideoRecord_test_video.avi";
    EXPECT_EQ(Errors(), std::vector<std::string>{
                            "Saving cancelled: nothing is deleted. Recording kept in: " + kept});
    // No "saved" report, and no file under the target's name.
    ASSERT_FALSE(progress.empty());
    EXPECT_NE(progress.back(), 100);
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_FALSE(FileExists(Target() + ".part"));
    EXPECT_FALSE(FileExists(TempVideoFile));
    // The whole recording, where the next start looks for it.
    const auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().video, kept);
    EXPECT_EQ(found.front().target, Target());
}

TEST_F(MergeTest, TargetThatCannotBeReplacedKeepsTheRecording) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    std::ofstream(Target()) << "old";
    const int fd = ::open(Target().c_str(), O_RDWR);
    ::flock(fd, LOCK_EX);
    RecordOnWorker(Target());
    ::close(fd);
    const std::string video = folder.path() + "VideoRecord_test_video.avi";
    const std::string audio = folder.path() + "VideoRecord_test_audio.wav";
    EXPECT_EQ(Errors(), std::vector<std::string>{"Can not delete existing video file: " + Target() +
                                                 ". Recording kept in: " + video + ", " + audio});
    std::ifstream in(Target());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    EXPECT_EQ(Probe(video, "stream=codec_type"), "video");
    EXPECT_TRUE(FileExists(audio));
}

// The merge cannot make its file (a folder stands at the name of its part):
// the recording moves to a name of its own, where neither the next recording
// nor the engine's end deletes it, and a second failure does not overwrite
// the first.
TEST_F(MergeTest, FailedSaveKeepsTheRecordingOutOfTheNextOnesWay) {
    MakeRaw();
    const std::string target = folder.path() + "VideoRecord_x.avi";
    ASSERT_EQ(::mkdir((target + ".part").c_str(), 0700), 0);
    const std::string kept = folder.path() + "VideoRecord_x_video.avi";
    const std::string second = folder.path() + "VideoRecord_x_video_2.avi";
    RecordOnWorker(target);
    ASSERT_EQ(Errors().size(), 1u);
    // The reason follows the described text.
    EXPECT_EQ(Errors()[0],
              "Error opening files! " + folder.path() + ": File exists Recording kept in: " + kept);
    EXPECT_FALSE(FileExists(TempVideoFile));
    EXPECT_EQ(Probe(kept, "stream=codec_type"), "video");

    RecordOnWorker(target);
    ASSERT_EQ(Errors().size(), 2u);
    EXPECT_EQ(Errors()[1], "Error opening files! " + folder.path() +
                               ": File exists Recording kept in: " + second);
    camera.reset();
    EXPECT_EQ(Probe(kept, "stream=codec_type"), "video");
    EXPECT_EQ(Probe(second, "stream=codec_type"), "video");
}

// Onto another disk a rename cannot move a file; a copy does, as private as
// the recording, and the file is gone from where it was.
TEST(MoveWithoutReplacingTest, AnotherDiskGetsAPrivateCopy) {
    TempFolder folder;
    struct stat here {
    }, there{};
    if (::stat(folder.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system";
    char pattern[] = "/dev/shm/velmora-keep-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string other = std::string(pattern) + "/";
    const std::string from = folder.path() + "~tempvideo.avi";
    std::ofstream(from) << "frames";
    ::chmod(from.c_str(), 0600);
    std::ofstream(other + "VideoRecord_y_video.avi") << "taken";
    EXPECT_EQ(MoveWithoutReplacing(from, other + "VideoRecord_y_video.avi"),
              other + "VideoRecord_y_video_2.avi");
    std::ifstream in(other + "VideoRecord_y_video_2.avi");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "frames");
    struct stat st {};
    ASSERT_EQ(::stat((other + "VideoRecord_y_video_2.avi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(FileExists(from));
    std::error_code ec;
    std::filesystem::remove_all(other, ec);
}

// A sound file the recorder never finished does not go into the merge; it may
// still hold most of the sound, so it is kept rather than deleted.
TEST_F(MergeTest, UnfinishedSoundFileIsKept) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    recorder->closes = false;
    desktop->onGrab = [](int number) {
        if (number == 2) std::ofstream(TempAudioFile) << "RIFF partial";
    };
    RecordOnWorker(Target());
    const std::string audio = folder.path() + "VideoRecord_test_audio.wav";
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[1].rfind("L12 ", 0), 0u);
    EXPECT_EQ(errors[2], "Recording kept in: " + audio);
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    std::ifstream in(audio);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "RIFF partial");
}

// A temporary video that cannot be read back is kept, not deleted.
TEST_F(MergeTest, UnreadableVideoIsKept) {
    MakeRaw();
    // Spoilt after it was finished, before the merge opens it.
    host.onRestore = [] { std::ofstream(TempVideoFile, std::ios::trunc) << "not an avi"; };
    RecordOnWorker(Target());
    const std::string video = folder.path() + "VideoRecord_test_video.avi";
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1], "Recording kept in: " + video);
    EXPECT_FALSE(FileExists(Target()));
    std::ifstream in(video);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not an avi");
}

// The recorder could not finish the sound file as it closed it: said as a
// failed write is, and what it holds is still merged.
TEST_F(MergeTest, FailedFinishOfTheSoundFileIsReported) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    recorder->writeErrorAtStop = EIO;
    RecordOnWorker(Target());
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0],
              "Can not write the sound file: " + TempAudioFile + ": " + std::strerror(EIO));
    EXPECT_EQ(errors[1].rfind("L12 ", 0), 0u);
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "a:0"), "audio");
}

// A refused "~tempaudio.wav" would be offered again at every start: it is
// kept under the recording's own name instead.
TEST_F(MergeTest, RefusedTemporarySoundFileIsKeptUnderTheRecordingsName) {
    auto& cam = RecordAndKeep(true);
    // As a crash leaves them.
    std::filesystem::rename(folder.path() + "VideoRecord_test_video.avi", TempVideoFile);
    std::filesystem::rename(folder.path() + "VideoRecord_test_audio.wav", TempAudioFile);
    ZeroChannels(TempAudioFile);

    const auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 1u);
    const std::string kept = BesideTarget(found[0].target, "_audio.wav");
    ASSERT_TRUE(cam.RecoverRecordings(found));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    ASSERT_GE(Errors().size(), 2u);
    EXPECT_EQ(Errors()[1],
              "The sound file cannot be merged (0 channels); the video is saved without "
              "sound. The sound is kept in: " +
                  kept);
    EXPECT_TRUE(FileExists(kept));
    EXPECT_FALSE(FileExists(TempAudioFile));
    EXPECT_TRUE(cam.FindInterruptedRecordings(folder.path()).empty());
}

// A merge killed on the way left its part: the next merge to that name (here
// the recovery's "Yes") removes it instead of failing with "File exists".
TEST_F(MergeTest, PartLeftByAKilledMergeIsRemoved) {
    auto& cam = RecordAndKeep(false);
    bool lockedWhileWritten = false;
    cam.OnSaveProgress = [&](TScreenCamera*, std::int32_t, bool&) {
        lockedWhileWritten = lockedWhileWritten || IsFileLocked(Target() + ".part");
    };
    std::ofstream(Target() + ".part") << "912 MB of an unfinished copy";

    ASSERT_TRUE(cam.RecoverRecordings(cam.FindInterruptedRecordings(folder.path())));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    ASSERT_EQ(Errors().size(), 2u);
    EXPECT_EQ(Errors()[1], "The interrupted recording is saved: " + Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type"), "video");
    EXPECT_FALSE(FileExists(Target() + ".part"));
    // What tells the next merge that this one still runs.
    EXPECT_TRUE(lockedWhileWritten);
}

// A part that is held is another merge's, still running: left alone.
TEST_F(MergeTest, PartOfARunningMergeIsLeftAlone) {
    MakeRaw();
    std::ofstream(Target() + ".part") << "being written";
    const int fd = ::open((Target() + ".part").c_str(), O_RDWR);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    RecordOnWorker(Target());
    ::close(fd);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].rfind("Error opening files! " + folder.path() + ": File exists", 0), 0u)
        << Errors()[0];
    std::ifstream in(Target() + ".part");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "being written");
}

// WorkDir=/dev/ (the settings file says so): no recording starts there, and
// nothing of one is left in it.
TEST_F(MergeTest, SystemFolderIsRefusedBeforeAnythingIsWritten) {
    MakeRaw();
    RecordOnWorker("/dev/VideoRecord_test.avi");
    const bool written =
        FileExists("/dev/~tempvideo.avi") || FileExists("/dev/VideoRecord_test.avi");
    // Only what an old build made here.
    ::unlink("/dev/~tempvideo.avi");
    ::unlink("/dev/VideoRecord_test.avi");
    EXPECT_FALSE(written);
    ASSERT_FALSE(Errors().empty());
    EXPECT_EQ(Errors()[0],
              "Error on create AVI file. /dev/: Not a folder for files (a system folder)");
    EXPECT_EQ(Errors().size(), 1u);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Under the usual umask a screen recording would be readable by everyone on
// the machine: the files are the user's alone; the folder stays as it was.
TEST_F(MergeTest, RecordingsAndKeptFilesAreTheUsersAlone) {
    const mode_t umask = ::umask(022);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    auto& cam = MakeRaw();
    RecordOnWorker(Target());
    EXPECT_EQ(ModeOf(Target()), 0600u);

    cam.OnSaveProgress = [&](TScreenCamera*, std::int32_t, bool& proceed) {
        // The temporary video, and the part of the merge, as they are written.
        EXPECT_EQ(ModeOf(TempVideoFile), 0600u);
        EXPECT_EQ(ModeOf(Target("VideoRecord_2.avi") + ".part"), 0600u);
        proceed = false;
    };
    RecordOnWorker(Target("VideoRecord_2.avi"));
    EXPECT_EQ(ModeOf(folder.path() + "VideoRecord_2_video.avi"), 0600u);
    EXPECT_EQ(ModeOf(folder.path()), 0755u);
    ::umask(umask);
}

// A sound file nothing could read next to the picture: the video is merged
// alone and the sound file kept, never deleted.
TEST_F(MergeTest, SoundFileWithAnImpossibleHeaderIsKeptAndTheVideoMergedAlone) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    host.onRestore = [] { ZeroChannels(TempAudioFile); };
    RecordOnWorker(Target());
    const std::string audio = folder.path() + "VideoRecord_test_audio.wav";
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0],
              "The sound file cannot be merged (0 channels); the video is saved without "
              "sound.");
    EXPECT_EQ(errors[1].rfind("L12 ", 0), 0u);
    EXPECT_EQ(errors[2], "Recording kept in: " + audio);
    EXPECT_EQ(Probe(Target(), "stream=codec_type"), "video");
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    EXPECT_TRUE(FileExists(audio));
}

TEST_F(MergeTest, RecoveryRefusesASoundFileWithAnImpossibleHeader) {
    auto& cam = RecordAndKeep(true);
    const std::string video = folder.path() + "VideoRecord_test_video.avi";
    const std::string audio = folder.path() + "VideoRecord_test_audio.wav";
    ASSERT_TRUE(FileExists(video) && FileExists(audio));
    ZeroChannels(audio);

    ASSERT_TRUE(cam.RecoverRecordings(cam.FindInterruptedRecordings(folder.path())));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[1],
              "The sound file cannot be merged (0 channels); the video is saved without "
              "sound. The sound is kept in: " +
                  audio);
    EXPECT_EQ(errors[2], "The interrupted recording is saved: " + Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type"), "video");
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    EXPECT_TRUE(FileExists(audio));
    // Not offered again: the lone sound file is no interrupted recording.
    EXPECT_TRUE(cam.FindInterruptedRecordings(folder.path()).empty());
}

// A kept video whose header names another codec than its frames: the merge
// copies it into a file nothing plays. That file goes; the recording stays.
TEST_F(MergeTest, RecoveryKeepsTheRecordingWhenItsCopyDoesNotPlay) {
    withAudio = false;
    auto& cam = Make();
    cam.CompressorIndex = IndexOf(MakeFourCC('X', 'V', 'I', 'D'));
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
    RecordOnWorker(Target());
    cam.OnSaveProgress = nullptr;
    const std::string video = folder.path() + "VideoRecord_test_video.avi";
    ASSERT_TRUE(FileExists(video));
    {
        // Every fourcc of the header says H.264 now; the frames stay MPEG-4.
        std::fstream f(video, std::ios::in | std::ios::out | std::ios::binary);
        std::string head(4096, '\0');
        f.read(head.data(), static_cast<std::streamsize>(head.size()));
        int patched = 0;
        for (const char* fourcc : {"XVID", "xvid", "FMP4"})
            for (auto at = head.find(fourcc); at != std::string::npos; at = head.find(fourcc, at + 4)) {
                f.clear();
                f.seekp(static_cast<std::streamoff>(at));
                f.write("H264", 4);
                ++patched;
            }
        ASSERT_GT(patched, 0);
    }
    cam.FileFormat = OutputFormat::Mp4;
    const auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 1u);
    const std::string mp4 = found[0].target;
    ASSERT_TRUE(cam.RecoverRecordings(found));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    const auto errors = Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind("The recovered file cannot be played back (", 0), 0u)
        << errors.back();
    EXPECT_NE(errors.back().find("it is removed. The recording is left in: " + video),
              std::string::npos)
        << errors.back();
    EXPECT_FALSE(FileExists(mp4));
    EXPECT_TRUE(FileExists(video));
}

}  // namespace
}  // namespace velmora::enginetest
