// ReadSettings on a fuzzed Setup.ini: every value it hands out is in the
// range a recording can use, and what WriteSettings stores reads back the same.

#include "common/Settings.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;

namespace {

bool SameStored(const TSettings& a, const TSettings& b) {
    return a.Language == b.Language && a.WorkDir == b.WorkDir && a.TypeCapture == b.TypeCapture &&
           a.CaptureCursor == b.CaptureCursor && a.VideoFPS == b.VideoFPS &&
           a.KeyFramesFreq == b.KeyFramesFreq && a.CodecIndex == b.CodecIndex &&
           a.VideoQuality == b.VideoQuality && a.RegionLeftPos == b.RegionLeftPos &&
           a.RegionTopPos == b.RegionTopPos && a.RegionWidthPos == b.RegionWidthPos &&
           a.RegionHeightPos == b.RegionHeightPos && a.MinimizeCapture == b.MinimizeCapture &&
           a.RestoreAfterRecord == b.RestoreAfterRecord && a.SendStats == b.SendStats &&
           a.AudioRecordEnable == b.AudioRecordEnable && a.AudioFormatIndex == b.AudioFormatIndex &&
           a.AudioInputIndex == b.AudioInputIndex && a.AudioInputGain == b.AudioInputGain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = fuzz::WriteScratchFile("Setup.ini", data, size);
    const TSettings s = ReadSettings(file, "/program/");
    FUZZ_CHECK(s.VideoFPS >= 1 && s.VideoFPS <= 60);
    FUZZ_CHECK(s.KeyFramesFreq >= 1 && s.KeyFramesFreq <= 50);
    FUZZ_CHECK(s.VideoQuality >= 0 && s.VideoQuality <= 100);
    FUZZ_CHECK(s.AudioInputGain >= 0 && s.AudioInputGain <= 100);
    FUZZ_CHECK(s.RegionWidthPos >= 1 && s.RegionHeightPos >= 1);

    FUZZ_CHECK(WriteSettings(s, file));
    FUZZ_CHECK(SameStored(ReadSettings(file, "/elsewhere/"), s));
    return 0;
}
