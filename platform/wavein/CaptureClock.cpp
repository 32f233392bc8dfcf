#include "platform/wavein/CaptureClock.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace velmora::platform::wavein {
namespace {

// The control loop.
//
// Measurement: every dated read gives e = frames put out before it - frames
// the steady time since the reference holds (positive: the sound runs
// ahead). Single readings scatter by a few milliseconds (the server's
// latency reports are not exact), so the loop acts on the median of the last
// kWindow readings, each taken as it would be without the corrections made
// since, plus those corrections: the loop sees its own corrections at once
// and does not correct twice while the median catches up.
//
// Reference: the median of the first kStartEstimates datings of the first
// frame (about three seconds), the same time the engine lines the file's
// start up with; until then nothing is corrected.
//
// Stalls: while the source delivers nothing for longer than a stall, its
// time passes as silence; the first reading after it sets the sound right
// at once, as does the first after an overrun of unknown length.
//
// Holes and bursts: kStreak readings in a row beyond kStepMs, all on one
// side, are no drift but sound lost or bunched up: their median is filled
// with silence or dropped as whole frames at once.
//
// Drift: proportional control. With the filtered error E (frames), the loop
// adds or removes E / kTimeConstantS frames per second, one frame at a time
// at the quietest frame of a stretch (no click), never more than one frame
// in kMaxCorrectionShare, and nothing while |E| is within kDeadbandMs. A card
// off by d frames per second settles where E = d * kTimeConstantS, plus the
// median's lag of half a window: 1000 ppm at 48 kHz stays within 5 ms, the
// usual 10-100 ppm within 0.5 ms, and the offset no longer moves. A shorter
// time constant would follow the noise of the readings; the median's lag
// (half a second) is well inside it, so the loop does not overshoot.
constexpr std::size_t kStartEstimates = 150;
constexpr std::size_t kWindow = 50;
constexpr std::size_t kMinWindow = 10;
constexpr std::size_t kStreak = 5;
constexpr double kStepMs = 30;
constexpr double kDeadbandMs = 1;
constexpr double kTimeConstantS = 4;
constexpr double kMaxCorrectionShare = 1.0 / 100;
// A read dated this much after a resume was taken after it, whatever the
// datings' scatter.
constexpr std::int64_t kCutSlackNs = 20'000'000;

template <typename T>
T median(std::vector<T> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

}  // namespace

CaptureClock::CaptureClock(const WAVEFORMATEX& format)
    : rate_(format.nSamplesPerSec ? format.nSamplesPerSec : 1),
      frameBytes_(format.nBlockAlign ? format.nBlockAlign : 1),
      eightBit_(format.wBitsPerSample == 8) {}

void CaptureClock::restart(std::int64_t nowNs) {
    // The time before this start is not the file's: a new reference.
    locked_ = false;
    startEstimates_.clear();
    refFrame_ = framesOut_;
    window_.clear();
    streak_.clear();
    credit_ = 0;
    dropDebt_ = fillDebt_ = 0;
    partial_.clear();
    stalled_ = resync_ = afterStall_ = fillIsStall_ = false;
    lastArrivalNs_ = nowNs;
    framesAtArrival_ = framesOut_;
}

void CaptureClock::pause(std::int64_t atNs) {
    if (paused()) return;
    // A resume and a pause at once leave nothing out.
    if (!pauses_.empty() && pauses_.back().toNs >= atNs) {
        pauses_.back().toNs = kOpen;
        return;
    }
    pauses_.push_back({atNs, kOpen});
}

void CaptureClock::resume(std::int64_t atNs) {
    if (!paused()) return;
    Pause& last = pauses_.back();
    last.toNs = std::max(atNs, last.fromNs);
    if (last.toNs == last.fromNs) pauses_.pop_back();
    // The silence a stall would add counts from here, not from the last
    // sound before the pause.
    lastArrivalNs_ = std::max(lastArrivalNs_, atNs);
    framesAtArrival_ = framesOut_;
}

void CaptureClock::hole(std::uint64_t bytes, std::vector<char>& out) {
    const std::uint64_t frames = (bytes + partial_.size()) / frameBytes_;
    partial_.clear();
    // Sound lost while paused would have been left out anyway.
    if (paused()) return;
    putSilence(frames, out);
    counters_.holeFrames += frames;
}

void CaptureClock::idle(std::int64_t nowNs, std::int64_t stallNs, std::vector<char>& out) {
    if (paused()) {
        // Nothing is owed for paused time, however long the source is quiet.
        lastArrivalNs_ = nowNs;
        framesAtArrival_ = framesOut_;
        return;
    }
    if (lastArrivalNs_ < 0 || nowNs - lastArrivalNs_ < stallNs) return;
    if (!stalled_) {
        stalled_ = resync_ = afterStall_ = true;
        counters_.stalls.push_back({framesOut_, 0});
    }
    // The time since the last sound, as silence, so the file keeps pace.
    const auto due =
        framesAtArrival_ +
        static_cast<std::uint64_t>((nowNs - lastArrivalNs_) * static_cast<double>(rate_) / 1e9);
    if (due <= framesOut_) return;
    const std::uint64_t frames = due - framesOut_;
    putSilence(frames, out);
    counters_.stalls.back().frames += frames;
}

void CaptureClock::take(const char* data, std::size_t n, std::int64_t captureNs, std::int64_t nowNs,
                        std::vector<char>& out) {
    stalled_ = false;
    std::vector<char> joined;
    if (!partial_.empty()) {
        // The bytes carried over were taken just before this read's first.
        if (captureNs >= 0)
            captureNs -= static_cast<std::int64_t>(partial_.size() * 1e9 / (rate_ * frameBytes_));
        joined = partial_;
        joined.insert(joined.end(), data, data + n);
        data = joined.data();
        n = joined.size();
        partial_.clear();
    }
    const std::size_t frames = n / frameBytes_;
    partial_.assign(data + frames * frameBytes_, data + n);
    const auto spanNs = [this](std::uint64_t f) {
        return static_cast<std::int64_t>(static_cast<double>(f) * 1e9 / rate_);
    };
    if (frames > 0 && captureNs >= 0) {
        const std::int64_t dating = captureNs - spanNs(framesTaken_);
        if (datings_.size() < kWindow)
            datings_.push_back(dating);
        else
            datings_[datingNext_++ % kWindow] = dating;
    }
    if (frames > 0 && !pauses_.empty()) {
        // An undated source's read ends about when it returned.
        const std::int64_t cutFirstNs =
            datings_.empty() ? nowNs - spanNs(frames) : median(datings_) + spanNs(framesTaken_);
        takeAroundPauses(data, frames, cutFirstNs, captureNs, out);
    } else if (frames > 0) {
        if (captureNs >= 0) measure(captureNs - pausedNs_);
        putCorrected(data, frames, out);
    }
    framesTaken_ += frames;
    lastArrivalNs_ = nowNs;
    framesAtArrival_ = framesOut_;
}

void CaptureClock::takeAroundPauses(const char* data, std::size_t frames, std::int64_t cutFirstNs,
                                    std::int64_t datedNs, std::vector<char>& out) {
    const auto spanNs = [this](std::size_t f) {
        return static_cast<std::int64_t>(static_cast<double>(f) * 1e9 / rate_);
    };
    const std::uint64_t first = framesTaken_;  // this read's first frame
    const std::uint64_t end = first + frames;
    std::uint64_t g = first;
    while (g < end) {
        if (pauses_.empty()) {
            if (datedNs >= 0) measure(datedNs + spanNs(g - first) - pausedNs_);
            putCorrected(data + (g - first) * frameBytes_, end - g, out);
            return;
        }
        Pause& p = pauses_.front();
        // Placed once a read reaches it; one that begins after this read is not.
        if (p.fromFrame == kUnplaced && cutFirstNs + spanNs(frames) > p.fromNs) {
            const double into = std::ceil(static_cast<double>(p.fromNs - cutFirstNs) * rate_ / 1e9);
            p.fromFrame = std::max(g, first + static_cast<std::uint64_t>(std::max(into, 0.0)));
        }
        const std::uint64_t from = std::min(p.fromFrame, end);
        if (g < from) {
            if (datedNs >= 0) measure(datedNs + spanNs(g - first) - pausedNs_);
            putCorrected(data + (g - first) * frameBytes_, from - g, out);
            g = from;
            continue;
        }
        if (g >= end) break;
        // Taken while paused: left out, as many frames as the pause lasted,
        // unless the source lost sound in it: a frame dated clearly after
        // the resume is kept whatever the count says.
        if (p.toNs == kOpen) return;
        std::uint64_t to = p.fromFrame + static_cast<std::uint64_t>(std::llround(
                                             static_cast<double>(p.toNs - p.fromNs) * rate_ / 1e9));
        if (datedNs >= 0) {
            const double after =
                std::ceil(static_cast<double>(p.toNs + kCutSlackNs - datedNs) * rate_ / 1e9);
            to =
                std::max(g, std::min(to, first + static_cast<std::uint64_t>(std::max(after, 0.0))));
        }
        if (to > g) g = std::min(to, end);
        if (g >= to) {
            pausedNs_ += p.toNs - p.fromNs;
            pauses_.pop_front();
        }
    }
}

void CaptureClock::measure(std::int64_t firstByteNs) {
    const double frames = static_cast<double>(framesOut_ - refFrame_);
    if (!locked_) {
        startEstimates_.push_back(firstByteNs - static_cast<std::int64_t>(frames * 1e9 / rate_));
        refNs_ = median(startEstimates_);
        if (refFrame_ == 0) firstSampleNs_ = refNs_;
        locked_ = startEstimates_.size() >= kStartEstimates;
        return;
    }
    const double e = frames - static_cast<double>(firstByteNs - refNs_) * rate_ / 1e9;
    if (resync_) {
        // After a stall or an overrun the sound is known to have jumped:
        // the first reading says by how much.
        resync_ = false;
        streak_.clear();
        window_.clear();
        if (!correct_) return;
        const auto frames = static_cast<std::uint64_t>(std::abs(e));
        StallSpan* stall = afterStall_ ? &counters_.stalls.back() : nullptr;
        afterStall_ = false;
        if (e < 0) {
            // The silence standing for a stall ends where the sound resumed.
            fillDebt_ += frames;
            if (stall) fillIsStall_ = true;
        } else {
            dropDebt_ += frames;
            if (stall) stall->frames -= std::min(stall->frames, frames);
        }
        return;
    }
    const double stepLimit = kStepMs * rate_ / 1000;
    if (std::abs(e) > stepLimit) {
        if (!streak_.empty() && (streak_.back() > 0) != (e > 0)) streak_.clear();
        streak_.push_back(e);
        if (streak_.size() < kStreak) return;
        const double step = median(streak_);
        streak_.clear();
        window_.clear();
        if (!correct_) return;
        if (step < 0)
            fillDebt_ += static_cast<std::uint64_t>(-step);
        else
            dropDebt_ += static_cast<std::uint64_t>(step);
        return;
    }
    streak_.clear();
    const double uncorrected = e - static_cast<double>(netCorrection_);
    if (window_.size() < kWindow)
        window_.push_back(uncorrected);
    else
        window_[windowNext_++ % kWindow] = uncorrected;
    if (window_.size() >= kMinWindow) medianUncorrected_ = median(window_);
}

double CaptureClock::errorFrames() const {
    return window_.size() >= kMinWindow ? medianUncorrected_ + static_cast<double>(netCorrection_)
                                        : 0;
}

void CaptureClock::putSilence(std::uint64_t frames, std::vector<char>& out) {
    out.insert(out.end(), frames * frameBytes_, eightBit_ ? '\x80' : '\0');
    framesOut_ += frames;
}

std::size_t CaptureClock::quietestFrame(const char* data, std::size_t from, std::size_t to) const {
    std::size_t best = from;
    int bestLevel = -1;
    for (std::size_t f = from; f < to; ++f) {
        int level = 0;
        const auto* p = reinterpret_cast<const unsigned char*>(data + f * frameBytes_);
        if (eightBit_) {
            for (std::size_t i = 0; i < frameBytes_; ++i) level += std::abs(p[i] - 128);
        } else {
            for (std::size_t i = 0; i + 1 < frameBytes_; i += 2)
                level += std::abs(static_cast<std::int16_t>(p[i] | p[i + 1] << 8));
        }
        if (bestLevel < 0 || level < bestLevel) {
            best = f;
            bestLevel = level;
        }
    }
    return best;
}

void CaptureClock::putCorrected(const char* data, std::size_t frames, std::vector<char>& out) {
    if (fillDebt_ > 0) {
        // The sound before this read never came: its span as silence.
        putSilence(fillDebt_, out);
        (fillIsStall_ ? counters_.stalls.back().frames : counters_.holeFrames) += fillDebt_;
        fillDebt_ = 0;
        fillIsStall_ = false;
    }
    if (dropDebt_ > 0) {
        const auto drop = static_cast<std::size_t>(std::min<std::uint64_t>(dropDebt_, frames));
        dropDebt_ -= drop;
        counters_.droppedFrames += drop;
        data += drop * frameBytes_;
        frames -= drop;
    }
    const double error = errorFrames();
    if (correct_ && locked_ && window_.size() >= kMinWindow &&
        std::abs(error) > kDeadbandMs * rate_ / 1000) {
        const double limit = rate_ * kMaxCorrectionShare;
        const double perSecond = std::clamp(error / kTimeConstantS, -limit, limit);
        credit_ += perSecond * static_cast<double>(frames) / rate_;
    } else {
        credit_ = 0;
    }
    // Whole frames owed, one in each equal stretch of this read.
    auto owed = static_cast<std::int64_t>(credit_);
    owed = std::clamp<std::int64_t>(owed, -static_cast<std::int64_t>(frames / 4),
                                    static_cast<std::int64_t>(frames / 4));
    credit_ -= static_cast<double>(owed);
    const std::size_t count = static_cast<std::size_t>(std::llabs(owed));
    std::size_t done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = frames * (i + 1) / count;
        const std::size_t at = quietestFrame(data, done, end);
        out.insert(out.end(), data + done * frameBytes_, data + (at + 1) * frameBytes_);
        if (owed > 0) {
            out.resize(out.size() - frameBytes_);  // the quiet frame left out
            ++counters_.removedFrames;
            --netCorrection_;
        } else {
            out.insert(out.end(), data + at * frameBytes_, data + (at + 1) * frameBytes_);
            ++counters_.addedFrames;
            ++netCorrection_;
        }
        done = at + 1;
    }
    out.insert(out.end(), data + done * frameBytes_, data + frames * frameBytes_);
    framesOut_ += owed > 0 ? frames - count : frames + count;
}

}  // namespace velmora::platform::wavein
