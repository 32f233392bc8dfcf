#pragma once
// A capture backend for the system driver's logic, in real time: mono 16-bit
// sound whose clock runs `ppm` off the steady clock, a quiet 440 Hz tone with
// a loud 10 ms beep at every whole second since the start, each read dated
// with the true time of its first frame. Gaps lose the frames taken in
// them: short ones look like a hole the server did not report, long ones
// like a stalled source.

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/wavein/CaptureBackend.h"

namespace velmora::test {

constexpr std::int16_t kBeepLevel = 20000, kToneLevel = 1000;

// Frame f of a source taking `actualRate` frames per steady second: a loud
// 1 kHz-ish square wave in the first 10 ms of every second, else a quiet tone.
inline std::int16_t BeepToneSample(std::int64_t f, double actualRate) {
    const double t = static_cast<double>(f) / actualRate;
    if (t - std::floor(t) < 0.010) return (f / 24) % 2 ? -kBeepLevel : kBeepLevel;
    return static_cast<std::int16_t>(kToneLevel * std::sin(2 * M_PI * 440 * t));
}

// Onsets (frame numbers) of the beeps in captured sound.
inline std::vector<std::size_t> BeepOnsets(const std::vector<std::int16_t>& s, std::uint32_t rate) {
    std::vector<std::size_t> onsets;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (std::abs(s[i]) > kBeepLevel / 2 && (onsets.empty() || i - onsets.back() > rate / 2))
            onsets.push_back(i);
    return onsets;
}

// The longest run of exact silence: its start and length in frames.
inline std::pair<std::size_t, std::size_t> LongestSilence(const std::vector<std::int16_t>& s) {
    std::pair<std::size_t, std::size_t> best{0, 0};
    for (std::size_t i = 0; i < s.size();) {
        std::size_t j = i;
        while (j < s.size() && s[j] == 0) ++j;
        if (j - i > best.second) best = {i, j - i};
        i = j + 1;
    }
    return best;
}

// Sound a source lost: the frames taken in this span never arrive.
struct SourceGap {
    double fromS, lengthS;  // seconds since the start
};

// Which of the frames [next, due) a source with these gaps hands over now:
// `next` moves past a gap that has ended, `due` stops at the next gap's
// start. False while the source is inside a gap.
inline bool SkipGaps(const std::vector<SourceGap>& gaps, double actualRate, std::int64_t& next,
                     std::int64_t& due) {
    bool inGap = false;
    for (const SourceGap& g : gaps) {
        const auto from = static_cast<std::int64_t>(g.fromS * actualRate);
        const auto to = static_cast<std::int64_t>((g.fromS + g.lengthS) * actualRate);
        if (next >= from && next < to) {
            if (due < to)
                inGap = true;
            else
                next = to;
        } else if (next < from && due > from) {
            due = from;
        }
    }
    return !inGap;
}

class ScriptedCapture final : public platform::wavein::CaptureBackend {
  public:
    using Gap = SourceGap;
    ScriptedCapture(std::uint32_t rate, double ppm, std::vector<Gap> gaps)
        : actual_(rate * (1 + ppm / 1e6)), gaps_(std::move(gaps)) {}

    bool setRunning(bool on, std::string&) override {
        if (on && startNs_ < 0) startNs_ = platform::wavein::steadyNowNs();
        if (!on && freezeOnStop) {
            // A frozen sound server: the stop never completes until Thaw().
            std::unique_lock lock(frozenMutex_);
            frozen_.wait(lock, [this] { return thawed_; });
        }
        return true;
    }
    bool freezeOnStop = false;
    void Thaw() {
        std::lock_guard lock(frozenMutex_);
        thawed_ = true;
        frozen_.notify_all();
    }
    long read(char* dst, std::size_t max, int timeoutMs, std::string&) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!woken_.exchange(false)) {
            // Frames are handed over 20 ms after they were taken.
            const double t = (platform::wavein::steadyNowNs() - startNs_) / 1e9 - 0.020;
            auto due = static_cast<std::int64_t>(t * actual_);
            if (SkipGaps(gaps_, actual_, next_, due) && next_ < due) {
                const auto n =
                    std::min<std::int64_t>(due - next_, static_cast<std::int64_t>(max / 2));
                auto* out = reinterpret_cast<std::int16_t*>(dst);
                for (std::int64_t i = 0; i < n; ++i) out[i] = BeepToneSample(next_ + i, actual_);
                readTime_ = startNs_ + static_cast<std::int64_t>(next_ / actual_ * 1e9);
                next_ += n;
                return static_cast<long>(n * 2);
            }
            if (std::chrono::steady_clock::now() >= until) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }
    void wake() override { woken_ = true; }
    std::int64_t lastReadCaptureTime() override { return readTime_; }

    std::int64_t StartNs() const { return startNs_; }

  private:
    const double actual_;
    const std::vector<Gap> gaps_;
    std::atomic<bool> woken_{false};
    std::mutex frozenMutex_;
    std::condition_variable frozen_;
    bool thawed_ = false;
    std::atomic<std::int64_t> startNs_{-1};
    std::int64_t next_ = 0;
    std::int64_t readTime_ = -1;
};

}  // namespace velmora::test
