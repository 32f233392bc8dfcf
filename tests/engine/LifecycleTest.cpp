// The engine's life on the UI thread and its worker: start, stop, the frame
// timer, the worker's end, destruction during a recording.

#include <chrono>
#include <thread>

#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

class LifecycleTest : public EngineTest {
  protected:
    TScreenCamera& MakeRaw() {
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        return cam;
    }
    // Frames are on their way: the worker is inside its loop.
    void WaitForFrames() {
        ASSERT_TRUE(host.RunUntil([this] { return updates > 0; }));
    }
    std::atomic<int> updates{0};
};

TEST_F(LifecycleTest, ConstructionSetsDefaultsAndReadsTheDesktop) {
    InstallDrivers({{MakeFourCC('M', 'S', 'V', 'C'),
                     vfw::ICGetBuiltinDriver(MakeFourCC('M', 'S', 'V', 'C'))}});
    desktop.reset();
    auto& cam = Make(800, 600, 16);
    EXPECT_EQ(cam.LastStop, StopReason::None);
    EXPECT_EQ(cam.ScreenBitsPerPixel, 16);
    EXPECT_EQ(cam.ScreenWidth, 800);
    EXPECT_EQ(cam.ScreenHeight, 600);
    EXPECT_EQ(cam.CompressorHandler, MakeFourCC('M', 'S', 'V', 'C'));
    EXPECT_EQ(host.timerInterval, 20);
    EXPECT_FALSE(host.timer->enabled);
    EXPECT_FALSE(host.frame->showing);
    EXPECT_EQ(cam.ListCompressors(), std::vector<std::string>{"Microsoft Video 1"});
}

TEST_F(LifecycleTest, StartWhileRecordingChangesNothingAndStopMerges) {
    auto& cam = MakeRaw();
    cam.MinimizeOnRecord = true;
    cam.OnUpdate = [this](TScreenCamera*) { ++updates; };
    cam.StartRecording(Target("a.avi"));
    EXPECT_TRUE(cam.Recording);
    EXPECT_TRUE(host.timer->enabled);
    WaitForFrames();
    cam.StartRecording(Target("b.avi"));
    EXPECT_EQ(cam.TargetFile(), Target("a.avi"));
    EXPECT_EQ(host.minimizes, 1);

    cam.StopRecording();
    EXPECT_FALSE(cam.Recording);
    EXPECT_EQ(cam.LastStop, StopReason::Stopped);
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    EXPECT_TRUE(FileExists(Target("a.avi")));
    EXPECT_FALSE(FileExists(Target("b.avi")));
    EXPECT_FALSE(FileExists(TempVideoFile));
    EXPECT_EQ(host.Restores(), 1);
    // The timer runs on after an ordinary stop and hides the frame at its next tick.
    host.frame->showing = true;
    host.timer->Fire();
    EXPECT_FALSE(host.frame->showing);
}

// A stop that comes while the run is still being set up (the probe grab,
// the codec) leaves no file, and says so rather than nothing.
TEST_F(LifecycleTest, AStopDuringTheSetUpSaysNothingWasRecorded) {
    auto& cam = MakeRaw();
    std::atomic<bool> stopped{false};
    desktop->onGrab = [&](int) {
        if (!stopped.exchange(true)) cam.StopRecording();
    };
    cam.StartRecording(Target());
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_FALSE(FileExists(TempVideoFile));
    EXPECT_EQ(Errors(), std::vector<std::string>{
                            "The recording was stopped before its first frame: nothing was "
                            "recorded."});
}

TEST_F(LifecycleTest, FrameTimerMarksTheAreaWhileRecording) {
    auto& cam = Make();
    cam.Recording = true;  // as seen from the UI thread during a recording
    cam.Left = 5;
    cam.Top = 6;
    cam.FrameTimerTick();
    EXPECT_TRUE(host.frame->showing);
    EXPECT_EQ(host.frame->caption, "L8");
    EXPECT_TRUE(host.frame->cornersOnly);
    EXPECT_EQ(host.frame->width, 64);
    EXPECT_EQ(host.frame->left, 5);

    // Follow mouse: clamped into the screen.
    cam.FollowMouse = true;
    desktop->cursor.x = 10;
    desktop->cursor.y = 470;
    cam.FrameTimerTick();
    EXPECT_EQ(cam.Left, 0);
    EXPECT_EQ(cam.Top, 480 - 48);

    cam.FullScreen = true;
    cam.FrameTimerTick();
    EXPECT_FALSE(host.frame->showing);
    cam.Recording = false;
}

// Paused, the frame is painted once with its own caption and then left
// standing: it neither follows the mouse nor is painted again.
TEST_F(LifecycleTest, APausedRecordingsFrameStandsWithThePausedCaption) {
    auto& cam = Make();
    cam.Recording = true;
    cam.FollowMouse = true;
    cam.FrameTimerTick();
    const int left = cam.Left, paints = host.frame->paints;
    cam.Paused = true;
    desktop->cursor.x = 300;
    for (int tick = 0; tick < 5; ++tick) cam.FrameTimerTick();
    EXPECT_TRUE(host.frame->showing);
    EXPECT_EQ(host.frame->caption, "L23");
    EXPECT_EQ(host.frame->paints, paints + 1);
    EXPECT_EQ(cam.Left, left);
    cam.Paused = false;
    cam.FrameTimerTick();
    EXPECT_EQ(host.frame->caption, "L8");
    EXPECT_NE(cam.Left, left);
    cam.Recording = false;
}

TEST_F(LifecycleTest, CaptureModeDerivesFollowMouseFullScreenAndWindow) {
    auto& cam = Make();
    struct Expected {
        CaptureMode mode;
        bool followMouse, fullScreen, window;
    };
    for (const Expected& e : {Expected{CaptureMode::FollowMouse, true, false, false},
                              Expected{CaptureMode::FixedArea, false, false, false},
                              Expected{CaptureMode::FullScreen, false, true, false},
                              Expected{CaptureMode::Window, false, false, true}}) {
        cam.Mode = e.mode;
        cam.FrameTimerTick();
        EXPECT_EQ(cam.FollowMouse, e.followMouse) << int(e.mode);
        EXPECT_EQ(cam.FullScreen, e.fullScreen) << int(e.mode);
        EXPECT_EQ(cam.WindowMode, e.window) << int(e.mode);
    }
}

TEST_F(LifecycleTest, FullScreenTakesTheDesktopSize) {
    auto& cam = MakeRaw();
    cam.Mode = engine::CaptureMode::FullScreen;
    cam.Left = 9;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 0};
    RecordOnWorker(Target());
    EXPECT_EQ(cam.Left, 0);
    EXPECT_EQ(cam.Width, 640);
    EXPECT_EQ(cam.Height, 480);
    EXPECT_EQ(Probe(Target(), "stream=width,height"), "640,480");
}

TEST_F(LifecycleTest, MinimisingKeepsTheFrameUp) {
    auto& cam = Make();
    cam.AppMinimized();
    EXPECT_EQ(host.frame->restores, 0);
    host.frame->showing = true;
    cam.AppMinimized();
    EXPECT_EQ(host.frame->restores, 1);
}

TEST_F(LifecycleTest, DestructionDuringARecordingWaitsAndWritesNoTarget) {
    auto& cam = MakeRaw();
    cam.OnUpdate = [this](TScreenCamera*) { ++updates; };
    cam.StartRecording(Target());
    WaitForFrames();
    camera.reset();
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_FALSE(FileExists(TempVideoFile));
    host.ProcessEvents();  // the worker's end hook finds the engine gone
}

TEST_F(LifecycleTest, DestructionAnswersNoToAQuestionInFlight) {
    auto& cam = Make();
    cam.CompressorIndex = -1;
    host.defaultAnswer = true;
    // The probe grab holds the worker until the destruction has begun (it
    // clears Recording), so the compressor question comes after it.
    desktop->onGrab = [&cam](int) {
        for (int waited = 0; cam.Recording && waited < 5000; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    cam.StartRecording(Target());
    camera.reset();
    // Nobody was there to answer Yes: the question never reached the window.
    EXPECT_TRUE(host.Questions().empty()) << host.Questions().front();
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(LifecycleTest, AudioRecorderIsDrivenAroundTheLoop) {
    withAudio = true;
    auto& cam = MakeRaw();
    EXPECT_EQ(cam.AudioFormatIndex, 7);  // the recorder's default format minus one
    EXPECT_EQ(cam.ListAudioFormats().size(), 20u);
    EXPECT_EQ(cam.ListAudioFormats()[0], "F1");
    cam.RecordAudio = true;
    cam.AudioFormatIndex = 3;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    // The volume is the recorder's gain on our samples, never the mixer's.
    cam.SetAudioInputVolume(55);
    RecordOnWorker(Target());
    EXPECT_EQ(recorder->Calls(),
              (std::vector<std::string>{"Gain=55", "PCMFormat=4", "Async=1", "Input=|",
                                        "RecordToFile=" + TempAudioFile, "Active=0", "Wait"}));
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "v"), "video");
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "1");
    EXPECT_FALSE(FileExists(TempAudioFile));
}

TEST_F(LifecycleTest, TheResultLineSaysWhenTheSoundStopped) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    recorder->failure = "No sound input is available.";
    RecordOnWorker(Target());
    // What was recorded is merged all the same, and the line says what is missing.
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "1");
    const std::string line = Errors().back();
    EXPECT_EQ(line.rfind("L12 ", 0), 0u) << line;
    EXPECT_NE(line.find(" - the sound is incomplete: No sound input is available."),
              std::string::npos)
        << line;

    recorder->failure.clear();
    RecordOnWorker(Target());
    EXPECT_EQ(Errors().back().find("incomplete"), std::string::npos);
}

class FakeMixer : public TEngineMixer {
  public:
    void SetMixerID(int id) override { calls.push_back("mixer " + std::to_string(id)); }
    int DestinationCount() override { return 3; }
    void SetDestinationID(int id) override { destination = id; }
    bool MasterHasSelect() override { return destination != 0; }
    int GetSelectedSource() override { return destination == 1 ? 1 : -1; }
    void SelectSource(int index) override {
        calls.push_back("select " + std::to_string(index) + " on " + std::to_string(destination));
    }
    int LineCount() override { return 2; }
    std::string LineName(int index) override {
        return "d" + std::to_string(destination) + "l" + std::to_string(index);
    }
    int destination = 0;
    std::vector<std::string> calls;
};

TEST_F(LifecycleTest, AudioInputsListEveryDestinationWithASelector) {
    FakeMixer* mixer = nullptr;
    host.makeMixer = [&mixer] {
        auto made = std::make_unique<FakeMixer>();
        mixer = made.get();
        return made;
    };
    auto& cam = Make();
    const AudioInputInfo info = cam.ListAudioInputs();
    EXPECT_EQ(*info.names, (std::vector<std::string>{"d1l0", "d1l1", "d2l0", "d2l1"}));
    // The values describe the last destination with a selector, which has none selected.
    EXPECT_EQ(info.selected, -1);
    cam.SelectAudioInput(1);
    EXPECT_EQ(mixer->calls.back(), "select 1 on 2");
}

// An event handler throwing on the worker: the run still stops the sound,
// releases its AVI objects (the leak checker sees any left) and ends as a
// failed run, so the next recording can start.
TEST_F(LifecycleTest, HandlerThrowingOnTheWorkerStillEndsTheRun) {
    withAudio = true;
    auto& cam = MakeRaw();
    cam.RecordAudio = true;
    cam.OnUpdate = [](TScreenCamera*) { throw std::runtime_error("boom"); };
    host.timer->SetEnabled(true);
    RecordOnWorker(Target());
    // What was recorded before is kept, as after a failed merge.
    EXPECT_EQ(Errors().back(), "Recording failed: boom Recording kept in: " + folder.path() +
                                   "VideoRecord_test_video.avi, " + folder.path() +
                                   "VideoRecord_test_audio.wav");
    EXPECT_TRUE(FileExists(folder.path() + "VideoRecord_test_video.avi"));
    EXPECT_FALSE(recorder->active);
    EXPECT_FALSE(cam.Recording);
    EXPECT_EQ(cam.LastStop, StopReason::Aborted);
    EXPECT_FALSE(host.timer->enabled);
    EXPECT_FALSE(FileExists(Target()));

    cam.OnUpdate = nullptr;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 0};
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "v"), "video");
}

}  // namespace
}  // namespace velmora::enginetest
