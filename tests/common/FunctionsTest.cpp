// The system helpers: file deletion and the locked-file test.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/Functions.h"
#include "common/ProgramFolder.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-functions-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        SetProgramFolder(dir);
    }
    void TearDown() override {
        SetProgramFolder("");
        fs::remove_all(dir);
    }
    std::string file(const std::string& name, const std::string& text = "data") {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::string dir;
};

// Holds an exclusive lock as our own writers do.
struct HeldLock {
    int fd;
    explicit HeldLock(const std::string& path) : fd(open(path.c_str(), O_RDWR)) {
        flock(fd, LOCK_EX);
    }
    ~HeldLock() { release(); }
    void release() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

}  // namespace

TEST_F(TempFolder, EraseFileRemovesFilesAndLinksNeverTheirTargets) {
    EXPECT_TRUE(EraseFile(dir + "/nothing.avi"));  // already gone counts as gone
    EXPECT_TRUE(EraseFile(file("plain") + "/under-a-file.avi"));
    const auto locked = file("~tempaudio.wav");
    {
        HeldLock lock(locked);  // another writer's lock does not keep it
        EXPECT_TRUE(EraseFile(locked));
    }
    EXPECT_FALSE(fs::exists(locked));
    const auto target = file("kept.avi");
    fs::create_symlink(target, dir + "/link.avi");
    EXPECT_TRUE(EraseFile(dir + "/link.avi"));
    EXPECT_FALSE(fs::is_symlink(dir + "/link.avi"));
    EXPECT_TRUE(fs::exists(target));
    // What cannot be deleted says so.
    fs::create_directory(dir + "/folder.avi");
    EXPECT_FALSE(EraseFile(dir + "/folder.avi"));
}

TEST_F(TempFolder, IsFileLockedSeesExclusiveLocks) {
    EXPECT_FALSE(IsFileLocked(dir + "/missing"));
    const auto path = file("video.avi");
    EXPECT_FALSE(IsFileLocked(path));
    {
        HeldLock lock(path);
        EXPECT_TRUE(IsFileLocked(path));
    }
    EXPECT_FALSE(IsFileLocked(path));
    // A symbolic link is never opened through.
    fs::create_symlink(path, dir + "/link.avi");
    EXPECT_TRUE(IsFileLocked(dir + "/link.avi"));
}
