// The engine with the real recorder on the private X server and sound
// server: a recording with sound ends as a two-stream AVI, and sound and
// picture start together.

#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio/EngineRecorder.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"
#include "tests/sound/SoundCheck.h"

namespace velmora::soundtest {
namespace {

using namespace std::chrono_literals;
using engine::TScreenCamera;
using enginetest::TempFolder;
using Clock = SceneClock;

constexpr int kStereo16bit44100Hz = 16;  // the catalogue's format number

class SoundRecordingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(test::display24().empty()) << "needs the x11 fixture";
        ASSERT_FALSE(test::pulseServer().empty()) << "needs the audio fixture";
        host.makeRecorder = [] { return audio::CreateEngineAudioRecorder(); };
    }
    std::unique_ptr<TScreenCamera> MakeCamera(int left, int top, int width, int height) {
        auto cam = std::make_unique<TScreenCamera>(host);
        cam->Mode = engine::CaptureMode::FixedArea;
        cam->Left = left;
        cam->Top = top;
        cam->Width = width;
        cam->Height = height;
        cam->CaptureCursor = false;
        cam->RecordAudio = true;
        cam->AudioFormatIndex = kStereo16bit44100Hz - 1;
        cam->OnCameraError = [this](TScreenCamera*, const std::string& text) {
            // The note on the grab thread's scheduling is no error.
            if (text.rfind("Frames are grabbed", 0) == 0) return;
            std::lock_guard lock(mutex);
            errors.push_back(text);
        };
        return cam;
    }
    std::string Target() const { return folder.path() + "VideoRecord_sound.avi"; }

    TempFolder folder;
    test::ScriptedHost host;
    std::mutex mutex;
    std::vector<std::string> errors;
};

TEST_F(SoundRecordingTest, TwoSecondsWithTheToneMergeIntoTwoStreamsOfOneLength) {
    ASSERT_TRUE(Eventually([] { return SourceFlows("fakemic"); }, 10s)) << "fakemic is silent";
    auto cam = MakeCamera(0, 0, 320, 240);
    cam->FramesPerSecond = 15;
    cam->FrameInterval = 1000 / 15;
    PickCompressor(*cam, "XVID");
    cam->TimeLimit = engine::TTimeLimit{true, 0, 0, 2};
    cam->StartRecording(Target());
    ASSERT_TRUE(host.RunUntil([&] { return !cam->WorkerRunning(); }, 60000));
    ASSERT_EQ(errors.size(), 1u) << errors.front();
    EXPECT_EQ(errors.front().rfind("L12 ", 0), 0u) << errors.front();

    const std::string file = Target();
    ASSERT_EQ(StreamCount(file), 2);
    const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
    EXPECT_EQ(video.at("codec_type"), "video");
    EXPECT_EQ(sound.at("codec_type"), "audio");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "44100");
    EXPECT_EQ(sound.at("channels"), "2");
    // The sound's length by what decodes (the AVI header states none for PCM).
    const auto samples = Samples(file);
    const double videoSeconds = std::stod(video.at("duration"));
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    std::printf("video %.3f s, sound %.3f s\n", videoSeconds, soundSeconds);
    EXPECT_NEAR(videoSeconds, 2.0, 0.2);
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);
}

// The flash-and-beep scene on the square at (600, 300), recorded at a high
// rate so that a frame places a flash finely.
class FlashBeepTest : public SoundRecordingTest {
  protected:
    void SetUp() override {
        SoundRecordingTest::SetUp();
        ASSERT_TRUE(source.Good());
        ASSERT_TRUE(beeper.Good());
        ASSERT_TRUE(Eventually([] { return SourceFlows("lipsync.monitor"); }, 10s));
        ASSERT_TRUE(square.Good());
        square.Paint(false);
    }
    void TearDown() override {
        if (worker.joinable()) worker.join();
    }
    // Records the square at fps on a worker from its first frame on.
    void Record(unsigned fps) {
        cam = MakeCamera(600, 300, 64, 64);
        cam->FramesPerSecond = fps;
        cam->FrameInterval = static_cast<std::int32_t>(1000 / fps);
        cam->KeyFrameEvery = static_cast<std::int32_t>(fps);
        PickCompressor(*cam, "FFV1");
        cam->Recording = true;
        worker = std::thread([this] { cam->RunRecording(Target()); });
        ASSERT_TRUE(Eventually([&] { return cam->FramesWritten > 0; }, 10s));
    }
    // Ends the recording: the engine said nothing but its summary line.
    void Stop() {
        cam->StopRecording();
        worker.join();
        host.ProcessEvents();
        ASSERT_EQ(errors.size(), 1u) << errors.front();
        EXPECT_EQ(errors.front().rfind("L12 ", 0), 0u) << errors.front();
    }
    // A flash as the beep sounds: how late its paint was, in milliseconds.
    double FlashAndBeep(std::chrono::milliseconds lit) {
        const auto heardAt = beeper.Beep();
        std::this_thread::sleep_until(heardAt);
        square.Paint(true);
        const auto late = Clock::now() - heardAt;
        std::this_thread::sleep_for(lit);
        square.Paint(false);
        return std::chrono::duration<double, std::milli>(late).count();
    }

    BeepSource source;
    Beeper beeper{"lipsync"};
    RootSquare square{600, 300, 64};
    std::unique_ptr<TScreenCamera> cam;
    std::thread worker;
};

TEST_F(FlashBeepTest, AFlashAndABeepAtTheSameInstantLandTogether) {
    // 100 frames a second: a frame every 10 ms places the flash that finely.
    Record(100);
    // Past the sound's start, which may be padded; after the flash, until
    // the beep has come from the server.
    std::this_thread::sleep_for(700ms);
    const double lateMs = FlashAndBeep(300ms);
    std::this_thread::sleep_for(400ms);
    Stop();

    const auto flashes = FlashTimes(FrameBrightness(Target()));
    ASSERT_FALSE(flashes.empty()) << "no flash in the video";
    const double flashAt = flashes.front();
    const auto beeps = BeepTimes(Samples(Target()), 2, 44100);
    ASSERT_FALSE(beeps.empty()) << "no beep in the sound";
    const double beepAt = beeps.front();

    const double offsetMs = (beepAt - flashAt) * 1000;
    std::printf(
        "flash in the frame at %.3f s, beep at %.4f s: "
        "beep - flash = %+.1f ms; painted %.1f ms after the beep was due\n",
        flashAt, beepAt, offsetMs, lateMs);
    EXPECT_LE(std::abs(offsetMs), 20.0);
}

// Five pauses, each with a flash and a beep inside it, between six recorded
// stretches with one each: the file has the six pairs, every one together,
// and none of the paused ones. Sound still on its way from the server when a
// pause begins belongs to the pause.
TEST_F(FlashBeepTest, FivePausesLeaveOutTheirFlashesAndBeepsAndKeepTheRestTogether) {
    // 200 frames a second: a flash shows within 5 ms of its paint.
    Record(200);
    std::this_thread::sleep_for(700ms);
    for (int stretch = 0; stretch < 6; ++stretch) {
        FlashAndBeep(150ms);
        std::this_thread::sleep_for(400ms);
        if (stretch == 5) break;
        ASSERT_TRUE(cam->PauseRecording());
        std::this_thread::sleep_for(300ms);
        FlashAndBeep(150ms);
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(cam->ResumeRecording());
        std::this_thread::sleep_for(300ms);
    }
    Stop();

    const auto flashes = FlashTimes(FrameBrightness(Target()));
    const auto beeps = BeepTimes(Samples(Target()), 2, 44100);
    ASSERT_EQ(flashes.size(), 6u);
    ASSERT_EQ(beeps.size(), 6u);
    // The scene has an offset of its own (the single flash above holds it to
    // 20 ms), the median of the six here; what the pauses may do is move a
    // stretch away from it.
    std::vector<double> offsets;
    for (std::size_t i = 0; i < 6; ++i) {
        offsets.push_back((beeps[i] - flashes[i]) * 1000);
        std::printf("stretch %zu: flash at %.3f s, beep at %.4f s, beep - flash = %+.1f ms\n", i,
                    flashes[i], beeps[i], offsets.back());
    }
    std::vector<double> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    const double sceneMs = (sorted[2] + sorted[3]) / 2;
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_LE(std::abs(offsets[i] - sceneMs), 20.0) << "stretch " << i;
        EXPECT_LE(std::abs(offsets[i]), 30.0) << "stretch " << i;
    }
}

}  // namespace
}  // namespace velmora::soundtest
