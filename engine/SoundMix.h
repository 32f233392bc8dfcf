#pragma once
// Two sound inputs in one track: their samples summed, and the sum held under
// full scale by a limiter that looks ahead, so that a loud stretch is turned
// down smoothly as a whole instead of clipped or wrapped around. Below the
// limiter's ceiling the sum passes unchanged: each input keeps the level it
// has alone.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "engine/encode/SoundPlacement.h"

namespace velmora::engine {

// A look-ahead peak limiter on interleaved frames, samples as fractions of
// full scale (1.0). The gain of each frame is at most what brings every
// sample within the look-ahead under the ceiling; it falls over the
// look-ahead before a peak (no step, so no click) and comes back up slowly
// after it. Frames come out kLookAheadMs later than they go in.
class SoundLimiter {
  public:
    // The highest a sample comes out: -0.5 dB of full scale.
    static constexpr double kCeiling = 0.944;
    static constexpr double kLookAheadMs = 5.0;
    static constexpr double kReleaseMs = 150.0;

    SoundLimiter(unsigned channels, std::uint32_t samplesPerSecond);

    // Takes whole frames; appends to out the frames that are done.
    void Push(const float* samples, std::size_t frames, std::vector<float>& out);
    // No more frames: appends the rest.
    void Finish(std::vector<float>& out);

  private:
    void Take(const float* frame, bool real, std::vector<float>& out);

    const unsigned channels_;
    const std::size_t half_;  // frames each side of a frame its gain looks at
    const double release_;    // the share of the way back to 1 the gain goes each frame

    std::int64_t taken_ = 0;     // frames in so far, counting the lead-in
    std::deque<float> pending_;  // samples of the frames not yet out
    std::deque<bool> real_;      // whether each of those is one of the caller's
    std::deque<std::pair<std::int64_t, double>> least_;  // the falling minimum of the needs
    std::deque<double> minima_;                          // the window's minima, for their mean
    double minimaSum_ = 0;
    double gain_ = 1.0;
};

// Mixes two PCM RIFF WAVE files of one format (8 or 16 bits, as the inputs
// are recorded), each placed on the picture's timeline by its placing, into
// a new file `mixed` of that format (created, never over an existing file):
// sample by sample, through the limiter. The shorter is silence after its
// end. The inputs are only read. False with a reason (formats that differ,
// a file that cannot be read or written).
bool MixWaveFiles(const std::string& first, const SoundPlacing& firstPlacing,
                  const std::string& second, const SoundPlacing& secondPlacing,
                  const std::string& mixed, std::string& error);

}  // namespace velmora::engine
