// The countdown before a recording, as a user meets it: `-vc delay=N` shows
// a number over the middle of the area, the file starts N seconds after the
// number appears and never shows it, and F10 during the countdown records
// nothing.

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;
using namespace std::chrono_literals;

namespace {

// The area and, inside it, the scene: a square whose grey level is a clock
// (a level each 20 ms from when the number appears) at the left, and a grey
// square in the middle, where the number stands.
constexpr int kAreaLeft = 32, kAreaTop = 32, kAreaWidth = 320, kAreaHeight = 160;
constexpr int kSquare = 48;
constexpr int kClockLeft = 40, kClockTop = 40;
constexpr int kMiddleLeft = kAreaLeft + kAreaWidth / 2 - kSquare / 2;
constexpr int kMiddleTop = kAreaTop + kAreaHeight / 2 - kSquare / 2;
constexpr int kMiddleLevel = 128;
constexpr double kSecondsPerLevel = 0.02;
constexpr int kFps = 10;

class CountdownTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        clock_ = std::make_unique<RootSquare>(kClockLeft, kClockTop, kSquare);
        middle_ = std::make_unique<RootSquare>(kMiddleLeft, kMiddleTop, kSquare);
        ASSERT_TRUE(clock_->Good() && middle_->Good());
        clock_->PaintLevel(0);
        middle_->PaintLevel(kMiddleLevel);
        out_ = root_ / "out";
        fs::create_directory(out_);
        // HuffYUV keeps the grey levels as painted.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=0\nCaptureCursor=0\n"
            << "CodecIndex=4\nVideoFPS=" << kFps << "\nRegionLeftPos=" << kAreaLeft
            << "\nRegionTopPos=" << kAreaTop << "\nRegionWidthPos=" << kAreaWidth
            << "\nRegionHeightPos=" << kAreaHeight
            << "\n[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n"
            << "NotifySaved=0\n";
        // Painted again and again: the root window forgets what was under
        // the number once it goes.
        painting_ = true;
        painter_ = std::thread([this] {
            while (painting_) {
                middle_->PaintLevel(kMiddleLevel);
                if (clockStarted_) {
                    const double seconds =
                        std::chrono::duration<double>(SceneClock::now() - clockStart_).count();
                    clock_->PaintLevel(std::min(255, static_cast<int>(seconds / kSecondsPerLevel)));
                }
                std::this_thread::sleep_for(3ms);
            }
        });
    }
    void TearDown() override {
        painting_ = false;
        if (painter_.joinable()) painter_.join();
        ProgramTest::TearDown();
    }

    // The middle square's pixels as the screen shows them.
    std::vector<unsigned> Middle() const {
        return middle_->Pixels(kMiddleLeft, kMiddleTop, kSquare, kSquare);
    }
    static bool AllGrey(const std::vector<unsigned>& pixels) {
        return !pixels.empty() && std::all_of(pixels.begin(), pixels.end(), [](unsigned p) {
            return p == kMiddleLevel * 0x010101u;
        });
    }
    // Polled closely: the moment the number covers the middle.
    bool WaitForNumber(std::chrono::seconds patience) {
        const auto end = SceneClock::now() + patience;
        while (SceneClock::now() < end) {
            if (!AllGrey(Middle())) return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    fs::path out_;
    std::unique_ptr<RootSquare> clock_, middle_;
    std::atomic<bool> painting_{false}, clockStarted_{false};
    SceneClock::time_point clockStart_;
    std::thread painter_;
};

// delay=3: the number appears over the middle of the area (a dark disc with
// a white digit), the recording's first frame is taken 3 s later within a
// frame, and no frame shows the number.
TEST_F(CountdownTest, DelayStartsTheFileThatLongAfterTheNumberAppearsAndNoFrameHoldsIt) {
    Program program(folder_, {"-vc", "delay=3", "time=1"});
    ASSERT_TRUE(WaitForNumber(30s)) << TodaysLog();
    clockStart_ = SceneClock::now();
    clockStarted_ = true;
    // A screenshot of the countdown: the disc's dark and the digit's white.
    std::this_thread::sleep_for(100ms);
    const std::vector<unsigned> shown = Middle();
    const auto count = [&](auto predicate) {
        return std::count_if(shown.begin(), shown.end(), predicate);
    };
    EXPECT_GT(count([](unsigned p) { return (p & 0xff) < 60 && ((p >> 16) & 0xff) < 60; }), 50);
    EXPECT_GT(count([](unsigned p) { return p == 0xffffff; }), 50);
    EXPECT_EQ(TodaysLog().find("VideoRecord_"), std::string::npos) << "recording while counting";

    const fs::path file = MergedRecording(out_);
    ASSERT_FALSE(file.empty()) << TodaysLog();
    EXPECT_EQ(program.Exit(std::chrono::milliseconds(0)), std::nullopt);
    const std::string clockCrop =
        std::to_string(kSquare - 16) + ":" + std::to_string(kSquare - 16) + ":" +
        std::to_string(kClockLeft - kAreaLeft + 8) + ":" + std::to_string(kClockTop - kAreaTop + 8);
    const auto clock = FrameBrightness(file.string(), clockCrop);
    ASSERT_FALSE(clock.empty());
    const double level = (clock.front().second - 16) * 255 / 219;
    const double startedAt = level * kSecondsPerLevel;
    std::printf("first frame at %.3f s after the number appeared\n", startedAt);
    EXPECT_NEAR(startedAt, 3.0, 1.0 / kFps + 2 * kSecondsPerLevel);
    // The middle of every frame is the grey under the number.
    const std::string middleCrop = std::to_string(kSquare - 8) + ":" + std::to_string(kSquare - 8) +
                                   ":" + std::to_string(kMiddleLeft - kAreaLeft + 4) + ":" +
                                   std::to_string(kMiddleTop - kAreaTop + 4);
    const auto middle = FrameBrightness(file.string(), middleCrop);
    ASSERT_GE(middle.size(), clock.size());
    for (const auto& [time, luma] : middle)
        EXPECT_NEAR((luma - 16) * 255 / 219, kMiddleLevel, 3) << "frame at " << time << " s";
    program.Close(program.WaitForWindow(kMainTitle));
    EXPECT_EQ(program.Exit(), 0);
}

// F10 during the countdown takes the number away and records nothing; the
// program then closes as ever.
TEST_F(CountdownTest, F10DuringTheCountdownRecordsNothing) {
    Program program(folder_, {"-vc", "delay=3"});
    ASSERT_TRUE(WaitForNumber(30s)) << TodaysLog();
    const auto appeared = SceneClock::now();
    run("xdotool key F10");
    ASSERT_TRUE(WaitFor([&] { return AllGrey(Middle()); }, 3s)) << "the number stayed";
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find("Countdown cancelled: nothing was recorded") != std::string::npos;
    }));
    // Past the time the countdown had.
    std::this_thread::sleep_until(appeared + 3500ms);
    EXPECT_EQ(TodaysLog().find("VideoRecord_"), std::string::npos) << TodaysLog();
    EXPECT_TRUE(fs::is_empty(out_));
    program.Close(program.WaitForWindow(kMainTitle));
    EXPECT_EQ(program.Exit(), 0);
}

}  // namespace
