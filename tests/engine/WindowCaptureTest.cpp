// Recording one window: the engine takes the window's desktop for the run,
// at its size, shows no frame around it, and a window that goes away ends
// the recording as a stop would, merged.

#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

// A window's desktop: its picture is the whole "screen"; from the grab
// numbered closedFrom on, the window is gone.
class WindowDouble : public ClockedDesktop {
  public:
    using ClockedDesktop::ClockedDesktop;
    bool grab(int left, int top, const platform::DibRows& out) override {
        if (closedFrom > 0 && grabs + 1 >= closedFrom) {
            closed = true;
            return false;
        }
        return ClockedDesktop::grab(left, top, out);
    }
    bool targetClosed() override { return closed; }
    int closedFrom = 0;
    std::atomic<bool> closed{false};
};

class WindowCaptureTest : public EngineTest {
  protected:
    TScreenCamera& MakeForWindow(int closedFrom) {
        window = std::make_shared<WindowDouble>(clock, 96, 60);
        window->fill(0xff0000);
        window->closedFrom = closedFrom;
        openWindow = [this](std::uint64_t id, std::function<void(const std::string&)>,
                            std::string& error) -> std::shared_ptr<platform::Desktop> {
            askedFor = id;
            if (!window) error = "window " + std::to_string(id) + " is not shown";
            return window;
        };
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.Mode = engine::CaptureMode::Window;
        cam.CaptureWindow = 0x2a00007;
        // An area that must play no part in it.
        cam.Left = 5;
        cam.Top = 7;
        cam.Width = 300;
        cam.Height = 200;
        return cam;
    }
    std::shared_ptr<WindowDouble> window;
    std::uint64_t askedFor = 0;
};

}  // namespace

TEST_F(WindowCaptureTest, ClosedWindowEndsTheRecordingAsAStopAndItIsMerged) {
    auto& cam = MakeForWindow(40);
    RecordOnWorker(Target());
    EXPECT_EQ(askedFor, 0x2a00007u);
    const auto errors = Errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "The recorded window was closed."), 1)
        << Text(errors);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), "Error capturing a frame from screen."), 0)
        << Text(errors);
    EXPECT_FALSE(cam.EndedByFailure);
    EXPECT_EQ(cam.LastStop, StopReason::Stopped);
    // The window's size, from its corner, whatever area was set.
    EXPECT_EQ(Probe(Target(), "stream=width,height"), "96,60");
    EXPECT_EQ(cam.Left, 0);
    EXPECT_EQ(cam.Top, 0);
    EXPECT_GE(WrittenIndices(Target()).size(), 30u);
}

TEST_F(WindowCaptureTest, NoFrameIsShownAroundTheWindow) {
    auto& cam = MakeForWindow(0);
    cam.ShowFrame = true;
    cam.StartRecording(Target());
    ASSERT_TRUE(cam.Recording);
    cam.FrameTimerTick();
    ASSERT_TRUE(host.frame);
    EXPECT_FALSE(host.frame->showing);
    cam.StopRecording();
    ASSERT_TRUE(host.RunUntil([this] { return !camera->WorkerRunning(); }));
    EXPECT_FALSE(cam.EndedByFailure);
}

TEST_F(WindowCaptureTest, AWindowThatCannotBeRecordedStartsNothing) {
    auto& cam = MakeForWindow(0);
    window.reset();
    cam.StartRecording(Target());
    EXPECT_FALSE(cam.Recording);
    EXPECT_FALSE(cam.WorkerRunning());
    EXPECT_TRUE(cam.EndedByFailure);
    EXPECT_EQ(Text(Errors()),
              "The window to record cannot be recorded: window 44040199 is not "
              "shown\n");
    // The next recording of an area takes the screen again.
    cam.Mode = engine::CaptureMode::FixedArea;
    cam.Width = 64;
    cam.Height = 32;
    desktop->onGrab = [this](int number) {
        if (number >= 10) camera->StopRecording();
    };
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=width,height"), "64,32");
}

}  // namespace velmora::enginetest
