// Sound placed on the picture's timeline as it streams: whole frames left
// out or put before it as silence, cut at the picture's end or padded to a
// length, whatever the sizes of the blocks it comes in.

#include <gtest/gtest.h>

#include <vector>

#include "engine/encode/SoundPlacement.h"

namespace velmora::mediatest {
namespace {

using engine::SoundPlacement;
using engine::SoundPlacing;

// Frame i of 16-bit stereo holds i in both channels.
std::vector<std::uint8_t> StereoRamp(std::size_t frames) {
    std::vector<std::uint8_t> d(frames * 4);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            d[4 * i + 2 * c] = static_cast<std::uint8_t>(i);
            d[4 * i + 2 * c + 1] = static_cast<std::uint8_t>(i >> 8);
        }
    return d;
}

// What a placement makes of `sound` pushed in blocks of `block` frames; and
// checks that it is as long as it said beforehand.
std::vector<std::uint8_t> Place(const SoundPlacing& placing, const std::vector<std::uint8_t>& sound,
                                std::int64_t block, int rate = 44100, int frameBytes = 4,
                                std::uint8_t silence = 0) {
    SoundPlacement placement(placing, rate, frameBytes, silence);
    std::vector<std::uint8_t> out;
    const auto frames = static_cast<std::int64_t>(sound.size()) / frameBytes;
    for (std::int64_t at = 0; at < frames; at += block)
        placement.Push(sound.data() + at * frameBytes, std::min(block, frames - at), out);
    placement.Finish(out);
    EXPECT_EQ(static_cast<std::int64_t>(out.size()), placement.PlacedFrames(frames) * frameBytes);
    return out;
}

TEST(SoundPlacement, LeavesOutOrPutsSilenceBeforeWholeFrames) {
    const auto ramp = StereoRamp(4410);  // 100 ms at 44.1 kHz
    for (const std::int64_t block : {1, 100, 441, 4410}) {
        // 10 ms too early: 441 frames go, frame 441 comes first.
        EXPECT_EQ(Place({-10}, ramp, block),
                  std::vector<std::uint8_t>(ramp.begin() + 441 * 4, ramp.end()))
            << block;
        // 10 ms late: 441 silent frames, then all of it.
        auto late = Place({10}, ramp, block);
        ASSERT_EQ(late.size(), (4410u + 441) * 4);
        EXPECT_EQ(std::vector<std::uint8_t>(late.begin(), late.begin() + 441 * 4),
                  std::vector<std::uint8_t>(441 * 4, 0));
        EXPECT_EQ(std::vector<std::uint8_t>(late.begin() + 441 * 4, late.end()), ramp);
    }
    // More left out than recorded: nothing.
    EXPECT_TRUE(Place({-1000}, ramp, 100).empty());
    // A sound that never came still has its lead of silence.
    EXPECT_EQ(Place({10}, {}, 100).size(), 441u * 4);
}

TEST(SoundPlacement, EndsAtTheCutOrIsPaddedToItsLength) {
    const auto ramp = StereoRamp(4410);
    // Cut at 40 ms: 1764 frames, counted from the picture's start.
    EXPECT_EQ(Place({0, 40}, ramp, 1000),
              std::vector<std::uint8_t>(ramp.begin(), ramp.begin() + 1764 * 4));
    EXPECT_EQ(Place({10, 40}, ramp, 1000).size(), 1764u * 4);
    // A cut past its end leaves it as it is.
    EXPECT_EQ(Place({0, 500}, ramp, 1000), ramp);
    // Padded to 250 ms with silence; a cut before that wins.
    auto padded = Place({0, -1, 250}, ramp, 1000);
    ASSERT_EQ(padded.size(), 11025u * 4);
    EXPECT_EQ(std::vector<std::uint8_t>(padded.begin(), padded.begin() + ramp.size()), ramp);
    EXPECT_EQ(padded.back(), 0);
    EXPECT_EQ(Place({0, 200, 250}, ramp, 1000).size(), 8820u * 4);
}

TEST(SoundPlacement, EightBitSilenceIsTheMiddleValue) {
    const std::vector<std::uint8_t> sound(11, 7);                  // 8 kHz mono 8-bit
    const auto late = Place({2, -1, 5}, sound, 3, 8000, 1, 0x80);  // 16 frames late, to 40
    ASSERT_EQ(late.size(), 40u);
    EXPECT_EQ(std::vector<std::uint8_t>(late.begin(), late.begin() + 16),
              std::vector<std::uint8_t>(16, 0x80));
    EXPECT_EQ(late[16], 7);
    EXPECT_EQ(late[26], 7);
    EXPECT_EQ(late[27], 0x80);
    EXPECT_EQ(late.back(), 0x80);
}

}  // namespace
}  // namespace velmora::mediatest
