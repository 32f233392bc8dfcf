// The capture loop's arithmetic on an injected clock: time indices, dropped
// slots, texts, updates, time limits, and its pacing.

#include <algorithm>
#include <cmath>

#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

class CaptureLoopTest : public EngineTest {
  protected:
    TScreenCamera& MakeRaw() {
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.Width = 32;
        cam.Height = 16;
        return cam;
    }
    // Stops the recording when the clock reaches `ms` of recording time, as
    // a user would; the loop's first grab marks the start.
    void StopAt(std::int64_t ms) {
        desktop->onGrab = [this](int number) {
            if (number == 2) loopStart_ = clock.Now() - desktop->grabCostMs;
        };
        clock.onAdvance = [this, ms](std::int64_t now) {
            if (loopStart_ >= 0 && now - loopStart_ >= ms) camera->StopRecording();
        };
    }

    // Wall-clock moments (ms since the loop's start) of what a user does:
    // pause, resume, pause, ... and stop.
    void Script(std::vector<std::int64_t> pausesAndResumes, std::int64_t stopMs) {
        desktop->onGrab = [this](int number) {
            if (number == 2) loopStart_ = clock.Now() - desktop->grabCostMs;
            if (camera->Paused) ++grabsWhilePaused;
        };
        clock.onAdvance = [this, script = std::move(pausesAndResumes), stopMs](std::int64_t now) {
            if (loopStart_ < 0) return;
            const std::int64_t wall = now - loopStart_;
            while (next_ < script.size() && wall >= script[next_]) {
                EXPECT_TRUE(next_ % 2 == 0 ? camera->PauseRecording() : camera->ResumeRecording());
                ++next_;
            }
            if (wall >= stopMs) camera->StopRecording();
        };
    }
    std::int64_t WallMs() const { return clock.Now() - loopStart_; }
    std::atomic<int> grabsWhilePaused{0};

  private:
    std::atomic<std::int64_t> loopStart_{-1};
    std::size_t next_ = 0;
};

TEST(FrameIndexTest, RoundsHalfToEvenFromTheStatedRate) {
    EXPECT_EQ(TScreenCamera::FrameIndexAt(0, 10), 0);
    EXPECT_EQ(TScreenCamera::FrameIndexAt(50, 10), 0);   // 0.5
    EXPECT_EQ(TScreenCamera::FrameIndexAt(150, 10), 2);  // 1.5
    EXPECT_EQ(TScreenCamera::FrameIndexAt(250, 10), 2);  // 2.5
    EXPECT_EQ(TScreenCamera::FrameIndexAt(251, 10), 3);
    EXPECT_EQ(TScreenCamera::FrameIndexAt(750, 10), 8);  // 7.5
    // 15 fps: frames last 66.67 ms, not the integer interval's 66 ms.
    EXPECT_EQ(TScreenCamera::FrameIndexAt(66, 15), 1);
    EXPECT_EQ(TScreenCamera::FrameIndexAt(3600000, 15), 54000);
    EXPECT_EQ(TScreenCamera::FrameIndexAt(-20, 15), 0);
}

TEST(ElapsedTextTest, ShowsOnlyTheUnitsReached) {
    EXPECT_EQ(TScreenCamera::FormatElapsed(0), "0s");
    EXPECT_EQ(TScreenCamera::FormatElapsed(59999), "59s");
    EXPECT_EQ(TScreenCamera::FormatElapsed(60000), "1m 0s");
    EXPECT_EQ(TScreenCamera::FormatElapsed(65000), "1m 5s");
    EXPECT_EQ(TScreenCamera::FormatElapsed(3600000), "1h 0m 0s");
    EXPECT_EQ(TScreenCamera::FormatElapsed(3723000), "1h 2m 3s");
}

TEST_F(CaptureLoopTest, SlowGrabsSkipIndicesAndCountThemDropped) {
    auto& cam = MakeRaw();
    desktop->grabCostMs = 250;
    // Passes at 0, 250, 500, 750 and 1000 ms of recording time.
    desktop->onGrab = [this](int number) {
        if (number == 6) camera->StopRecording();
    };
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.FramesWritten, 5);
    EXPECT_EQ(cam.FramesDropped, 6);
    EXPECT_EQ(cam.LastInterval, 250.0);
    EXPECT_EQ(WrittenIndices(TempVideoFile), (std::vector<long long>{0, 2, 5, 8, 10}));
    EXPECT_TRUE(Errors().size() == 1) << "only the merge's summary line";
}

TEST_F(CaptureLoopTest, WaitsForTheNextIndexInsteadOfGrabbingDiscardedFrames) {
    auto& cam = MakeRaw();
    StopAt(2000);
    EXPECT_EQ(RunOnce(Target()), 1);
    // One probe, then exactly one grab per written frame: 0 .. 20.
    EXPECT_EQ(desktop->grabs, 1 + cam.FramesWritten);
    EXPECT_EQ(cam.FramesWritten, 21);
    EXPECT_EQ(cam.CurrentFrameIndex, 20);
    EXPECT_EQ(cam.FramesDropped, 0);
    EXPECT_EQ(WrittenIndices(TempVideoFile).front(), 0);
    EXPECT_GT(clock.sleeps, 0);
    // The last frame's 2.0 s as a clock shows them, not the last pass's second.
    EXPECT_EQ(cam.ElapsedText, "2s");
}

TEST_F(CaptureLoopTest, UpdatesComeAtMostEvery50Milliseconds) {
    auto& cam = MakeRaw();
    cam.FramesPerSecond = 30;
    cam.FrameInterval = 33;
    std::vector<std::int64_t> times;
    cam.OnUpdate = [&](TScreenCamera*) { times.push_back(clock.Now()); };
    StopAt(1000);
    RunOnce(Target());
    ASSERT_GE(times.size(), 10u);
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_GT(times[i] - times[i - 1], 50);
}

TEST_F(CaptureLoopTest, TimeLimitStopsInItsSecondAndTheRecordingIsMerged) {
    auto& cam = MakeRaw();
    cam.TimeLimit = TTimeLimit{true, 0, 0, 5};
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.LastStop, StopReason::Stopped);
    EXPECT_EQ(cam.RecordedSeconds(), 5);
    EXPECT_GE(cam.CurrentFrameIndex, 50);
    EXPECT_LT(cam.CurrentFrameIndex, 60);
    EXPECT_EQ(WrittenIndices(Target()).size(), static_cast<std::size_t>(cam.FramesWritten));
}

TEST_F(CaptureLoopTest, ZeroTimeLimitRecordsOneFrame) {
    auto& cam = MakeRaw();
    cam.TimeLimit = TTimeLimit{true, 0, 0, 0};
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.FramesWritten, 1);
    EXPECT_EQ(WrittenIndices(Target()), (std::vector<long long>{0}));
}

// A minute of recording ends a minute into the file, whatever the rate.
class FileTimeTest : public CaptureLoopTest, public ::testing::WithParamInterface<int> {};

TEST_P(FileTimeTest, SixtySecondsEndAtSixtySecondsOfFileTime) {
    const int fps = GetParam();
    auto& cam = MakeRaw();
    cam.FramesPerSecond = static_cast<std::uint32_t>(fps);
    cam.FrameInterval = 1000 / fps;
    cam.Width = 16;
    cam.Height = 8;
    StopAt(60000);
    EXPECT_EQ(RunOnce(Target()), 1);
    const double lastFrameTime = static_cast<double>(cam.CurrentFrameIndex) / fps;
    EXPECT_NEAR(lastFrameTime, 60.0, 1.0 / fps);
    EXPECT_EQ(cam.FramesWritten, 60 * fps + 1);
    const double fileSeconds = std::atof(Probe(TempVideoFile, "stream=duration").c_str());
    EXPECT_NEAR(fileSeconds, 60.0, 1.0 / fps + 1e-6);
    EXPECT_EQ(cam.FramesDropped, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, FileTimeTest, ::testing::Values(15, 30, 60));

TEST_F(CaptureLoopTest, FollowMouseCentresTheAreaOnThePointerUnclamped) {
    auto& cam = MakeRaw();
    cam.Mode = engine::CaptureMode::FollowMouse;
    cam.Width = 100;
    cam.Height = 50;
    desktop->cursor.x = 20;
    desktop->cursor.y = 300;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 0};
    camera->StartRecording(Target());
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    EXPECT_EQ(cam.Left, -30);
    EXPECT_EQ(cam.Top, 275);
}

// At 1 fps the next index is a whole second away: the loop must still stop in
// the limit's own second, not a frame later.
TEST_F(CaptureLoopTest, TimeLimitStopsAtItsSecondEvenAtOneFramePerSecond) {
    auto& cam = MakeRaw();
    cam.FramesPerSecond = 1;
    cam.FrameInterval = 1000;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 5};
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.RecordedSeconds(), 5);
    EXPECT_EQ(WrittenIndices(Target()), (std::vector<long long>{0, 1, 2, 3, 4, 5}));
}

// Three seconds paused in six: the file holds the other three, its frames
// one after another with none counted dropped, and nothing is grabbed while
// paused.
TEST_F(CaptureLoopTest, APauseLeavesNoStretchInTheFileAndGrabsNothing) {
    auto& cam = MakeRaw();
    EXPECT_FALSE(cam.PauseRecording()) << "nothing records yet";
    EXPECT_FALSE(cam.ResumeRecording());
    Script({1050, 2050, 3030, 5030}, 6000);
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(grabsWhilePaused, 0);
    EXPECT_FALSE(cam.Paused);
    EXPECT_EQ(cam.FramesDropped, 0);
    std::vector<long long> expected(31);
    for (int i = 0; i < 31; ++i) expected[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(WrittenIndices(TempVideoFile), expected);
    EXPECT_EQ(desktop->grabs, 1 + cam.FramesWritten);
    EXPECT_EQ(cam.ElapsedText, "3s");
}

TEST_F(CaptureLoopTest, TheTimeLimitCountsRecordedTimeNotPausedTime) {
    auto& cam = MakeRaw();
    cam.TimeLimit = TTimeLimit{true, 0, 0, 3};
    Script({1050, 3050}, 60000);
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.RecordedSeconds(), 3);
    EXPECT_NEAR(WallMs(), 5000, 100);
    EXPECT_EQ(cam.FramesDropped, 0);
}

TEST_F(CaptureLoopTest, AStopWhilePausedSavesWhatWasRecorded) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    Script({1050}, 2500);
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_FALSE(cam.Paused);
    EXPECT_EQ(WrittenIndices(Target()).size(), 11u);  // 0 .. 1.0 s
    // The sound is paused where the picture is, and stays so to its end.
    const auto calls = recorder->Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Pause"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Resume"), 0);
}

}  // namespace
}  // namespace velmora::enginetest
