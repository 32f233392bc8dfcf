// The single-instance lock, held by this process and by child processes.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/instance/SingleInstance.h"
#include "tests/support/ChildProcess.h"

using velmora::platform::InstanceLock;

namespace {

std::string UniqueTitle(const char* what) {
    return velmora::test::UniqueName("Test", what);
}

using velmora::test::InChild;

TEST(InstanceLock, SecondHolderOfTheSameTitleIsRefusedUntilTheFirstLetsGo) {
    const std::string title = UniqueTitle("Same");
    InstanceLock first, second;
    ASSERT_TRUE(first.Acquire(title));
    EXPECT_FALSE(second.Acquire(title));
    EXPECT_EQ(InChild([&] { return InstanceLock().Acquire(title) ? 1 : 0; }), 0);
    first.Release();
    EXPECT_TRUE(second.Acquire(title));
}

TEST(InstanceLock, OtherTitlesAndDisplaysRunSideBySide) {
    InstanceLock a, b;
    EXPECT_TRUE(a.Acquire(UniqueTitle("One")));
    EXPECT_TRUE(b.Acquire(UniqueTitle("Two")));
    EXPECT_NE(InstanceLock::NameFor("Velmora", 0, ":1"), InstanceLock::NameFor("Velmora", 0, ":2"));
    EXPECT_NE(InstanceLock::NameFor("Velmora", 0, ":1"), InstanceLock::NameFor("Velmora", 1, ":1"));
    EXPECT_EQ(InstanceLock::NameFor("Velmora", 0, ":1.0"),
              InstanceLock::NameFor("Velmora", 0, ":1"));
}

TEST(InstanceLock, ALockThatCannotBeMadeDoesNotPassForAnotherCopy) {
    // No descriptors left: the socket cannot be made, which says nothing
    // about another copy.
    EXPECT_EQ(InChild([&] {
                  const rlimit none{0, 0};
                  if (::setrlimit(RLIMIT_NOFILE, &none) != 0) return 3;
                  InstanceLock lock;
                  if (!lock.Acquire(UniqueTitle("NoFd"))) return 0;
                  return lock.held() ? 2 : 1;
              }),
              1);
}

TEST(InstanceLock, DeadHolderFreesTheLockWithoutCleanUp) {
    const std::string title = UniqueTitle("Dead");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        InstanceLock lock;
        const char ok = lock.Acquire(title) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    InstanceLock mine;
    EXPECT_FALSE(mine.Acquire(title));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(mine.Acquire(title));
    ::close(ready[0]);
    ::close(ready[1]);
}

namespace fs = std::filesystem;

// A private folder of the test's own, 0700 as a runtime folder is.
struct TestFolder {
    TestFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-run-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TestFolder() {
        if (!path.empty()) fs::remove_all(path);
    }
    std::size_t Files() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(path), fs::directory_iterator()));
    }
    std::string path;
};

// The lock is a socket in $XDG_RUNTIME_DIR while it is held, and leaves
// nothing there when let go; a runtime folder open to others is not used.
TEST(InstanceLock, TheSocketLivesInThePrivateRuntimeFolderWhileHeld) {
    TestFolder runtime;
    ASSERT_FALSE(runtime.path.empty());
    EXPECT_EQ(InChild([&] {
                  ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
                  const std::string title = UniqueTitle("Runtime");
                  const std::string socket = InstanceLock::SocketPath(title);
                  if (socket.rfind(runtime.path + "/velmora-", 0) != 0) return 1;
                  InstanceLock lock;
                  if (!lock.Acquire(title) || !lock.held()) return 2;
                  struct stat info {};
                  if (::lstat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return 3;
                  if (InstanceLock().Acquire(title)) return 4;
                  lock.Release();
                  if (runtime.Files() != 0) return 5;
                  ::chmod(runtime.path.c_str(), 0755);
                  if (InstanceLock::SocketPath(title).rfind(runtime.path, 0) == 0) return 6;
                  return 0;
              }),
              0);
}

// Without a usable runtime folder the lock goes in a folder of our own
// under the temporary folder. Where that name is a link, another user's or
// open to others, it is not used: a folder made by mkdtemp beside it is,
// found again by the next call (a command to the running copy), and the
// note says why.
TEST(InstanceLock, TheFallbackFolderIsOursAloneOrAnotherOfOursIsMade) {
    TestFolder base;
    ASSERT_FALSE(base.path.empty());
    const std::string own = base.path + "/velmora-" + std::to_string(::geteuid());
    std::string why, note;
    EXPECT_EQ(InstanceLock::PrivateFolderIn(base.path, &why, &note), own + "/") << why;
    EXPECT_EQ(note, "");
    struct stat info {};
    ASSERT_EQ(::stat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Each way of not being ours, with a folder of another user's that only
    // looks like one of our replacements (root can make one) passed over.
    const bool root = ::geteuid() == 0;
    if (root) {
        fs::create_directory(own + "-AAAAAA");
        ::chmod((own + "-AAAAAA").c_str(), 0700);
        ASSERT_EQ(::chown((own + "-AAAAAA").c_str(), 65534, 65534), 0);
    }
    const char* ways[] = {"is open to other users", "is a symbolic link", " belongs to "};
    for (const char* way : ways) {
        SCOPED_TRACE(way);
        fs::remove_all(own);
        if (way == ways[0]) {
            fs::create_directory(own);
            ::chmod(own.c_str(), 0777);
        } else if (way == ways[1]) {
            fs::create_directory(base.path + "/elsewhere");
            fs::create_directory_symlink(base.path + "/elsewhere", own);
        } else {
            if (!root) continue;
            fs::create_directory(own);
            ::chmod(own.c_str(), 0700);
            ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        }
        note.clear();
        const std::string made = InstanceLock::PrivateFolderIn(base.path, &why, &note);
        ASSERT_EQ(made.rfind(own + "-", 0), 0u) << made << " " << why;
        ASSERT_EQ(made.size(), own.size() + 8) << made;
        EXPECT_NE(note.find(way), std::string::npos) << note;
        EXPECT_NE(note.find(made.substr(0, made.size() - 1)), std::string::npos) << note;
        ASSERT_EQ(::lstat(made.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(info.st_uid, ::geteuid());
        EXPECT_EQ(InstanceLock::PrivateFolderIn(base.path), made);
        fs::remove(made);
    }
    EXPECT_TRUE(fs::is_empty(base.path + "/elsewhere"));
    if (root) {
        EXPECT_TRUE(fs::exists(own + "-AAAAAA"));
        EXPECT_EQ(::stat((own + "-AAAAAA").c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 65534u);
    } else {
        GTEST_SKIP() << "another user's folder needs root: only links and open folders were tried";
    }
}

// A lock held by a process of another user (only root could have put it in
// our folder) is named by its user rather than passed off as our own copy.
TEST(InstanceLock, ALockHeldByAnotherUserSaysWhose) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    TestFolder runtime;
    ASSERT_FALSE(runtime.path.empty());
    ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
    const std::string title = UniqueTitle("Foreign");
    const std::string socket = InstanceLock::SocketPath(title);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Takes the lock as root, then listens as nobody: the socket's peer
        // is who listens.
        const std::string lockPath = socket.substr(0, socket.size() - 5) + ".lock";
        const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socket.data(), socket.size());
        const bool ok = lock >= 0 && ::flock(lock, LOCK_EX) == 0 &&
                        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                        ::setresuid(65534, 65534, 65534) == 0 && ::listen(fd, 4) == 0;
        (void)!::write(ready[1], ok ? "1" : "0", 1);
        ::pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    InstanceLock mine;
    EXPECT_FALSE(mine.Acquire(title));
    EXPECT_NE(mine.holder().find("uid 65534"), std::string::npos) << mine.holder();
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_TRUE(mine.Acquire(title));  // the socket it left is replaced
    EXPECT_TRUE(mine.held());
    EXPECT_TRUE(mine.holder().empty());
    ::close(ready[0]);
    ::close(ready[1]);
    ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
