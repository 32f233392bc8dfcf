// The two stages of the capture loop on the fake clock: a compressor slower
// than the rate loses whole frames, counted as dropped slots; a stop writes
// what is still queued; the log says once when the compressor is too slow.

#include "tests/doubles/SlowDriver.h"
#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

constexpr FOURCC kSlow = MakeFourCC('S', 'L', 'O', 'W');

class PipelineTest : public EngineTest {
  protected:
    TScreenCamera& MakeSlow(std::int64_t costMs) {
        driver = std::make_shared<test::SlowDriver>(clock, kSlow, "Slow");
        driver->costMs = costMs;
        InstallDrivers({{kSlow, driver}});
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(kSlow);
        cam.Width = 32;
        cam.Height = 16;
        return cam;
    }
    std::vector<std::string> ErrorsWith(const std::string& part) {
        std::vector<std::string> found;
        for (const std::string& e : Errors())
            if (e.find(part) != std::string::npos) found.push_back(e);
        return found;
    }
    std::shared_ptr<test::SlowDriver> driver;
};

// 10 fps with a 1 s limit. Index i is due when FrameIndexAt first reaches
// it, i * 100 - 50 ms for even i and i * 100 - 49 for odd i (half to even):
// grabs at 0, 51, 150, 251, ... 950, each taking 1 ms. The writer starts a
// frame when its grab ends or when the frame before it is written. The
// limit's pass at 1000 ms ends the loop at index 10; what is queued then is
// still written.
//
// 150 ms a frame: 0 is written over 1..151, then 1 to 301, 2 to 451, 3 to
// 601, 4 to 751, 5 to 901. Three slots hold the frame being written and two
// queued: 0..5 find one (5 at 451, freed by 2 that instant). At 550, 3 is
// being written and 4, 5 wait: 6 is dropped. 7 (651) takes the slot freed at
// 601, 8 (750) comes 1 ms before 4 is done and is dropped, 9 (851) and 10
// (950) take the slots freed at 751 and 901. Two of every three once the
// slots are full, since 150 ms is 1.5 intervals.
//
// 200 ms a frame: 0, 1, 2 fill the slots, 3 takes the one freed at 201, and
// from then a slot frees every 200 ms at x01, after an even index's due
// time and before an odd one's: 4, 6, 8, 10 are dropped. The limit's pass
// at 1000 comes 1 ms before the next slot frees, so 10 stays dropped.
//
// 120 ms a frame: 10 finds no slot at 950, but one frees at 961, and the
// limit's pass at 1000 (still index 10) grabs it: written, not dropped.
struct SlowCase {
    std::int64_t costMs;
    std::vector<long long> written;
    int dropped;
};

class SlowCompressorTest : public PipelineTest, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(SlowCompressorTest, LosesTheFramesThatFindNoFreeSlot) {
    const SlowCase& c = GetParam();
    auto& cam = MakeSlow(c.costMs);
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(WrittenIndices(Target()), c.written);
    EXPECT_EQ(cam.FramesWritten, static_cast<int>(c.written.size()));
    EXPECT_EQ(cam.FramesDropped, c.dropped);
    EXPECT_EQ(cam.CurrentFrameIndex, 10);
    EXPECT_EQ(cam.FramesWritten + cam.FramesDropped, cam.CurrentFrameIndex + 1);
    // One probe, then only the frames that had a slot: the codec's time is
    // not spent on grabs thrown away.
    EXPECT_EQ(desktop->grabs, 1 + cam.FramesWritten);
}

INSTANTIATE_TEST_SUITE_P(Costs, SlowCompressorTest,
                         ::testing::Values(SlowCase{150, {0, 1, 2, 3, 4, 5, 7, 9, 10}, 2},
                                           SlowCase{200, {0, 1, 2, 3, 5, 7, 9}, 4},
                                           SlowCase{120, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0}),
                         [](const auto& info) {
                             return "cost" + std::to_string(info.param.costMs) + "ms";
                         });

TEST_F(PipelineTest, AStopWritesEveryQueuedFrameBeforeTheMerge) {
    auto& cam = MakeSlow(250);
    // 250 ms a frame: the loop's fourth grab (251 ms) comes as the first
    // frame is done, with the second being written and the third queued.
    int endedBeforeLoop = 0, endedAtStop = -1;
    desktop->onGrab = [&](int number) {
        if (number == 2) endedBeforeLoop = driver->ended;  // the first is the probe
        if (number == 5) {
            endedAtStop = driver->ended - endedBeforeLoop;
            camera->StopRecording();
        }
    };
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(endedAtStop, 1);
    EXPECT_EQ(cam.FramesWritten, 4);
    EXPECT_EQ(cam.FramesDropped, 0);
    EXPECT_EQ(WrittenIndices(Target()), (std::vector<long long>{0, 1, 2, 3}));
}

TEST_F(PipelineTest, ACompressorTooSlowForTheRateIsLoggedOncePerRecording) {
    const std::string line =
        "The compressor \"Slow\" cannot keep 10 frames per second at 32x16: it takes "
        "150.0 ms a frame, enough for 6.7 frames per second.";
    for (int run = 1; run <= 2; ++run) {
        auto& cam = MakeSlow(150);
        cam.TimeLimit = TTimeLimit{true, 0, 0, 5};
        EXPECT_EQ(RunOnce(Target("slow" + std::to_string(run) + ".avi")), 1);
        EXPECT_EQ(ErrorsWith("cannot keep"), std::vector<std::string>(run, line));
    }

    // Exactly one interval a frame keeps the rate: nothing more is said.
    auto& fast = MakeSlow(100);
    fast.TimeLimit = TTimeLimit{true, 0, 0, 5};
    EXPECT_EQ(RunOnce(Target("fast.avi")), 1);
    EXPECT_EQ(ErrorsWith("cannot keep").size(), 2u);
    EXPECT_EQ(fast.FramesDropped, 0);
    EXPECT_EQ(fast.FramesWritten, 51);
}

}  // namespace
}  // namespace velmora::enginetest
