#include "shell/EngineSettings.h"

#include <algorithm>
#include <cctype>

namespace velmora {
namespace {
constexpr int kSmallestArea = 16;
constexpr int kLastAudioFormat = 19;  // the catalogue's twenty formats, stored minus one

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

int PositionOf(const std::vector<std::string>& names, const std::string& wanted) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (SameNameIgnoringCase(names[i], wanted)) return static_cast<int>(i);
    return -1;
}
}  // namespace

EngineSettings ToEngineSettings(const TSettings& s) {
    EngineSettings e;
    e.CompressorIndex = RunCompressorIndex(s);
    e.FileFormat = RunFileFormat(s);
    e.SoundCompression = RunSoundCodec(s);
    // Options set at run time pass here unchecked too; the product must not overflow.
    e.Quality = std::clamp(s.VideoQuality, 0, 100) * 100;
    e.ThreadPriority = s.PriorityIndex;
    e.CaptureCursor = s.CaptureCursor;
    e.RestoreAfterRecord = s.RestoreAfterRecord;
    e.MinimizeOnRecord = s.MinimizeCapture;
    e.KeyFrameEvery = std::clamp(s.KeyFramesFreq, 1, 300);
    const int fps = std::clamp(s.VideoFPS, 1, 60);
    e.FrameInterval = 1000 / fps;
    e.FramesPerSecond = fps;
    if (s.RunTimeLimit) {
        // The command line's, for its recording only: 0 is none.
        const int seconds = *s.RunTimeLimit;
        if (seconds > 0)
            e.TimeLimit = EngineTimeLimit{static_cast<std::uint8_t>((seconds / 3600) & 0xff),
                                          static_cast<std::uint8_t>(seconds / 60 % 60),
                                          static_cast<std::uint8_t>(seconds % 60)};
    } else if (s.RecordTimeEnabled) {
        e.TimeLimit = EngineTimeLimit{static_cast<std::uint8_t>(s.RecordHours & 0xff),
                                      static_cast<std::uint8_t>(s.RecordMinutes & 0xff),
                                      static_cast<std::uint8_t>(s.RecordSeconds & 0xff)};
    }
    e.CaptureLeft = s.RegionLeftPos;
    e.CaptureTop = s.RegionTopPos;
    e.CaptureWidth = s.RegionWidthPos < 1 ? kSmallestArea : s.RegionWidthPos;
    e.CaptureHeight = s.RegionHeightPos < 1 ? kSmallestArea : s.RegionHeightPos;
    if (s.TypeCapture == 0) e.CaptureMode = engine::CaptureMode::FixedArea;
    if (s.TypeCapture == 1) e.CaptureMode = engine::CaptureMode::FullScreen;
    if (s.TypeCapture == 2) e.CaptureMode = engine::CaptureMode::Window;
    e.CaptureWindow = s.CaptureWindow;
    e.Monitor = s.FullScreenMonitor;
    // The command line's monitor this run, whatever mode is stored.
    if (s.RunMonitor) {
        e.CaptureMode = engine::CaptureMode::FullScreen;
        e.Monitor = *s.RunMonitor;
    }
    // The command line's window this run, whatever mode is stored.
    if (s.RunWindowId) {
        e.CaptureMode = engine::CaptureMode::Window;
        e.CaptureWindow = *s.RunWindowId;
    }
    if (s.AudioInputIndex >= 0 && s.AudioRecordEnable && s.AudioFormatIndex >= 0)
        e.Audio =
            EngineAudio{std::min(s.AudioFormatIndex, kLastAudioFormat), s.AudioInputIndex,
                        std::clamp(s.AudioInputGain, 0, 100),           s.AudioInput2Name,
                        std::clamp(s.AudioInput2Volume, 0, 100),        s.AudioSeparateTracks};
    return e;
}

int ChosenAudioInput(const TSettings& s, const std::vector<std::string>& names) {
    if (!s.AudioInputName.empty())
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == s.AudioInputName) return static_cast<int>(i);
    return s.AudioInputIndex;
}

int H264CompressorIndex(const std::vector<std::string>& names) {
    return PositionOf(names, "H.264 (x264)");
}

int RunCompressorIndex(const TSettings& s) {
    if (s.RunFormat != OutputFormat::Mp4) return s.CodecIndex;
    const int h264 = H264CompressorIndex(s.CompressorNames);
    return h264 >= 0 ? h264 : s.CodecIndex;
}

int DefaultCompressorIndex(const std::vector<std::string>& names) {
    const int xvid = PositionOf(names, "Xvid MPEG-4 Codec");
    return xvid >= 0 ? xvid : PositionOf(names, "Microsoft Video 1");
}

}  // namespace velmora
