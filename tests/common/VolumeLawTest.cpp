// The volume sliders' scale against the sound server's own reading of a
// percent (what pactl and the desktop's volume controls show).

#include <gtest/gtest.h>
#include <pulse/volume.h>

#include <cmath>

#include "common/VolumeLaw.h"

using namespace velmora;

namespace {

pa_volume_t ServerVolume(int percent) {
    return static_cast<pa_volume_t>(std::lround(percent * double(PA_VOLUME_NORM) / 100));
}

// (The server's volume has steps of 1/65536 of 100 %, so its percent is a
// hair off ours: at most 0.015 dB, at 1 %.)
TEST(VolumeLaw, APercentMeansWhatTheSoundServersPercentMeans) {
    for (int percent = 0; percent <= 100; ++percent) {
        EXPECT_NEAR(VolumeFactor(percent), pa_sw_volume_to_linear(ServerVolume(percent)), 1e-4)
            << percent;
        if (percent > 0) {
            EXPECT_NEAR(VolumeDecibels(percent), pa_sw_volume_to_dB(ServerVolume(percent)), 0.02)
                << percent;
        }
    }
    EXPECT_NEAR(VolumeDecibels(50), -18.06, 0.005);
    EXPECT_EQ(VolumeDecibels(100), 0.0);
    EXPECT_TRUE(std::isinf(VolumeDecibels(0)) && VolumeDecibels(0) < 0);
    // Outside the slider's range: its ends.
    EXPECT_EQ(VolumeFactor(150), 1.0);
    EXPECT_EQ(VolumeFactor(-5), 0.0);
}

// A volume of the older, linear scale becomes the whole percent nearest to
// its level, the ends staying ends.
TEST(VolumeLaw, AnOlderLinearVolumeKeepsItsLevel) {
    EXPECT_EQ(VolumeFromLinearPercent(50), 79);
    EXPECT_EQ(VolumeFromLinearPercent(0), 0);
    EXPECT_EQ(VolumeFromLinearPercent(100), 100);
    EXPECT_EQ(VolumeFromLinearPercent(400), 100);
    EXPECT_EQ(VolumeFromLinearPercent(-1), 0);
    for (int linear = 1; linear <= 100; ++linear) {
        const int percent = VolumeFromLinearPercent(linear);
        const double wanted = linear / 100.0;
        EXPECT_LE(std::abs(VolumeFactor(percent) - wanted),
                  std::min(std::abs(VolumeFactor(percent - 1) - wanted),
                           std::abs(VolumeFactor(percent + 1) - wanted)))
            << linear;
        // Within a quarter of a decibel from 10 % up.
        if (linear >= 10) {
            EXPECT_NEAR(VolumeDecibels(percent), 20 * std::log10(wanted), 0.25) << linear;
        }
    }
}

}  // namespace
