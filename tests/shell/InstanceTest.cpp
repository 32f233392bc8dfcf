// The single-instance lock, held by this process and by child processes.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

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

}  // namespace
