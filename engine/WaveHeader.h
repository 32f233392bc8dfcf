#pragma once
// What a recorded RIFF WAVE file holds, read from its header: whether the
// merge can trust it, its format and where its sound lies; and where its
// sound lies on the picture's timeline, for a recording kept to be saved
// later.

#include <cstdint>
#include <string>

#include "engine/encode/SoundPlacement.h"

namespace velmora::engine {

// Why the merge cannot take a RIFF WAVE file (a header value it relies on
// is impossible: "0 channels", "block align 3 for 2 channels of 16 bits"),
// or empty when the header is sound.
std::string WaveFormatFault(const std::string& fileName);

// A RIFF WAVE file's format and where its sound lies (a data size the
// writer left unfinished is the file's rest).
struct WaveData {
    std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    std::uint32_t samplesPerSec = 0;
    std::int64_t offset = 0, size = 0;  // the sound's bytes in the file
    // Milliseconds of sound, whole frames.
    std::int64_t LengthMs() const {
        return blockAlign && samplesPerSec ? size / blockAlign * 1000 / samplesPerSec : 0;
    }
};
bool ReadWaveData(const std::string& fileName, WaveData& data, std::string& error);

// A finished file kept when its recording could not be saved carries its
// placing in a chunk of its own after the sound (players skip it), so that
// the save at the next start lines it up as this one would have: only that
// chunk and the RIFF size are written, never the sound. False for a file
// whose writer did not finish it, or that has chunks after its sound.
bool WriteWavePlacing(const std::string& fileName, const SoundPlacing& placing);
// The placing such a file carries; as recorded ({}) when it has none.
SoundPlacing ReadWavePlacing(const std::string& fileName);

}  // namespace velmora::engine
