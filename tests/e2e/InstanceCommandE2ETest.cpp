// `velmora --toggle/--start/--stop` from another process drive the running
// copy on the private Xvfb, as a desktop's key binding would.

#include "tests/e2e/ProgramHarness.h"
#include "tests/support/HeldOpen.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::capture;

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class InstanceCommandTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        out_ = root_ / "out";
        fs::create_directory(out_);
    }
    // What a second copy given the switch exits with.
    std::optional<int> Send(const std::string& command) {
        Program sender(folder_, {command});
        return sender.Exit();
    }
    // What a second copy given these parameters prints and exits with
    // ("exit=N" last); one that does not end is stopped.
    std::string SendAndTell(const std::string& parameters) {
        return capture("cd '" + folder_.string() + "' && timeout 20 ./velmora " + parameters +
                       " 2>&1; echo exit=$?");
    }
    fs::path out_;
};

TEST_F(InstanceCommandTest, ToggleTwiceRecordsAndMergesAndStopWhenIdleDoesNothing) {
    Program program(folder_, {"path=" + out_.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    // The copy carries commands out in the order they come: had the --stop
    // while idle started a recording, the --toggle after it would stop that.
    EXPECT_EQ(Send("--stop"), 0);
    EXPECT_EQ(Send("--toggle"), 0);
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), " - VideoRecord_") == 1; })) << TodaysLog();
    EXPECT_EQ(Count(TodaysLog(), " - Saving the video file"), 0u) << "--stop started something";
    ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi", 5)) << TodaysLog();
    EXPECT_EQ(Send("--start"), 0);  // already recording: nothing new
    EXPECT_EQ(Send("--toggle"), 0);
    const fs::path file = MergedRecording(out_);
    ASSERT_FALSE(file.empty()) << TodaysLog();
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 1u) << TodaysLog();
    const std::string probe = capture(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=codec_type,duration -of default=nw=1 '" +
        file.string() + "'");
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    EXPECT_GT(std::stod(probe.substr(at + 9)), 0.3) << probe;

    EXPECT_EQ(Send("--stop"), 0);  // idle again
    EXPECT_TRUE(program.Running());
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    // With no copy left the sender says so and fails.
    EXPECT_EQ(Send("--toggle"), 1);
}

// A command that comes while the last recording is being saved cannot be
// carried out: its sender says why and fails, and nothing starts after the
// merge. The merge is held at the creation of its file.
TEST_F(InstanceCommandTest, CommandsDuringTheMergeAreRefusedWithTheReason) {
    velmora::test::HeldOpen merge(out_, ".avi.part");
    if (!merge.Available()) GTEST_SKIP() << merge.Why();
    Program program(folder_, {"-vc", "time=1", "path=" + out_.string() + "/"});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    ASSERT_TRUE(merge.WaitHeld(std::chrono::seconds(30))) << TodaysLog();

    for (const char* command : {"--toggle", "--start", "--stop", "-vc"}) {
        const std::string told = SendAndTell(command);
        EXPECT_NE(told.find("a recording is being saved\nexit=1\n"), std::string::npos)
            << command << ":\n"
            << told;
    }
    merge.Release();
    ASSERT_FALSE(MergedRecording(out_).empty()) << TodaysLog();
    // A refused command left for later would start within some tens of
    // milliseconds of the merge's end; nothing else tells that none did.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 1u) << TodaysLog();
    EXPECT_EQ(Send("--stop"), 0);  // idle again: taken
}

}  // namespace
