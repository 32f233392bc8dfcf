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
        auto cam = std::make_unique<TScreenCamera>(host, folder.path());
        cam->CaptureMode = 1;
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

TEST_F(SoundRecordingTest, FourSecondsWithTheToneMergeIntoTwoStreamsOfOneLength) {
    ASSERT_TRUE(Eventually([] { return SourceFlows("fakemic"); }, 10s)) << "fakemic is silent";
    auto cam = MakeCamera(0, 0, 320, 240);
    cam->FramesPerSecond = 15;
    cam->FrameInterval = 1000 / 15;
    PickCompressor(*cam, "XVID");
    cam->TimeLimit = engine::TTimeLimit{true, 0, 0, 4};
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
    EXPECT_NEAR(videoSeconds, 4.0, 0.2);
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);
}

TEST_F(SoundRecordingTest, AFlashAndABeepAtTheSameInstantLandTogether) {
    BeepSource source;
    ASSERT_TRUE(source.Good());
    Beeper beeper("lipsync");
    ASSERT_TRUE(beeper.Good());
    ASSERT_TRUE(Eventually([] { return SourceFlows("lipsync.monitor"); }, 10s));
    RootSquare square(600, 300, 64);
    ASSERT_TRUE(square.Good());
    square.Paint(false);

    // 100 frames a second: a frame every 10 ms places the flash that finely.
    auto cam = MakeCamera(600, 300, 64, 64);
    cam->FramesPerSecond = 100;
    cam->FrameInterval = 10;
    cam->KeyFrameEvery = 100;
    PickCompressor(*cam, "FFV1");
    cam->Recording = true;
    std::thread worker([&] { cam->RunRecording(Target()); });
    ASSERT_TRUE(Eventually([&] { return cam->FramesWritten > 0; }, 10s));
    std::this_thread::sleep_for(1500ms);
    const auto heardAt = beeper.Beep();
    std::this_thread::sleep_until(heardAt);
    square.Paint(true);
    const auto late = Clock::now() - heardAt;
    std::this_thread::sleep_for(300ms);
    square.Paint(false);
    std::this_thread::sleep_for(1000ms);
    cam->StopRecording();
    worker.join();
    host.ProcessEvents();
    ASSERT_EQ(errors.size(), 1u) << errors.front();
    EXPECT_EQ(errors.front().rfind("L12 ", 0), 0u) << errors.front();

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
        flashAt, beepAt, offsetMs, std::chrono::duration<double, std::milli>(late).count());
    EXPECT_LE(std::abs(offsetMs), 20.0);
}

// Five pauses, each with a flash and a beep inside it, between six recorded
// stretches with one each: the file has the six pairs, every one together,
// and none of the paused ones. Sound still on its way from the server when a
// pause begins belongs to the pause.
TEST_F(SoundRecordingTest, FivePausesLeaveOutTheirFlashesAndBeepsAndKeepTheRestTogether) {
    BeepSource source;
    ASSERT_TRUE(source.Good());
    Beeper beeper("lipsync");
    ASSERT_TRUE(beeper.Good());
    ASSERT_TRUE(Eventually([] { return SourceFlows("lipsync.monitor"); }, 10s));
    RootSquare square(600, 300, 64);
    ASSERT_TRUE(square.Good());
    square.Paint(false);

    auto cam = MakeCamera(600, 300, 64, 64);
    // 200 frames a second: a flash shows within 5 ms of its paint.
    cam->FramesPerSecond = 200;
    cam->FrameInterval = 5;
    cam->KeyFrameEvery = 200;
    PickCompressor(*cam, "FFV1");
    cam->Recording = true;
    std::thread worker([&] { cam->RunRecording(Target()); });
    ASSERT_TRUE(Eventually([&] { return cam->FramesWritten > 0; }, 10s));
    std::this_thread::sleep_for(700ms);
    const auto flashAndBeep = [&] {
        const auto heardAt = beeper.Beep();
        std::this_thread::sleep_until(heardAt);
        square.Paint(true);
        std::this_thread::sleep_for(150ms);
        square.Paint(false);
    };
    for (int stretch = 0; stretch < 6; ++stretch) {
        flashAndBeep();
        std::this_thread::sleep_for(400ms);
        if (stretch == 5) break;
        ASSERT_TRUE(cam->PauseRecording());
        std::this_thread::sleep_for(300ms);
        flashAndBeep();
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(cam->ResumeRecording());
        std::this_thread::sleep_for(300ms);
    }
    cam->StopRecording();
    worker.join();
    host.ProcessEvents();
    ASSERT_EQ(errors.size(), 1u) << errors.front();

    const auto flashes = FlashTimes(FrameBrightness(Target()));
    const auto beeps = BeepTimes(Samples(Target()), 2, 44100);
    ASSERT_EQ(flashes.size(), 6u);
    ASSERT_EQ(beeps.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const double offsetMs = (beeps[i] - flashes[i]) * 1000;
        std::printf("stretch %zu: flash at %.3f s, beep at %.4f s, beep - flash = %+.1f ms\n", i,
                    flashes[i], beeps[i], offsetMs);
        EXPECT_LE(std::abs(offsetMs), 20.0) << "stretch " << i;
    }
    const double videoSeconds = std::stod(StreamInfo(Target(), 0).at("duration"));
    const double soundSeconds = static_cast<double>(Samples(Target()).size()) / 2 / 44100;
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
}

}  // namespace
}  // namespace velmora::soundtest
