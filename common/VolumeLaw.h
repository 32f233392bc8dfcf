#pragma once
// The volume sliders' scale: a percent as the desktop's own volume controls
// read it (PulseAudio's software volume). The amplitude goes with the cube
// of the fraction, so 50 % is about -18 dB and 100 % leaves the sound as the
// input gives it.

namespace velmora {

// The factor on the samples' amplitude at percent (0..100; outside, the
// nearer end): 0 at 0 %, 1 at 100 %.
double VolumeFactor(int percent);

// The same as a level change in decibels: 0 at 100 %, -inf at 0 %.
double VolumeDecibels(int percent);

// The whole percent on this scale nearest to the one whose factor is
// linearPercent / 100: a volume of the older scale, on which 50 % halved the
// amplitude, at the same level (50 becomes 79).
int VolumeFromLinearPercent(int linearPercent);

}  // namespace velmora
