// The recorder on the system driver's logic (capture thread, buffer queue,
// clock) over a scripted source in real time: what the WAV file holds after
// sound went missing or the source stalled.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "audio/WaveRecorders.h"
#include "tests/audio/WaveTestSupport.h"
#include "tests/doubles/ScriptedCapture.h"

namespace velmora::test {
namespace {

using namespace std::chrono_literals;
constexpr std::uint32_t kRate = 48000;

struct Recorded {
    std::vector<std::int16_t> samples;
    double fileStartS = 0;  // the file's first frame, in seconds of the source
    platform::WaveInReport report;
};

class WaveClock : public testing::Test {
  protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velmora-clock-" + std::to_string(getpid()));
    ReportedErrors errors;

    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    Recorded Record(std::chrono::milliseconds length, std::vector<ScriptedCapture::Gap> gaps,
                    const std::function<void(audio::TStockAudioRecorder&)>& setUp = {}) {
        ScriptedCapture* source = nullptr;
        const auto driver = platform::wavein::makeDriver([&](const platform::WAVEFORMATEX& format) {
            auto s = std::make_unique<ScriptedCapture>(format.nSamplesPerSec, 0, gaps);
            source = s.get();
            return s;
        });
        const auto file = (dir / "~tempaudio.wav").string();
        Recorded r;
        {
            audio::TStockAudioRecorder rec;
            rec.SetDriver(driver.get());
            rec.SetPCMFormat(audio::Mono16bit48000Hz);
            rec.SetAsync(true);
            if (setUp) setUp(rec);
            EXPECT_TRUE(rec.RecordToFile(file));
            std::this_thread::sleep_for(length);
            r.fileStartS = (rec.FirstSampleTime() - source->StartNs()) / 1e9;
            EXPECT_TRUE(rec.CaptureReport(r.report));
            rec.SetActive(false);
            EXPECT_TRUE(rec.WaitForInactive(5s));
        }
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        constexpr std::size_t kHeader = 46;
        if (bytes.size() > kHeader) {
            r.samples.resize((bytes.size() - kHeader) / 2);
            std::memcpy(r.samples.data(), bytes.data() + kHeader, r.samples.size() * 2);
        }
        EXPECT_TRUE(errors.texts().empty());
        return r;
    }

    // Each beep's place in the file against the second it was taken (ms).
    static std::vector<double> BeepOffsetsMs(const Recorded& r) {
        std::vector<double> offsets;
        for (std::size_t onset : BeepOnsets(r.samples, kRate)) {
            const double at = r.fileStartS + static_cast<double>(onset) / kRate;
            offsets.push_back((at - std::round(at)) * 1000);
        }
        return offsets;
    }
};

TEST_F(WaveClock, TwoHundredMillisecondsLostAreSilenceAndLaterBeepsStayInPlace) {
    const Recorded r = Record(6500ms, {{4.0, 0.200}});
    const auto [at, length] = LongestSilence(r.samples);
    EXPECT_NEAR(length / double(kRate), 0.200, 0.010);
    EXPECT_NEAR(r.fileStartS + at / double(kRate), 4.0, 0.150);
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_GE(offsets.size(), 6u);
    for (double o : offsets) EXPECT_LT(std::abs(o), 10.0);
}

TEST_F(WaveClock, AFourSecondStallIsSilenceAndCaptureResumes) {
    const Recorded r = Record(10500ms, {{3.5, 4.5}});
    const auto [at, length] = LongestSilence(r.samples);
    EXPECT_NEAR(r.fileStartS + at / double(kRate), 3.5, 0.030);
    EXPECT_NEAR(length / double(kRate), 4.5, 0.040);
    ASSERT_EQ(r.report.stalls.size(), 1u);
    EXPECT_NEAR(r.report.stalls[0].frames / double(kRate), 4.5, 0.040);
    // Sound after the stall: the beeps of seconds 8 to 10 are there, in place.
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_GE(offsets.size(), 7u);
    for (double o : offsets) EXPECT_LT(std::abs(o), 10.0);
    EXPECT_NEAR(r.samples.size() / double(kRate), 10.5, 0.2);
}

// One buffer, handled slowly: sound that comes while none is queued is kept
// as silence of its length, so nothing after it moves earlier.
TEST_F(WaveClock, SoundWithNoBufferQueuedIsSilenceNotSkipped) {
    const Recorded r = Record(4000ms, {}, [](audio::TStockAudioRecorder& rec) {
        rec.SetBufferCount(1);
        rec.SetBufferLength(300);
        rec.OnData = [](audio::TWaveAudioIO*, const void*, std::uint32_t) {
            std::this_thread::sleep_for(100ms);
        };
    });
    EXPECT_GT(r.report.unqueuedFrames, kRate / 5);
    EXPECT_NEAR(r.samples.size() / double(kRate), 4.0, 0.15);
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_GE(offsets.size(), 1u);
    for (double o : offsets) EXPECT_LT(std::abs(o), 10.0);
}

// A sound server that freezes must not hold the stop: the driver lets the
// frozen capture thread go, the file is finished and the next recording opens.
TEST_F(WaveClock, AFrozenSoundServerDoesNotHoldTheStopOrTheNextRecording) {
    std::vector<ScriptedCapture*> sources;
    const auto driver = platform::wavein::makeDriver([&](const platform::WAVEFORMATEX& format) {
        auto s = std::make_unique<ScriptedCapture>(format.nSamplesPerSec, 0,
                                                   std::vector<ScriptedCapture::Gap>{});
        s->freezeOnStop = sources.empty();
        sources.push_back(s.get());
        return s;
    });
    {
        audio::TStockAudioRecorder rec;
        rec.SetDriver(driver.get());
        rec.SetPCMFormat(audio::Mono16bit48000Hz);
        rec.SetAsync(true);
        ASSERT_TRUE(rec.RecordToFile((dir / "first.wav").string()));
        std::this_thread::sleep_for(300ms);
        const auto stop = std::chrono::steady_clock::now();
        rec.SetActive(false);
        ASSERT_TRUE(rec.WaitForInactive(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - stop, 5s);
        EXPECT_GT(std::filesystem::file_size(dir / "first.wav"), 46u + 9000u);

        ASSERT_TRUE(rec.RecordToFile((dir / "second.wav").string()));
        std::this_thread::sleep_for(300ms);
        rec.SetActive(false);
        ASSERT_TRUE(rec.WaitForInactive(5s));
    }
    sources.front()->Thaw();  // the capture thread the driver let go ends now
    std::this_thread::sleep_for(100ms);
}

// Questions about a device while it closes on the callback thread: each call
// holds the device it asked about, so a close in between frees nothing under it.
TEST_F(WaveClock, QuestionsDuringTheCloseAreSafe) {
    const auto driver = platform::wavein::makeDriver([](const platform::WAVEFORMATEX& format) {
        return std::make_unique<ScriptedCapture>(format.nSamplesPerSec, 0,
                                                 std::vector<ScriptedCapture::Gap>{});
    });
    audio::TStockAudioRecorder rec;
    rec.SetDriver(driver.get());
    rec.SetPCMFormat(audio::Mono16bit48000Hz);
    rec.SetAsync(true);
    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    std::thread asker([&] {
        platform::WaveInReport report;
        while (!done) {
            if (rec.FirstSampleTime() >= 0) ++answers;
            rec.CaptureReport(report);
        }
    });
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(rec.RecordToFile((dir / "asked.wav").string()));
        std::this_thread::sleep_for(150ms);
        rec.SetActive(false);
        ASSERT_TRUE(rec.WaitForInactive(5s));
    }
    done = true;
    asker.join();
    EXPECT_GT(answers.load(), 0);
}

// The sound taken before a pause reaches the file while the pause lasts, not
// once its block fills after the resume: a crash in the pause keeps it.
TEST_F(WaveClock, TheLastBlockBeforeAPauseIsStoredInThePause) {
    const auto driver = platform::wavein::makeDriver([](const platform::WAVEFORMATEX& format) {
        return std::make_unique<ScriptedCapture>(format.nSamplesPerSec, 0,
                                                 std::vector<ScriptedCapture::Gap>{});
    });
    const auto file = dir / "paused.wav";
    audio::TStockAudioRecorder rec;
    rec.SetDriver(driver.get());
    rec.SetPCMFormat(audio::Mono16bit48000Hz);
    rec.SetAsync(true);
    rec.SetBufferLength(100);
    rec.SetBufferCount(20);
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    ASSERT_TRUE(eventually([&] { return rec.FirstSampleTime() >= 0; }));
    // Half a block after the tenth.
    const std::int64_t pauseNs = rec.FirstSampleTime() + 1'050'000'000;
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(pauseNs + 20'000'000)));
    ASSERT_TRUE(rec.PauseCapture(true, pauseNs));
    const auto storedS = [&] {
        return (static_cast<double>(std::filesystem::file_size(file)) - 46) / 2 / kRate;
    };
    EXPECT_TRUE(eventually([&] { return storedS() > 1.04; })) << storedS() << " s stored";
    EXPECT_NEAR(storedS(), 1.05, 0.01);
    rec.SetActive(false);
    EXPECT_TRUE(rec.WaitForInactive(5s));
    EXPECT_TRUE(errors.texts().empty());
}

}  // namespace
}  // namespace velmora::test
