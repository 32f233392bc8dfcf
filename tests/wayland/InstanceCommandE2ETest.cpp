// `velmora --toggle/--start/--stop` from another process drive the running
// copy on the private Xvfb, as a desktop's key binding would.

#include "tests/e2e/ProgramHarness.h"

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
    fs::path out_;
};

TEST_F(InstanceCommandTest, ToggleTwiceRecordsAndMergesAndStopWhenIdleDoesNothing) {
    Program program(folder_, {"path=" + out_.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());

    EXPECT_EQ(Send("--stop"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 0u) << "--stop started something";

    EXPECT_EQ(Send("--toggle"), 0);
    ASSERT_TRUE(WaitFor([&] { return Count(TodaysLog(), " - VideoRecord_") == 1; })) << TodaysLog();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(Send("--start"), 0);  // already recording: nothing new
    EXPECT_EQ(Send("--toggle"), 0);
    const fs::path file = MergedRecording(out_);
    ASSERT_FALSE(file.empty()) << TodaysLog();
    EXPECT_EQ(Count(TodaysLog(), " - VideoRecord_"), 1u) << TodaysLog();
    const std::string probe = capture("ffprobe -v error -select_streams v:0 -show_entries "
                                      "stream=codec_type,duration -of default=nw=1 '" +
                                      file.string() + "'");
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    EXPECT_GT(std::stod(probe.substr(at + 9)), 1.0) << probe;

    EXPECT_EQ(Send("--stop"), 0);  // idle again
    EXPECT_TRUE(program.Running());
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    // With no copy left the sender says so and fails.
    EXPECT_EQ(Send("--toggle"), 1);
}

}  // namespace
