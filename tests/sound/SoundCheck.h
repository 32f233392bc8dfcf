#pragma once
// What the sound tests read back from a recording with ffprobe and ffmpeg,
// the independent reader.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestEnv.h"

namespace velmora::soundtest {

// ffprobe's entries of stream n: key=value pairs.
inline std::map<std::string, std::string> StreamInfo(const std::string& file, int n) {
    const std::string out = test::capture(
        "ffprobe -v error -select_streams " + std::to_string(n) +
        " -show_entries stream=index,codec_type,codec_name,sample_rate,channels,duration"
        " -of default=nw=1 '" +
        file + "'");
    std::map<std::string, std::string> info;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (const auto eq = line.find('='); eq != std::string::npos)
            info[line.substr(0, eq)] = line.substr(eq + 1);
    return info;
}

inline int StreamCount(const std::string& file) {
    const std::string out = test::capture(
        "ffprobe -v error -show_entries stream=index -of csv=p=0 '" + file + "' | wc -l");
    return std::atoi(out.c_str());
}

// Audio stream n (the first by default) as 16-bit samples, channels kept
// interleaved.
inline std::vector<std::int16_t> Samples(const std::string& file, int stream = 0) {
    const std::string raw = test::capture("ffmpeg -v error -i '" + file +
                                          "' -map 0:a:" + std::to_string(stream) + " -f s16le -");
    std::vector<std::int16_t> s(raw.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

// Frequency of a tone by the zero crossings of one channel, over the span
// between its first and last crossing (silence before or after does not
// count). A crossing counts once the signal passes a quarter of its peak on
// the other side, so the noise of a lossy codec around zero adds none.
inline double ToneHz(const std::vector<std::int16_t>& s, int channels, int rate) {
    const std::size_t frames = s.size() / static_cast<std::size_t>(channels);
    int peak = 0;
    for (std::size_t i = 0; i < frames; ++i) peak = std::max(peak, std::abs(int(s[i * channels])));
    const int threshold = peak / 4;
    std::size_t crossings = 0, first = 0, last = 0;
    int side = 0;  // -1 below -threshold, 1 above it, 0 not yet either
    for (std::size_t i = 0; i < frames; ++i) {
        const int v = s[i * channels];
        const int now = v > threshold ? 1 : v < -threshold ? -1 : side;
        if (side != 0 && now != side) {
            if (crossings++ == 0) first = i;
            last = i;
        }
        side = now;
    }
    if (crossings < 3) return 0.0;
    return (static_cast<double>(crossings - 1) / 2.0) / (static_cast<double>(last - first) / rate);
}

// Amplitude of the tone at hz in channel 0 of stereo samples at rate, in
// each tenth of a second after the first skipSeconds, each measured on its
// own (Goertzel), so that a frame the capture clock added or left out, which
// moves the tone's phase, costs nothing.
inline std::vector<double> ToneLevels(const std::vector<std::int16_t>& s, double hz,
                                      int rate = 44100, double skipSeconds = 0.5) {
    const std::size_t block = static_cast<std::size_t>(rate / 10);
    std::vector<double> levels;
    for (auto at = static_cast<std::size_t>(skipSeconds * rate); at + block <= s.size() / 2;
         at += block) {
        double re = 0, im = 0;
        for (std::size_t i = at; i < at + block; ++i) {
            const double phase = 2 * M_PI * hz * static_cast<double>(i) / rate;
            re += s[2 * i] * std::cos(phase);
            im += s[2 * i] * std::sin(phase);
        }
        levels.push_back(2 * std::hypot(re, im) / static_cast<double>(block));
    }
    return levels;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The tone's amplitude over the samples after skipSeconds (the start may
// ramp): the median of its tenths of a second.
inline double ToneLevel(const std::vector<std::int16_t>& s, double hz, int rate = 44100,
                        double skipSeconds = 0.5) {
    return Median(ToneLevels(s, hz, rate, skipSeconds));
}

inline double Db(double ratio) {
    return 20 * std::log10(ratio);
}

// A source's place in the program's input list: the mixer lists the sound
// server's sources in the server's order. Empty when the server has none
// of that name.
inline std::string InputIndexOf(const std::string& source) {
    std::string index =
        test::capture("pactl list short sources | awk '$2 == \"" + source + "\" { print NR - 1 }'");
    while (!index.empty() && index.back() == '\n') index.pop_back();
    return index;
}

// A module of the test sound server ("module-sine sink=speakers
// frequency=1000"), loaded while the object lives or until Unload.
class PulseModule {
  public:
    explicit PulseModule(const std::string& moduleAndArguments) {
        index_ = test::capture("pactl load-module " + moduleAndArguments);
        while (!index_.empty() && index_.back() == '\n') index_.pop_back();
    }
    ~PulseModule() { Unload(); }
    PulseModule(const PulseModule&) = delete;
    PulseModule& operator=(const PulseModule&) = delete;
    bool Loaded() const { return !index_.empty(); }
    // True when it was loaded and is gone now.
    bool Unload() {
        if (index_.empty()) return false;
        const bool gone = test::run("pactl unload-module " + index_) == 0;
        index_.clear();
        return gone;
    }

  private:
    std::string index_;
};

}  // namespace velmora::soundtest
