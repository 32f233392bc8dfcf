#pragma once
// The whole program set up to record the test sound server's microphone:
// its line number in Setup.ini and the recordings it leaves.

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/SoundCheck.h"

namespace velmora::e2e {

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

// Seconds of stereo 16-bit sound at `rate` a recorder has stored so far in
// the WAV it writes (after its 46-byte header); it adds a tenth of a second
// at a time.
inline double StoredSoundSeconds(const fs::path& wav, int rate = 44100) {
    const std::uintmax_t size = SizeOf(wav);
    return size > 46 ? static_cast<double>(size - 46) / (4.0 * rate) : 0.0;
}

// Waits until the recorder has stored `seconds` of sound in wav.
inline bool WaitForSound(const fs::path& wav, double seconds, int rate = 44100) {
    return WaitFor([&] { return StoredSoundSeconds(wav, rate) >= seconds; });
}

// Seconds of stereo 16-bit sound at `rate` stored in wav from its first
// sample louder than `level` on: a stream new on a sink's monitor may begin
// with silence.
inline double SoundingSeconds(const fs::path& wav, int rate = 44100, int level = 1000) {
    const std::string bytes = Slurp(wav);
    for (std::size_t at = 46; at + 2 <= bytes.size(); at += 2) {
        const auto sample = static_cast<std::int16_t>(
            static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
        if (std::abs(int(sample)) > level)
            return static_cast<double>(bytes.size() - at) / (4.0 * rate);
    }
    return 0.0;
}

// A program folder whose settings record the microphone, and an output
// folder beside it.
class SoundProgramTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(test::pulseServer().empty()) << "needs the audio fixture";
        const std::string settings = MicrophoneSettings();
        ASSERT_FALSE(settings.empty()) << "fakemic is silent";
        out_ = root_ / "out";
        fs::create_directory(out_);
        std::ofstream(folder_ / "Setup.ini") << settings;
    }
    std::string OutArg() const { return "path=" + out_.string() + "/"; }
    fs::path out_;
};

// A recording of about `seconds` with the tone beside the picture (within
// soundTolerance seconds of it), which ffmpeg decodes without an error.
inline void ExpectRecordingWithSound(const std::string& file, double seconds,
                                     double soundTolerance) {
    ASSERT_EQ(soundtest::StreamCount(file), 2);
    const double videoSeconds = std::stod(soundtest::StreamInfo(file, 0).at("duration"));
    const double soundSeconds = static_cast<double>(soundtest::Samples(file).size()) / 2 / 44100;
    EXPECT_NEAR(videoSeconds, seconds, 1.0);
    EXPECT_NEAR(soundSeconds, videoSeconds, soundTolerance);
    EXPECT_EQ(capture("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
}

}  // namespace velmora::e2e
