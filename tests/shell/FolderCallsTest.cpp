// Calls into folders that may not answer: the caller waits only so long, a
// folder that hangs holds one thread however often it is asked, the others
// still answer, and a late answer reaches its receiver only while it lives.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <vector>

#include "shell/FolderSearch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Until condition holds, serving the event loop (where late answers arrive).
template <class F>
bool Until(F condition) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

TEST(FolderCallsTest, HangingFoldersHoldNeitherTheCallerNorTheFoldersThatAnswer) {
    std::promise<void> gate;
    const std::shared_future<void> released = gate.get_future().share();
    const auto hangs = [released](int value) {
        return std::function<int()>([released, value] {
            released.wait();
            return value;
        });
    };
    auto receiver = std::make_unique<QObject>();
    auto gone = std::make_unique<QObject>();
    std::vector<int> late;
    int lateToGone = 0;

    // More dead folders than the machine has processors.
    const int dead = QThread::idealThreadCount() + 2;
    for (int i = 0; i < dead; ++i) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(AskFolder<int>("/dead/" + std::to_string(i), 50, hangs(i), receiver.get(),
                                    [&](int answer) { late.push_back(answer); }));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }
    // Asked again: waits behind the first question, on the same thread.
    const int threads = FolderSearchPool().activeThreadCount();
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(AskFolder<int>("/dead/0", 10, hangs(100 + i), receiver.get(),
                                    [&](int answer) { late.push_back(answer); }));
    EXPECT_FALSE(AskFolder<int>("/dead/1", 10, hangs(200), gone.get(), [&](int) { ++lateToGone; }));
    EXPECT_EQ(FolderSearchPool().activeThreadCount(), threads);

    // A folder that answers still does, at once.
    EXPECT_EQ(AskFolder<int>(
                  "/alive/", 5000, [] { return 7; }, receiver.get(), [](int) {}),
              std::optional<int>(7));

    gone.reset();
    gate.set_value();
    ASSERT_TRUE(Until([&] { return late.size() == static_cast<std::size_t>(dead) + 5; }))
        << late.size();
    // One folder's answers in the order asked.
    std::vector<int> first;
    for (int answer : late)
        if (answer == 0 || answer >= 100) first.push_back(answer);
    EXPECT_EQ(first, (std::vector<int>{0, 100, 101, 102, 103, 104}));
    EXPECT_TRUE(Until([] { return FolderSearchPool().activeThreadCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(lateToGone, 0);
}

// A listed folder where another copy writes its recording stays listed,
// so that its file is found if that copy is killed; an empty one goes.
TEST(FolderCallsTest, AFolderWhereAnotherCopyWritesItsRecordingStaysListed) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/velmora-folders.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path root(pattern);
    const std::string writing = (root / "writing").string() + "/",
                      empty = (root / "empty").string() + "/";
    fs::create_directory(writing);
    fs::create_directory(empty);
    const std::string part = writing + "VideoRecord_20261211_120000.mp4.part";
    std::ofstream(part) << "being written";
    const int held = ::open(part.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    const FolderSearch search = SearchFolders("", false, {writing, empty}, OutputFormat::Mp4);
    EXPECT_TRUE(search.found.empty());
    EXPECT_EQ(search.emptied, std::vector<std::string>{empty});
    ::close(held);
    fs::remove_all(root);
}

}  // namespace
}  // namespace velmora
