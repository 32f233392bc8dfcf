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
#include "tests/sound/RootSquare.h"
#include "tests/sound/SoundCheck.h"

namespace velmora::soundtest {
namespace {

using namespace std::chrono_literals;
using engine::TScreenCamera;
using enginetest::TempFolder;
using Clock = std::chrono::steady_clock;

constexpr int kStereo16bit44100Hz = 16;  // the catalogue's format number

bool Eventually(const std::function<bool()>& condition, std::chrono::seconds patience) {
    const auto end = Clock::now() + patience;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

// The default source delivers sound (a fresh null sink stays silent for a while).
bool SourceFlows(const std::string& source) {
    const std::string got = test::capture("timeout 1 parec --latency-msec=20 -d " + source +
                                          " --raw 2>/dev/null | head -c 4410 | wc -c");
    return std::atoi(got.c_str()) == 4410;
}

void PickCompressor(TScreenCamera& cam, const char* handler) {
    cam.ListCompressors();
    const auto fourcc = vfw::MakeFourCC(handler[0], handler[1], handler[2], handler[3]);
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler == fourcc)
            cam.CompressorIndex = i;
}

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

// A playback stream into a sink of the test's own, kept running with
// silence; Beep() plays a burst and says when the sink will sound its start.
class Beeper {
  public:
    explicit Beeper(const std::string& sink) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        // 200 ms ahead: a burst written now sounds late enough to paint on time.
        attr.tlength = kRate * 4 * 200 / 1000;
        int error = 0;
        stream_ = pa_simple_new(nullptr, "velmora sound test", PA_STREAM_PLAYBACK, sink.c_str(),
                                "beeper", &sampleFormat, nullptr, &attr, &error);
        if (stream_) thread_ = std::thread([this] { Pump(); });
    }
    ~Beeper() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (stream_) pa_simple_free(stream_);
    }
    bool Good() const { return stream_ != nullptr; }

    // Steady-clock time at which the burst's first sample is heard.
    Clock::time_point Beep() {
        std::unique_lock lock(mutex_);
        wanted_ = true;
        changed_.wait(lock, [this] { return !wanted_; });
        return heardAt_;
    }

  private:
    static constexpr std::uint32_t kRate = 44100;
    static constexpr std::size_t kBurstFrames = kRate * 40 / 1000;

    void Pump() {
        std::vector<std::int16_t> silence(kRate * 5 / 1000 * 2, 0), burst(kBurstFrames * 2);
        for (std::size_t i = 0; i < kBurstFrames; ++i)  // 1 kHz square wave
            burst[2 * i] = burst[2 * i + 1] = (i / 22) % 2 ? -20000 : 20000;
        int error = 0;
        while (!stop_) {
            bool beep;
            {
                std::lock_guard lock(mutex_);
                beep = wanted_;
            }
            if (!beep) {
                if (pa_simple_write(stream_, silence.data(), silence.size() * 2, &error) < 0)
                    return;
                continue;
            }
            // The burst sounds when all written before its end has been
            // played, less the burst and what followed it. One reading of the
            // latency can be stale by a fragment: the median of several.
            if (pa_simple_write(stream_, burst.data(), burst.size() * 2, &error) < 0) return;
            std::vector<Clock::time_point> estimates;
            auto after = -std::chrono::microseconds(kBurstFrames * 1000000 / kRate);
            for (int i = 0; i < 9; ++i) {
                const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
                estimates.push_back(Clock::now() + std::chrono::microseconds(latency) + after);
                if (pa_simple_write(stream_, silence.data(), silence.size() * 2, &error) < 0)
                    return;
                after -= 5ms;
            }
            std::nth_element(estimates.begin(), estimates.begin() + 4, estimates.end());
            std::lock_guard lock(mutex_);
            heardAt_ = estimates[4];
            wanted_ = false;
            changed_.notify_all();
        }
    }

    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool wanted_ = false;
    Clock::time_point heardAt_;
};

// A null sink of the test's own whose monitor is the default source while
// the test runs.
class BeepSource {
  public:
    BeepSource() {
        module_ = test::capture("pactl load-module module-null-sink sink_name=lipsync");
        while (!module_.empty() && module_.back() == '\n') module_.pop_back();
        test::run("pactl set-default-source lipsync.monitor");
    }
    ~BeepSource() {
        test::run("pactl set-default-source fakemic");
        if (!module_.empty()) test::run("pactl unload-module " + module_);
    }
    bool Good() const { return !module_.empty(); }

  private:
    std::string module_;
};

// Presentation times (s) of the video frames and their mean brightness.
std::vector<std::pair<double, double>> FrameBrightness(const std::string& file) {
    const std::string out = test::capture(
        "ffmpeg -v error -i '" + file +
        "' -map 0:v -vf signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=- -f null -");
    std::vector<std::pair<double, double>> frames;
    std::istringstream lines(out);
    std::string line;
    double time = 0;
    while (std::getline(lines, line)) {
        if (const auto at = line.find("pts_time:"); at != std::string::npos)
            time = std::stod(line.substr(at + 9));
        if (const auto at = line.find("YAVG="); at != std::string::npos)
            frames.emplace_back(time, std::stod(line.substr(at + 5)));
    }
    return frames;
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

    const auto frames = FrameBrightness(Target());
    std::size_t flash = 0;
    while (flash < frames.size() && frames[flash].second < 128) ++flash;
    ASSERT_LT(flash, frames.size()) << "no flash in the video";
    ASSERT_GT(flash, 0u);
    const double flashAt = frames[flash].first, darkAt = frames[flash - 1].first;

    const auto samples = Samples(Target());
    std::size_t beep = 0;
    while (beep < samples.size() / 2 && std::abs(samples[2 * beep]) < 10000) ++beep;
    ASSERT_LT(beep, samples.size() / 2) << "no beep in the sound";
    const double beepAt = beep / 44100.0;

    const double offsetMs = (beepAt - flashAt) * 1000;
    std::printf(
        "flash in the frame at %.3f s (previous frame %.3f s), beep at %.4f s: "
        "beep - flash = %+.1f ms; painted %.1f ms after the beep was due\n",
        flashAt, darkAt, beepAt, offsetMs, std::chrono::duration<double, std::milli>(late).count());
    EXPECT_LE(std::abs(offsetMs), 20.0);
}

}  // namespace
}  // namespace velmora::soundtest
