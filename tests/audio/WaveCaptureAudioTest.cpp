// Recordings from the private PulseAudio server of the test fixture, whose
// default source "fakemic" plays a 440 Hz tone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/WaveRecorders.h"
#include "platform/wavein/CaptureBackend.h"
#include "tests/audio/WaveTestSupport.h"
#include "tests/support/TestEnv.h"

using namespace velmora::audio;
using velmora::test::capture;
using velmora::test::eventually;
using namespace std::chrono_literals;

namespace {

class WaveCapture : public testing::Test {
  protected:
    velmora::test::ReportedErrors errors;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velmora-capture-" + std::to_string(getpid()));

    void SetUp() override {
        ASSERT_FALSE(velmora::test::pulseServer().empty())
            << "no sound server: run the test through ctest";
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::vector<std::uint8_t> fileBytes(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

// A fresh server's null sink renders two seconds ahead before the fixture's
// low-latency reader attaches, so its monitor, and fakemic, stay silent that
// long. Timed recordings wait until the tone flows.
bool toneFlows() {
    const std::string got = capture(
        "timeout 1 parec --latency-msec=20 -d fakemic --raw 2>/dev/null | head -c 4410 | wc -c");
    return !got.empty() && std::stoul(got) == 4410;
}

std::string probe(const std::filesystem::path& file, const char* entries) {
    return capture("ffprobe -v error -select_streams a:0 -show_entries " + std::string(entries) +
                   " -of default=noprint_wrappers=1 '" + file.string() + "'");
}

TEST_F(WaveCapture, RecordsTheToneInTheChosenFormat) {
    ASSERT_TRUE(eventually(toneFlows, 10s)) << "fakemic delivers nothing";
    const auto file = dir / "~tempaudio.wav";
    TStockAudioRecorder rec;
    rec.SetPCMFormat(Stereo16bit44100Hz);
    rec.SetAsync(true);
    std::atomic<std::uint64_t> delivered{0};
    rec.OnData = [&](TWaveAudioIO*, const void*, std::uint32_t n) { delivered += n; };
    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    std::this_thread::sleep_for(3s);
    const std::int64_t first = rec.FirstSampleTime();
    rec.SetActive(false);
    ASSERT_TRUE(rec.WaitForInactive(5s));
    EXPECT_TRUE(errors.texts().empty());

    // The sound server dates the first sample shortly before it reached us;
    // a source delivering in bursts would date it late.
    const auto openedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(opened.time_since_epoch()).count();
    EXPECT_GT(first, openedNs - 1'000'000'000);
    EXPECT_LT(first, openedNs + 500'000'000);

    const auto d = fileBytes(file);
    ASSERT_GE(d.size(), 46u);
    std::uint32_t dataSize;
    std::memcpy(&dataSize, d.data() + 42, 4);
    std::printf("%u bytes in 3 s, first sample %.3f s after open\n", dataSize,
                (first - openedNs) / 1e9);
    EXPECT_EQ(dataSize, delivered.load());
    EXPECT_EQ(d.size(), 46 + dataSize);
    WAVEFORMATEX expected{};
    FillPCMFormat(expected, Stereo16bit44100Hz);
    EXPECT_EQ(std::memcmp(d.data() + 20, &expected, 18), 0);
    // About 3 s: the device's start-up latency may cost a little.
    EXPECT_GT(dataSize, 176400u * 25 / 10);
    EXPECT_LT(dataSize, 176400u * 33 / 10);

    EXPECT_EQ(probe(file, "stream=codec_name,sample_rate,channels"),
              "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\n");
    const double seconds = std::stod(probe(file, "format=duration").substr(9));
    EXPECT_NEAR(seconds, dataSize / 176400.0, 0.01);

    // The tone by its zero crossings on the left channel.
    const auto* samples = reinterpret_cast<const std::int16_t*>(d.data() + 46);
    const std::size_t frames = dataSize / 4;
    std::size_t crossings = 0, firstCrossing = 0, lastCrossing = 0;
    for (std::size_t i = 1; i < frames; ++i)
        if ((samples[2 * (i - 1)] < 0) != (samples[2 * i] < 0)) {
            if (crossings++ == 0) firstCrossing = i;
            lastCrossing = i;
        }
    ASSERT_GT(crossings, 100u);
    const double hz = (crossings - 1) / 2.0 / ((lastCrossing - firstCrossing) / 44100.0);
    EXPECT_NEAR(hz, 440.0, 2.0);
}

// Both sound systems, read straight from the backend: two seconds of reads
// bring two seconds of sound, no more (the device paces them) and not much
// less. ALSA's "default" reaches the same server through its pulse plugin.
TEST_F(WaveCapture, BackendsDeliverInRealTime) {
    ASSERT_TRUE(eventually(toneFlows, 10s)) << "fakemic delivers nothing";
    namespace wi = velmora::platform::wavein;
    const WAVEFORMATEX format{velmora::platform::WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    for (const bool alsa : {false, true}) {
        SCOPED_TRACE(alsa ? "ALSA" : "PulseAudio");
        std::string error;
        velmora::platform::MMRESULT code = 0;
        auto backend =
            alsa ? wi::openAlsa(format, error, code) : wi::openPulse("", format, error, code);
        ASSERT_TRUE(backend) << error;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(backend->setRunning(true, error)) << error;
        std::vector<char> chunk(3528);
        std::uint64_t bytes = 0;
        while (std::chrono::steady_clock::now() - start < 2s) {
            const long n = backend->read(chunk.data(), chunk.size(), 250, error);
            ASSERT_GE(n, 0) << error;
            bytes += static_cast<std::uint64_t>(n);
        }
        std::printf("%s: %llu bytes in 2 s\n", alsa ? "ALSA" : "PulseAudio",
                    static_cast<unsigned long long>(bytes));
        EXPECT_GT(bytes, 176400u * 18 / 10);
        EXPECT_LE(bytes, 176400u * 2 + 8820);
    }
}

TEST_F(WaveCapture, RefusedFormatAndDeviceList) {
    TStockAudioRecorder rec;
    EXPECT_GE(rec.DeviceCount(), 3u);  // fakemic and two monitors
    EXPECT_FALSE(rec.DeviceName().empty());
    rec.SetPCMFormat(nonePCM);
    static WAVEFORMATEX deep{1, 2, 44100, 44100 * 6, 6, 24, 0};
    rec.OnFormat = [](TWaveAudioIO*, PWaveFormatEx& record, bool& freeIt) {
        record = &deep;
        freeIt = false;
    };
    const auto file = dir / "refused.wav";
    EXPECT_THROW(rec.RecordToFile(file.string()), EWaveAudioSysError);
    EXPECT_EQ(fileBytes(file).size(), 46u);
    EXPECT_FALSE(rec.Active());
}

TEST_F(WaveCapture, VanishingSourceEndsWithAnErrorNotAHang) {
    const std::string module =
        capture("pactl load-module module-null-sink sink_name=vanishing 2>/dev/null");
    ASSERT_FALSE(module.empty());
    const std::string oldDefault = capture("pactl get-default-source");
    ASSERT_EQ(velmora::test::run("pactl set-default-source vanishing.monitor"), 0);

    const auto file = dir / "vanish.wav";
    TStockAudioRecorder rec;
    rec.SetAsync(true);
    rec.SetBufferLength(200);
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    velmora::test::run("pactl set-default-source " + oldDefault);
    std::this_thread::sleep_for(600ms);
    ASSERT_EQ(velmora::test::run("pactl unload-module " + module), 0);

    EXPECT_TRUE(eventually([&] { return !errors.texts().empty(); }, 6s));
    EXPECT_TRUE(eventually([&] { return rec.QueuedBufferCount() == 0; }, 6s));
    const auto stopped = std::chrono::steady_clock::now();
    if (rec.Active()) rec.SetActive(false);
    EXPECT_TRUE(rec.WaitForInactive(3s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
    const auto d = fileBytes(file);
    ASSERT_GE(d.size(), 46u);
    std::uint32_t dataSize;
    std::memcpy(&dataSize, d.data() + 42, 4);
    EXPECT_EQ(d.size(), 46u + dataSize);
}

}  // namespace
