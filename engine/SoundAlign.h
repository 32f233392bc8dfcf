#pragma once
// Checks the sound file and lines it up with the picture before the merge. The recorder
// starts before the capture loop and the sound server hands samples over
// some time after they were taken, so the WAV rarely begins at the video's
// first frame.

#include <cstdint>
#include <string>

namespace velmora::engine {

// Moves the start of a RIFF WAVE file's sound by shiftMs: a positive shift
// puts that much silence before the first sample (the sound began after the
// picture), a negative one drops that much from the start (it began before).
// Whole sample frames only; the file is rewritten in place. False with a
// reason when the file is no WAVE file whose data chunk comes last.
// Why the merge cannot take a RIFF WAVE file (a header value it relies on
// is impossible: "0 channels", "block align 3 for 2 channels of 16 bits"),
// or empty when the header is sound.
std::string WaveFormatFault(const std::string& fileName);

bool ShiftWaveStart(const std::string& fileName, std::int64_t shiftMs, std::string& error);

// Keeps at most lengthMs of a RIFF WAVE file's sound (whole sample frames),
// cutting the rest from its end in place; the same failures as above.
bool CutWaveEnd(const std::string& fileName, std::int64_t lengthMs, std::string& error);

// Puts silence after the last sample of a PCM RIFF WAVE file until its sound
// lasts lengthMs (whole sample frames), in place; a longer sound stays as it
// is. The same failures as above.
bool ExtendWaveEnd(const std::string& fileName, std::int64_t lengthMs, std::string& error);

// A RIFF WAVE file's format and where its sound lies, as the functions above
// read it (a data size the writer left unfinished is the file's rest).
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

}  // namespace velmora::engine
