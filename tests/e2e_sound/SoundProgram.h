#pragma once
// The whole program set up to record the test sound server's microphone:
// its line number in Setup.ini and the recordings it leaves.

#include <fstream>
#include <regex>

#include "tests/e2e/ProgramHarness.h"

namespace velmora::e2e {

inline std::vector<fs::path> Recordings(const fs::path& folder) {
    std::vector<fs::path> found;
    static const std::regex name(R"(VideoRecord_\d{8}_\d{6}(_\d+)?\.avi)");
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            if (std::regex_match(entry.path().filename().string(), name))
                found.push_back(entry.path());
    return found;
}

// Empty when the microphone is silent or missing; else the settings of a
// recording in stereo 16-bit 44.1 kHz (catalogue entry 15) from it.
inline std::string MicrophoneSettings() {
    const bool sounding = WaitFor([] {
        return capture(
                   "timeout 1 parec --latency-msec=20 -d fakemic --raw 2>/dev/null | "
                   "head -c 4410 | wc -c") == "4410\n";
    });
    if (!sounding) return {};
    // The mixer lists the sound server's sources in its order.
    std::string input = capture(
        "pactl list short sources | awk '$2 == \"fakemic\" "
        "{ print NR - 1 }'");
    if (input.empty()) return {};
    return "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" + input;
}

}  // namespace velmora::e2e
