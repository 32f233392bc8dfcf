// Whether a folder can take recordings, and the system's reason when not:
// missing, not a folder, read-only for the user who runs the program, a
// folder of the system.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/WritableFolder.h"

namespace {

namespace fs = std::filesystem;

class WritableFolderTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velmora-folder-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(WritableFolderTest, UsableFoldersHaveNoReasonAndLeaveNothingBehind) {
    EXPECT_EQ(velmora::FolderUnusableReason(dir_), "");
    // A prefix without the final '/': the files go into its parent.
    EXPECT_EQ(velmora::FolderUnusableReason(dir_ + "prefix"), "");
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(WritableFolderTest, MissingFoldersAndFilesGiveTheSystemsReason) {
    std::ofstream(dir_ + "file") << "x";
    EXPECT_EQ(velmora::FolderUnusableReason(dir_ + "missing/"), "No such file or directory");
    EXPECT_EQ(velmora::FolderUnusableReason(dir_ + "file/"), "Not a directory");
    EXPECT_EQ(velmora::FolderUnusableReason("/" + std::string(5000, 'a') + "/"),
              "File name too long");
    EXPECT_NE(velmora::FolderUnusableReason("/proc/"), "");
}

// Folders of the system, not for files: refused even where root could write
// into them, also behind a link; a folder for files there is not.
TEST_F(WritableFolderTest, SystemFoldersAreRefused) {
    const std::string refused = "Not a folder for files (a system folder)";
    for (const std::string folder : {"/dev/", "/dev/VideoRecord", "/proc/", "/sys/", "/dev/pts/"}) {
        EXPECT_EQ(velmora::FolderUnusableReason(folder), refused) << folder;
        EXPECT_EQ(velmora::SystemFolderReason(folder), refused) << folder;
    }
    fs::create_directory_symlink("/dev", dir_ + "devices");
    EXPECT_EQ(velmora::FolderUnusableReason(dir_ + "devices/"), refused);
    EXPECT_EQ(velmora::SystemFolderReason(dir_), "");
    EXPECT_EQ(velmora::SystemFolderReason(dir_ + "missing/"), "");
    if (fs::is_directory("/dev/shm")) {
        EXPECT_EQ(velmora::SystemFolderReason("/dev/shm/"), "");
    }
}

// Permission bits do not stop root: the check runs as an unprivileged user.
TEST_F(WritableFolderTest, AFolderTheUserMayNotWriteIsPermissionDenied) {
    if (::geteuid() != 0) {
        ::chmod(dir_.c_str(), 0555);
        EXPECT_EQ(velmora::FolderUnusableReason(dir_), "Permission denied");
        ::chmod(dir_.c_str(), 0755);
        return;
    }
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // nobody
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(2);
        _exit(velmora::FolderUnusableReason(dir_) == "Permission denied" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become an unprivileged user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
