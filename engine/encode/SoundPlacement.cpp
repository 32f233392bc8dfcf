#include "engine/encode/SoundPlacement.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace velmora::engine {

std::int64_t SoundPlacement::FramesOf(std::int64_t ms, int samplesPerSecond) {
    const std::int64_t magnitude = (std::llabs(ms) * samplesPerSecond + 500) / 1000;
    return ms < 0 ? -magnitude : magnitude;
}

SoundPlacement::SoundPlacement(const SoundPlacing& placing, int samplesPerSecond, int frameBytes,
                               std::uint8_t silence)
    : frameBytes_(frameBytes),
      silence_(silence),
      startSkip_(std::max<std::int64_t>(-FramesOf(placing.startMs, samplesPerSecond), 0)),
      startLead_(std::max<std::int64_t>(FramesOf(placing.startMs, samplesPerSecond), 0)),
      skip_(startSkip_),
      lead_(startLead_),
      cutAt_(placing.cutAtMs < 0 ? -1 : FramesOf(placing.cutAtMs, samplesPerSecond)),
      padTo_(placing.padToMs < 0 ? -1 : FramesOf(placing.padToMs, samplesPerSecond)) {}

std::int64_t SoundPlacement::PlacedFrames(std::int64_t frames) const {
    std::int64_t placed = startLead_ + std::max<std::int64_t>(frames - startSkip_, 0);
    placed = std::max(placed, padTo_);
    return cutAt_ >= 0 ? std::min(placed, cutAt_) : placed;
}

void SoundPlacement::Silence(std::int64_t frames, std::vector<std::uint8_t>& out) {
    if (cutAt_ >= 0) frames = std::min(frames, cutAt_ - out_);
    if (frames <= 0) return;
    out.insert(out.end(), static_cast<std::size_t>(frames * frameBytes_), silence_);
    out_ += frames;
}

void SoundPlacement::Push(const std::uint8_t* samples, std::int64_t frames,
                          std::vector<std::uint8_t>& out) {
    const std::int64_t skipped = std::min(skip_, frames);
    skip_ -= skipped;
    frames -= skipped;
    samples += skipped * frameBytes_;
    if (frames <= 0) return;
    Silence(std::exchange(lead_, 0), out);
    if (cutAt_ >= 0) frames = std::min(frames, cutAt_ - out_);
    if (frames <= 0) return;
    out.insert(out.end(), samples, samples + frames * frameBytes_);
    out_ += frames;
}

void SoundPlacement::Finish(std::vector<std::uint8_t>& out) {
    Silence(std::exchange(lead_, 0), out);
    if (padTo_ > out_) Silence(padTo_ - out_, out);
}

}  // namespace velmora::engine
