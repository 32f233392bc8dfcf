#pragma once
// A scene whose picture and sound change at the same instant: a square of the
// root window flashes white while a beep sounds through a sink of our own,
// whose monitor is the recorded source. The sound tests and the sync bench
// both record it and measure beep against flash in the result.

#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/ScreenCamera.h"
#include "tests/support/TestEnv.h"

namespace velmora::soundtest {

using SceneClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A playback stream into a sink of the test's own, kept running with
// silence (or a quiet 440 Hz tone, where a gap in the recorded sound must
// show); Beep() plays a burst and says when the sink will sound its start.
class Beeper {
  public:
    explicit Beeper(const std::string& sink, bool quietTone = false) : quietTone_(quietTone) {
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
    SceneClock::time_point Beep() {
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
            if (quietTone_) Tone(silence);
            if (!beep) {
                if (pa_simple_write(stream_, silence.data(), silence.size() * 2, &error) < 0)
                    return;
                continue;
            }
            // The burst sounds when all written before its end has been
            // played, less the burst and what followed it. One reading of the
            // latency can be stale by a fragment: the median of several.
            if (pa_simple_write(stream_, burst.data(), burst.size() * 2, &error) < 0) return;
            std::vector<SceneClock::time_point> estimates;
            auto after = -std::chrono::microseconds(kBurstFrames * 1000000 / kRate);
            for (int i = 0; i < 9; ++i) {
                const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
                estimates.push_back(SceneClock::now() + std::chrono::microseconds(latency) + after);
                if (quietTone_) Tone(silence);
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

    // The next stretch of the quiet tone, in phase with the last.
    void Tone(std::vector<std::int16_t>& stereo) {
        for (std::size_t i = 0; i < stereo.size() / 2; ++i, ++toneFrame_)
            stereo[2 * i] = stereo[2 * i + 1] = static_cast<std::int16_t>(
                1000 * std::sin(2 * M_PI * 440 * static_cast<double>(toneFrame_) / kRate));
    }

    const bool quietTone_;
    std::int64_t toneFrame_ = 0;
    pa_simple* stream_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool wanted_ = false;
    SceneClock::time_point heardAt_;
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

// Presentation times (s) of the video frames and their mean brightness (of
// the part `crop` names, as ffmpeg's crop filter takes it, when given).
inline std::vector<std::pair<double, double>> FrameBrightness(const std::string& file,
                                                              const std::string& crop = {}) {
    const std::string out =
        test::capture("ffmpeg -v error -i '" + file + "' -map 0:v -vf " +
                      (crop.empty() ? "" : "crop=" + crop + ",") +
                      "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=- -f null -");
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

inline bool Eventually(const std::function<bool()>& condition, std::chrono::seconds patience) {
    const auto end = SceneClock::now() + patience;
    while (SceneClock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

// The default source delivers sound (a fresh null sink stays silent for a while).
inline bool SourceFlows(const std::string& source) {
    const std::string got = test::capture("timeout 1 parec --latency-msec=20 -d " + source +
                                          " --raw 2>/dev/null | head -c 4410 | wc -c");
    return std::atoi(got.c_str()) == 4410;
}

inline void PickCompressor(engine::TScreenCamera& cam, const char* handler) {
    cam.ListCompressors();
    const auto fourcc = vfw::MakeFourCC(handler[0], handler[1], handler[2], handler[3]);
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler == fourcc)
            cam.CompressorIndex = i;
}

// Times (s) at which the picture turns bright: the first bright frame after
// a dark one.
inline std::vector<double> FlashTimes(const std::vector<std::pair<double, double>>& frames) {
    std::vector<double> times;
    for (std::size_t i = 1; i < frames.size(); ++i)
        if (frames[i].second >= 128 && frames[i - 1].second < 128) times.push_back(frames[i].first);
    return times;
}

// Times (s) at which beeps start in the first channel of interleaved
// samples; a beep is over after half a second.
inline std::vector<double> BeepTimes(const std::vector<std::int16_t>& samples, int channels,
                                     int rate) {
    std::vector<double> times;
    std::size_t last = 0;
    for (std::size_t i = 0; i < samples.size() / static_cast<std::size_t>(channels); ++i)
        if (std::abs(samples[i * static_cast<std::size_t>(channels)]) >= 10000 &&
            (times.empty() || i - last > static_cast<std::size_t>(rate / 2))) {
            times.push_back(static_cast<double>(i) / rate);
            last = i;
        } else if (std::abs(samples[i * static_cast<std::size_t>(channels)]) >= 10000) {
            last = i;
        }
    return times;
}

}  // namespace velmora::soundtest
