// Two inputs in one track: the limiter's sum never reaches full scale nor
// wraps around, and leaves a sum under its ceiling as it is; the mix of two
// WAV files holds both to the longer one's end.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "engine/WaveHeader.h"
#include "engine/SoundMix.h"
#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

constexpr std::uint32_t kRate = 44100;

// A 16-bit PCM WAV of these interleaved samples.
void WriteWave(const std::string& path, const std::vector<std::int16_t>& samples,
               std::uint16_t channels, std::uint32_t rate = kRate) {
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(static_cast<std::uint16_t>(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::vector<std::int16_t> ReadWave(const std::string& path) {
    WaveData data;
    std::string error;
    EXPECT_TRUE(ReadWaveData(path, data, error)) << error;
    std::ifstream in(path, std::ios::binary);
    in.seekg(data.offset);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(data.size / 2));
    in.read(reinterpret_cast<char*>(samples.data()), data.size);
    return samples;
}

// A stereo sine of `seconds` at `amplitude` (32767: full scale).
std::vector<std::int16_t> Sine(double hz, double amplitude, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    std::vector<std::int16_t> s(frames * 2);
    for (std::size_t i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] =
            static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / kRate)));
    return s;
}

class SoundMixTest : public ::testing::Test {
  protected:
    std::string Path(const char* name) const { return folder.path() + name; }
    std::vector<std::int16_t> Mix(const std::vector<std::int16_t>& a,
                                  const std::vector<std::int16_t>& b) {
        WriteWave(Path("a.wav"), a, 2);
        WriteWave(Path("b.wav"), b, 2);
        std::string error;
        std::remove(Path("mix.wav").c_str());
        EXPECT_TRUE(MixWaveFiles(Path("a.wav"), {}, Path("b.wav"), {}, Path("mix.wav"), error))
            << error;
        return ReadWave(Path("mix.wav"));
    }
    TempFolder folder;
};

// Full-scale sines on both inputs: twice full scale summed. The limiter turns
// the whole down by one steady gain: no sample at full scale, none of the
// wrong sign, and the sum's shape kept (no audible distortion).
TEST_F(SoundMixTest, FullScaleOnBothInputsIsTurnedDownNotClippedOrWrapped) {
    for (double second : {440.0, 1000.0}) {
        const auto a = Sine(440, 32767, 1.0), b = Sine(second, 32767, 1.0);
        const auto mix = Mix(a, b);
        ASSERT_EQ(mix.size(), a.size());
        int peak = 0;
        for (std::size_t i = 0; i < mix.size(); ++i) {
            peak = std::max(peak, std::abs(int(mix[i])));
            const int sum = a[i] + b[i];
            if (std::abs(sum) > 3000) {
                ASSERT_EQ(sum > 0, mix[i] > 0) << "wrapped at " << i;
            }
        }
        EXPECT_LT(peak, 32767) << second;
        EXPECT_GT(peak, 30000) << "turned down more than the ceiling asks";
        if (second != 440.0) continue;
        // The same tone, one gain throughout: what differs from the scaled
        // sum is far below hearing next to the tone.
        const std::size_t from = kRate / 10 * 2;
        double num = 0, den = 0;
        for (std::size_t i = from; i < mix.size(); ++i) {
            num += double(mix[i]) * (a[i] + b[i]);
            den += double(a[i] + b[i]) * (a[i] + b[i]);
        }
        const double gain = num / den;
        double error = 0, signal = 0;
        for (std::size_t i = from; i < mix.size(); ++i) {
            const double want = gain * (a[i] + b[i]);
            error += (mix[i] - want) * (mix[i] - want);
            signal += want * want;
        }
        EXPECT_LT(10 * std::log10(error / signal), -50.0) << "distortion";
    }
}

// Quiet inputs pass as their plain sum: each keeps the level it has alone.
// The shorter input is silence after its end; the mix lasts as the longer.
TEST_F(SoundMixTest, SumUnderTheCeilingIsExactAndTheShorterInputEndsInSilence) {
    const auto a = Sine(440, 8000, 1.0), b = Sine(1000, 6000, 0.5);
    const auto mix = Mix(a, b);
    ASSERT_EQ(mix.size(), a.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const int want = a[i] + (i < b.size() ? b[i] : 0);
        ASSERT_NEAR(mix[i], want, 1) << i;
    }
    // Either way round.
    const auto swapped = Mix(b, a);
    ASSERT_EQ(swapped.size(), a.size());
    EXPECT_NEAR(swapped.back(), a.back(), 1);
}

TEST_F(SoundMixTest, InputsOfDifferentFormatsAreNotMixed) {
    WriteWave(Path("a.wav"), Sine(440, 8000, 0.1), 2);
    WriteWave(Path("mono.wav"), std::vector<std::int16_t>(4410, 100), 1);
    std::string error;
    EXPECT_FALSE(MixWaveFiles(Path("a.wav"), {}, Path("mono.wav"), {}, Path("mix.wav"), error));
    EXPECT_EQ(error, "the two inputs were recorded in different formats");
    EXPECT_FALSE(MixWaveFiles(Path("a.wav"), {}, Path("none.wav"), {}, Path("mix2.wav"), error));
}

// Each input placed on the picture's timeline as the merge reads it, the
// recorded files left as they are: a late one after silence, an early one
// without its lead, both to the common length (a stopped input's stretch is
// silence).
TEST_F(SoundMixTest, InputsArePlacedOnThePicturesTimelineAndLeftAsRecorded) {
    std::vector<std::int16_t> late(2 * 4410, 1000), early(2 * 4410);
    for (std::size_t i = 0; i < early.size(); ++i) early[i] = static_cast<std::int16_t>(i / 2);
    WriteWave(Path("a.wav"), late, 2);
    WriteWave(Path("b.wav"), early, 2);
    std::string error;
    // 10 ms late, 10 ms early (441 frames each), both to 250 ms.
    ASSERT_TRUE(MixWaveFiles(Path("a.wav"), {10, 250, 250}, Path("b.wav"), {-10, 250, 250},
                             Path("mix.wav"), error))
        << error;
    const auto mixed = ReadWave(Path("mix.wav"));
    ASSERT_EQ(mixed.size(), 2u * kRate / 4);
    EXPECT_EQ(mixed[0], 441);                   // b's frame 441, a's silence
    EXPECT_EQ(mixed[2 * 440], 441 + 440);       // still before a
    EXPECT_EQ(mixed[2 * 441], 1000 + 441 + 441);  // a's first sample
    EXPECT_EQ(mixed[2 * (4410 - 441)], 1000);   // b has ended
    EXPECT_EQ(mixed[2 * 4850], 1000);           // a's last sample
    EXPECT_EQ(mixed[2 * 4851], 0);              // then silence to the end
    EXPECT_EQ(mixed.back(), 0);
    EXPECT_EQ(ReadWave(Path("a.wav")), late);
    EXPECT_EQ(ReadWave(Path("b.wav")), early);
    // The mix is a new file, never one planted under its name.
    EXPECT_FALSE(MixWaveFiles(Path("a.wav"), {}, Path("b.wav"), {}, Path("mix.wav"), error));
}

}  // namespace
}  // namespace velmora::enginetest
