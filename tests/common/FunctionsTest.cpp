// The system helpers: file eraser, locked-file test, machine identity.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "common/FileEraser.h"
#include "common/Functions.h"
#include "common/MachineIdentity.h"
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
        SetBusyCursorHook(nullptr);
        fs::remove_all(dir);
    }
    std::string file(const std::string& name, const std::string& text = "data") {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    std::vector<std::string> pending() {
        std::vector<std::string> lines;
        std::ifstream in(PendingDeletionsFile());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
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

// Counts the attempts the eraser makes.
class CountingEraser : public FileEraser {
  public:
    int deletions = 0, requests = 0;
    bool refuseDeletion = false;
    bool deleteNow(const std::string& path) override {
        ++deletions;
        return refuseDeletion ? false : FileEraser::deleteNow(path);
    }
    bool deleteAtNextStart(const std::string& path) override {
        ++requests;
        return FileEraser::deleteAtNextStart(path);
    }
};

}  // namespace

TEST_F(TempFolder, MissingFileIsErasedWithoutAnyAttempt) {
    CountingEraser eraser;
    EXPECT_TRUE(eraser.erase(dir + "/nothing.avi"));
    EXPECT_EQ(eraser.deletions + eraser.requests, 0);
}

TEST_F(TempFolder, NormalFileGoesAtTheFirstPass) {
    CountingEraser eraser;
    const auto path = file("~tempvideo.avi");
    EXPECT_TRUE(eraser.erase(path));
    EXPECT_EQ(eraser.deletions, 1);
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(TempFolder, UndeletableFileIsTriedFiftyTimesAndReportsFailure) {
    CountingEraser eraser;
    eraser.refuseDeletion = true;
    const auto path = file("stuck.avi");
    EXPECT_FALSE(eraser.erase(path));
    EXPECT_EQ(eraser.deletions, 50);
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(TempFolder, LockedFileIsLeftForTheNextStart) {
    const auto path = file("~tempaudio.wav");
    HeldLock lock(path);
    CountingEraser eraser;
    EXPECT_TRUE(eraser.erase(path));
    EXPECT_EQ(eraser.requests, 50);
    EXPECT_EQ(eraser.deletions, 0);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(pending(), std::vector<std::string>{path});  // listed once

    // Still locked at the next start: it stays listed.
    ProcessPendingDeletions();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(pending().size(), 1u);
    lock.release();
    ProcessPendingDeletions();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(PendingDeletionsFile()));
}

TEST_F(TempFolder, PendingListSurvivesEntriesAlreadyGone) {
    const auto kept = file("kept.avi");
    HeldLock lock(kept);
    ASSERT_TRUE(EraseFile(kept));
    const auto gone = file("gone.avi");
    {
        HeldLock other(gone);
        ASSERT_TRUE(EraseFile(gone));
    }
    fs::remove(gone);
    ProcessPendingDeletions();
    EXPECT_EQ(pending(), std::vector<std::string>{kept});
}

TEST_F(TempFolder, EraseFileShowsTheBusyCursorForItsDuration) {
    std::vector<bool> calls;
    SetBusyCursorHook([&](bool busy) { calls.push_back(busy); });
    EXPECT_TRUE(EraseFile(file("x.avi")));
    EXPECT_EQ(calls, (std::vector<bool>{true, false}));
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

TEST(MachineIdentity, FirstAddressThatIsNotAllZeroes) {
    const HardwareAddress zero{}, real{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e},
        other{0xde, 0xad, 0xbe, 0xef, 0x00, 0x01};
    EXPECT_EQ(ChooseMacAddress({zero, real, other}), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(ChooseMacAddress({real, other}), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(ChooseMacAddress({zero, zero}), "00-00-00-00-00-00");
    // A failed first query stops the search with nothing.
    EXPECT_EQ(ChooseMacAddress({std::nullopt, real}), "");
    // A later failed query keeps the zero text and the search goes on.
    EXPECT_EQ(ChooseMacAddress({zero, std::nullopt, real}), "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(ChooseMacAddress({}), "");
}

TEST(MachineIdentity, ThisMachineGivesUpperCaseHexPairsOrNothing) {
    const std::string mac = GetMacAddress();
    EXPECT_TRUE(mac.empty() || std::regex_match(mac, std::regex("([0-9A-F]{2}-){5}[0-9A-F]{2}")))
        << mac;
}
