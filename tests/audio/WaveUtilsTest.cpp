#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <cstring>

#include "audio/WaveUtils.h"
#include "common/VolumeLaw.h"

using namespace velmora::audio;

namespace {

WAVEFORMATEX filled(unsigned value) {
    WAVEFORMATEX r;
    std::memset(&r, 0xAB, sizeof r);
    FillPCMFormat(r, value);
    return r;
}

}  // namespace

TEST(WaveUtils, CatalogueRowsFollowRateDepthChannelOrder) {
    const std::uint32_t rates[] = {8000, 11025, 22050, 44100, 48000};
    for (unsigned v = 1; v <= 20; ++v) {
        const unsigned i = v - 1;
        const std::uint16_t channels = 1 + i % 2, bits = (i / 2) % 2 ? 16 : 8;
        const WAVEFORMATEX r = filled(v);
        SCOPED_TRACE(v);
        EXPECT_EQ(r.wFormatTag, 1);
        EXPECT_EQ(r.nChannels, channels);
        EXPECT_EQ(r.nSamplesPerSec, rates[i / 4]);
        EXPECT_EQ(r.wBitsPerSample, bits);
        EXPECT_EQ(r.nBlockAlign, channels * bits / 8);
        EXPECT_EQ(r.nAvgBytesPerSec, r.nBlockAlign * rates[i / 4]);
        EXPECT_EQ(r.cbSize, 0);
    }
}

TEST(WaveUtils, EnumeratorNamesAreExact) {
    EXPECT_EQ(PCMFormatName(nonePCM), "nonePCM");
    EXPECT_EQ(PCMFormatName(Mono8Bit8000Hz), "Mono8Bit8000Hz");
    EXPECT_EQ(PCMFormatName(Stereo8bit8000Hz), "Stereo8bit8000Hz");
    EXPECT_EQ(PCMFormatName(Mono16bit8000Hz), "Mono16bit8000Hz");
    EXPECT_EQ(PCMFormatName(Stereo16bit44100Hz), "Stereo16bit44100Hz");
    EXPECT_EQ(PCMFormatName(Stereo16bit48000Hz), "Stereo16bit48000Hz");
    EXPECT_EQ(int(Stereo16bit48000Hz), 20);
}

TEST(WaveUtils, FillOutsideCatalogueLeavesRecordAndMasksHighBit) {
    WAVEFORMATEX untouched;
    std::memset(&untouched, 0xAB, sizeof untouched);
    for (unsigned v : {0u, 21u, 128u}) {
        const WAVEFORMATEX r = filled(v);
        EXPECT_EQ(std::memcmp(&r, &untouched, sizeof r), 0) << v;
    }
    const WAVEFORMATEX a = filled(131), b = filled(3);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(WaveUtils, DescriptionsOfTheCatalogue) {
    QLocale::setDefault(QLocale::c());
    const char* expected[] = {
        "PCM: 8.000 kHz, 8 Bit, Mono",   "PCM: 8.000 kHz, 8 Bit, Stereo",
        "PCM: 8.000 kHz, 16 Bit, Mono",  "PCM: 8.000 kHz, 16 Bit, Stereo",
        "PCM: 11.025 kHz, 8 Bit, Mono",  "PCM: 11.025 kHz, 8 Bit, Stereo",
        "PCM: 11.025 kHz, 16 Bit, Mono", "PCM: 11.025 kHz, 16 Bit, Stereo",
        "PCM: 22.050 kHz, 8 Bit, Mono",  "PCM: 22.050 kHz, 8 Bit, Stereo",
        "PCM: 22.050 kHz, 16 Bit, Mono", "PCM: 22.050 kHz, 16 Bit, Stereo",
        "PCM: 44.100 kHz, 8 Bit, Mono",  "PCM: 44.100 kHz, 8 Bit, Stereo",
        "PCM: 44.100 kHz, 16 Bit, Mono", "PCM: 44.100 kHz, 16 Bit, Stereo",
        "PCM: 48.000 kHz, 8 Bit, Mono",  "PCM: 48.000 kHz, 8 Bit, Stereo",
        "PCM: 48.000 kHz, 16 Bit, Mono", "PCM: 48.000 kHz, 16 Bit, Stereo",
    };
    for (unsigned v = 1; v <= 20; ++v) EXPECT_EQ(DescribeWaveFormat(filled(v)), expected[v - 1]);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(DescribeWaveFormat(filled(5)), "PCM: 11,025 kHz, 8 Bit, Mono");
    QLocale::setDefault(QLocale::c());
}

TEST(WaveUtils, DescriptionsOfForeignRecords) {
    QLocale::setDefault(QLocale::c());
    WAVEFORMATEX mp3{85, 2, 44100, 16000, 1, 0, 12};
    EXPECT_EQ(DescribeWaveFormat(mp3), "MPEG Layer-3: 44.100 kHz, Stereo");
    WAVEFORMATEX ext{0xFFFE, 6, 48000, 576000, 12, 16, 22};
    EXPECT_EQ(DescribeWaveFormat(ext), "48.000 kHz, 16 Bit, 6 Ch");
    WAVEFORMATEX noBits{1, 5, 8000, 0, 0, 0, 0};
    EXPECT_EQ(DescribeWaveFormat(noBits), "PCM: 8.000 kHz, 5 Ch");
    EXPECT_EQ(WaveFormatTagName(17), "IMA ADPCM");
    EXPECT_EQ(WaveFormatTagName(9), "");
}

TEST(WaveUtils, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(10, 11025, 1000), 110);  // 110.25
    EXPECT_EQ(MulDiv(1, 3, 2), 2);            // 1.5
    EXPECT_EQ(MulDiv(-1, 3, 2), -2);
    EXPECT_EQ(MulDiv(1, 5, 4), 1);                     // 1.25
    EXPECT_EQ(MulDiv(0x40000000, 8, 16), 0x20000000);  // needs 64 bits inside
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(WaveUtils, BufferArithmeticKeepsWholeFrames) {
    for (unsigned v = 1; v <= 20; ++v)
        EXPECT_EQ(BufferSizeForDuration(filled(v), 1000), filled(v).nAvgBytesPerSec) << v;
    EXPECT_EQ(BufferSizeForDuration(filled(5), 1000), 11025u);
    EXPECT_EQ(BufferSizeForDuration(filled(8), 10), 444u);  // 441 up to a multiple of 4
    EXPECT_EQ(BufferSizeForDuration(filled(5), 10), 110u);
    EXPECT_EQ(BytesForDuration(filled(8), 10), 440u);  // 441 down
    EXPECT_EQ(DurationForBytes(filled(3), 16000), 1000u);
    // Past 2 GiB (about 3.4 hours of CD sound) and rounding of halves.
    EXPECT_EQ(DurationForBytes(filled(16), 3'000'000'000u), 17'006'803u);
    EXPECT_EQ(DurationForBytes(filled(20), UINT32_MAX), 22'369'621u);
    EXPECT_EQ(DurationForBytes(filled(1), 4), 1u);  // 0.5 ms up, as MulDiv does
    WAVEFORMATEX zero{};
    EXPECT_EQ(BufferSizeForDuration(zero, 1000), 0u);
    EXPECT_EQ(DurationForBytes(zero, 1000), 0u);
}

TEST(WaveUtils, PeakLevels) {
    const std::uint8_t eight[] = {128, 255, 10, 200};
    EXPECT_EQ(GetWaveAudioPeakLevel(eight, 4, 8), 100);  // 255 -> 127
    const std::int16_t sixteen[] = {-32768, 16384, 100};
    EXPECT_EQ(GetWaveAudioPeakLevel(sixteen, sizeof sixteen, 16), 50);
    EXPECT_EQ(GetWaveAudioPeakLevel(sixteen, sizeof sixteen, 24), -1);
    EXPECT_EQ(GetWaveAudioPeakLevel(sixteen, 0, 16), 0);
}

TEST(WaveUtils, ScalingFollowsTheCubeOfThePercentBothSidesOfZero) {
    std::int16_t sixteen[] = {16000, -16000, 32767, -32768, 3, -3};
    ScaleWaveAudio(sixteen, sizeof sixteen, 16, 50);  // an eighth
    EXPECT_EQ(std::vector<std::int16_t>(std::begin(sixteen), std::end(sixteen)),
              (std::vector<std::int16_t>{2000, -2000, 4096, -4096, 0, 0}));
    std::uint8_t eight[] = {208, 48, 128, 255, 0};  // around 128
    ScaleWaveAudio(eight, sizeof eight, 8, 50);
    EXPECT_EQ(std::vector<std::uint8_t>(std::begin(eight), std::end(eight)),
              (std::vector<std::uint8_t>{138, 118, 128, 144, 112}));
    std::int16_t kept[] = {1234, -1234};
    ScaleWaveAudio(kept, sizeof kept, 16, 100);
    ScaleWaveAudio(kept, sizeof kept, 24, 10);  // a size it does not know
    EXPECT_EQ(kept[0], 1234);
    EXPECT_EQ(kept[1], -1234);
    ScaleWaveAudio(kept, sizeof kept, 16, 0);
    EXPECT_EQ(kept[0], 0);
    EXPECT_EQ(kept[1], 0);
}

// Every volume of the sliders scales by the level their dB figure shows:
// 50 % is -18.06 dB.
TEST(WaveUtils, ScalingIsTheLevelTheSlidersShow) {
    for (int percent = 1; percent < 100; ++percent) {
        std::int16_t sample[] = {32000};
        ScaleWaveAudio(sample, sizeof sample, 16, percent);
        EXPECT_NEAR(sample[0], 32000 * std::pow(10, velmora::VolumeDecibels(percent) / 20), 1.0)
            << percent;
    }
    std::int16_t half[] = {32000};
    ScaleWaveAudio(half, sizeof half, 16, 50);
    EXPECT_NEAR(20 * std::log10(half[0] / 32000.0), -18.06, 0.01);
}
