// Files planted in the recordings' folder by whoever can write it (a shared
// folder, one under the temporary folder): a named pipe under a temporary
// file's name, another user's pipe or file under a kept recording's name.
// The program looks at them without opening them in a way that waits, names
// each in the log, offers none of them, deletes and moves none of them, and
// a recording that would need the name is refused naming the file.

#include <sys/stat.h>

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::run;

namespace {

class PlantedFilesTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        // Open to everyone, as the temporary folder is.
        std::string pattern = (fs::temp_directory_path() / "velmora-shared-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        shared_ = pattern;
        ::chmod(shared_.c_str(), 01777);
        // MP4 is the format whose search for interrupted recordings reads
        // the temporary video.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << shared_.string() << "/\nTypeCapture=1\n"
            << "CaptureCursor=0\nVideoFPS=10\nOutputFormat=mp4\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    }
    void TearDown() override {
        if (!shared_.empty()) fs::remove_all(shared_);
        ProgramTest::TearDown();
    }
    static bool IsPipe(const fs::path& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    }
    // Starts with -vc and waits until the log has named every file: the
    // program must answer throughout, refuse the recording naming the
    // pipe, and leave at a close.
    void ExpectLeftAlone(const std::vector<std::pair<fs::path, std::string>>& planted) {
        Program program(folder_, {"-vc"});
        const std::string main = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(main.empty());
        for (const auto& [file, what] : planted)
            EXPECT_TRUE(WaitFor([&] {
                return TodaysLog().find("left alone: " + file.string() + " (" + what + ")") !=
                       std::string::npos;
            })) << file
                << "\n"
                << TodaysLog();
        const fs::path pipe = shared_ / "~tempvideo.avi";
        EXPECT_TRUE(WaitFor([&] {
            return TodaysLog().find("Can not delete video temp file: " + pipe.string() +
                                    " (a named pipe, not a regular file; it is left alone).") !=
                   std::string::npos;
        })) << TodaysLog();
        EXPECT_TRUE(program.Window("Notice").empty()) << "an interrupted recording was offered";
        program.Close(main);
        EXPECT_EQ(program.Exit(), 0) << TodaysLog();
        EXPECT_TRUE(Recordings(shared_).empty());
        for (const auto& [file, what] : planted) EXPECT_TRUE(fs::exists(fs::symlink_status(file)));
        EXPECT_TRUE(IsPipe(pipe));
    }
    fs::path shared_;
};

}  // namespace

// A pipe opened for reading waits for a writer: the program would hang at
// its start, before its window could be used or a signal be handled.
TEST_F(PlantedFilesTest, APipeUnderTheTemporaryVideosNameIsLeftAlone) {
    const fs::path pipe = shared_ / "~tempvideo.avi";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ExpectLeftAlone({{pipe, "a named pipe, not a regular file"}});
}

TEST_F(PlantedFilesTest, AnotherUsersPipeAndFileAreLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting files as another user (runuser -u nobody) needs root";
    const fs::path pipe = shared_ / "~tempvideo.avi";
    const fs::path keptPipe = shared_ / "VideoRecord_20260101_000000_video.avi";
    const fs::path sound = shared_ / "~tempaudio.wav";
    ASSERT_EQ(
        run("runuser -u nobody -- mkfifo '" + pipe.string() + "' '" + keptPipe.string() + "'"), 0);
    ASSERT_EQ(run("runuser -u nobody -- sh -c 'printf RIFF > \"" + sound.string() + "\"'"), 0);
    ExpectLeftAlone({{pipe, "a named pipe, not a regular file"},
                     {keptPipe, "a named pipe, not a regular file"},
                     {sound, "a file of nobody (uid 65534), not of this user"}});
    EXPECT_EQ(Slurp(sound), "RIFF");
}
