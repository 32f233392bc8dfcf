#pragma once
// Puts one input's sound on the picture's timeline as it streams through to
// the encoder: what was taken before the picture's first frame is left out,
// a sound that began after it gets silence before it, and it ends where the
// picture ends (cut, or padded with silence). The recorded file itself is
// never changed.

#include <cstdint>
#include <vector>

namespace velmora::engine {

// In milliseconds of the picture's timeline.
struct SoundPlacing {
    std::int64_t startMs = 0;  // silence before the first sample; negative: that much left out
    std::int64_t cutAtMs = -1;  // nothing after this; negative: no cut
    std::int64_t padToMs = -1;  // silence after the last sample up to this; negative: none
};

class SoundPlacement {
  public:
    // frameBytes: one sample frame; silence: its bytes' value (0x80 for
    // 8-bit sound, 0 otherwise).
    SoundPlacement(const SoundPlacing& placing, int samplesPerSecond, int frameBytes,
                   std::uint8_t silence);

    // Appends to out what whole frames of samples become.
    void Push(const std::uint8_t* samples, std::int64_t frames, std::vector<std::uint8_t>& out);
    // No more samples: appends what is still due (the leading silence of a
    // sound that never came, the silence up to the padding's end).
    void Finish(std::vector<std::uint8_t>& out);

    // The frames Push and Finish give in all for a sound of `frames`.
    std::int64_t PlacedFrames(std::int64_t frames) const;

    // The frames of ms milliseconds at this rate (rounded).
    static std::int64_t FramesOf(std::int64_t ms, int samplesPerSecond);

  private:
    void Silence(std::int64_t frames, std::vector<std::uint8_t>& out);

    const int frameBytes_;
    const std::uint8_t silence_;
    const std::int64_t startSkip_, startLead_;  // as placed, for PlacedFrames
    std::int64_t skip_;   // frames still to leave out
    std::int64_t lead_;   // frames of silence still due before the first sample
    const std::int64_t cutAt_, padTo_;  // frames, negative: none
    std::int64_t out_ = 0;  // frames given so far
};

}  // namespace velmora::engine
