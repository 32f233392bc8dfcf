#include "shell/Presets.h"

#include <algorithm>
#include <cctype>

#include "shell/EngineSettings.h"

namespace velmora {
namespace {

// The catalogue's 48 kHz 16-bit stereo, stored minus one.
constexpr int kStereo48kHz = 19;

int PositionOf(const std::vector<std::string>& names, const char* wanted) {
    const auto found = std::find(names.begin(), names.end(), wanted);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

// FFV1 and HuffYUV keep every pixel: quality and key frames change nothing.
bool LosslessCodec(int index, const std::vector<std::string>& names) {
    return index >= 0 && (index == PositionOf(names, "FFV1 Lossless") ||
                          index == PositionOf(names, "HuffYUV Lossless"));
}

}  // namespace

std::string PresetKey(Preset preset) {
    switch (preset) {
        case Preset::Default:
            return "default";
        case Preset::WebVideo:
            return "web";
        case Preset::SmallFile:
            return "small";
        case Preset::Lossless:
            return "lossless";
    }
    return "default";
}

std::optional<Preset> ParsePreset(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (Preset preset : kPresets)
        if (PresetKey(preset) == lower) return preset;
    return std::nullopt;
}

bool SetsQuality(const PresetChoices& preset, const std::vector<std::string>& names) {
    return !LosslessCodec(preset.codecIndex, names);
}

std::string PresetKeys() {
    std::string keys;
    const std::size_t count = std::size(kPresets);
    for (std::size_t i = 0; i < count; ++i)
        keys += (i == 0           ? ""
                 : i + 1 == count ? " or "
                                  : ", ") +
                std::string("preset=") + PresetKey(kPresets[i]);
    return keys;
}

PresetChoices PresetChoicesOf(Preset preset, const PresetContext& context) {
    const std::vector<std::string>& names = context.compressorNames;
    PresetChoices c;  // today's defaults
    c.codecIndex = DefaultCompressorIndex(names);
    if (preset == Preset::Default) return c;

    c.soundOn = true;
    c.audioFormatIndex = kStereo48kHz;
    c.audioInput = context.defaultInput;
    c.audioInputName = context.defaultInputName;
    if (preset == Preset::Lossless) {
        c.format = OutputFormat::Mkv;
        c.sound = SoundCodec::Flac;
        const int ffv1 = PositionOf(names, "FFV1 Lossless");
        c.codecIndex = ffv1 >= 0 ? ffv1 : PositionOf(names, "HuffYUV Lossless");
        return c;
    }
    // Browsers play MP4 with H.264 and AAC; a key frame every 2 s lets them
    // seek, and a still desktop costs next to nothing between key frames.
    c.format = OutputFormat::Mp4;
    c.sound = SoundCodec::Aac;
    if (const int h264 = H264CompressorIndex(names); h264 >= 0) c.codecIndex = h264;
    if (preset == Preset::WebVideo) {
        c.framesPerSecond = 30;
        c.quality = 70;
    } else {
        // Half the frames, a lower quality and x264 searching harder, for
        // which half the frames leave it the time.
        c.framesPerSecond = 15;
        c.quality = 50;
        c.x264Preset = "veryfast";
    }
    c.keyFrames = 2 * c.framesPerSecond;
    return c;
}

PresetChoices StoredChoices(const TSettings& s) {
    PresetChoices c;
    c.codecIndex = s.CodecIndex;
    c.format = s.FileFormat;
    c.sound = s.AudioCodec;
    c.framesPerSecond = s.VideoFPS;
    c.keyFrames = s.KeyFramesFreq;
    c.quality = s.VideoQuality;
    c.x264Preset = s.X264Preset;
    c.soundOn = s.AudioRecordEnable;
    c.audioFormatIndex = s.AudioFormatIndex;
    c.audioInput = s.AudioInputIndex;
    c.audioInputName = s.AudioInputName;
    return c;
}

bool ChoicesMatch(const PresetChoices& preset, const PresetChoices& shown,
                  const std::vector<std::string>& names) {
    if (preset.codecIndex != shown.codecIndex || preset.format != shown.format ||
        preset.framesPerSecond != shown.framesPerSecond || preset.soundOn != shown.soundOn)
        return false;
    if (SetsQuality(preset, names) &&
        (preset.quality != shown.quality || preset.keyFrames != shown.keyFrames))
        return false;
    if (preset.codecIndex == H264CompressorIndex(names) && preset.x264Preset != shown.x264Preset)
        return false;
    if (!preset.soundOn) return true;
    // Where the desktop names no default input, any input is the preset's.
    return preset.sound == shown.sound && preset.audioFormatIndex == shown.audioFormatIndex &&
           (preset.audioInput < 0 || preset.audioInput == shown.audioInput);
}

std::optional<Preset> MatchingPreset(const PresetChoices& shown, const PresetContext& context) {
    for (Preset preset : kPresets)
        if (ChoicesMatch(PresetChoicesOf(preset, context), shown, context.compressorNames))
            return preset;
    return std::nullopt;
}

void ApplyPreset(Preset preset, const PresetContext& context, TSettings& s) {
    const PresetChoices c = PresetChoicesOf(preset, context);
    s.CodecIndex = c.codecIndex;
    s.FileFormat = c.format;
    s.AudioCodec = c.sound;
    s.VideoFPS = c.framesPerSecond;
    if (SetsQuality(c, context.compressorNames)) {
        s.KeyFramesFreq = c.keyFrames;
        s.VideoQuality = c.quality;
        s.X264Preset = c.x264Preset;
    }
    s.AudioRecordEnable = c.soundOn;
    if (!c.soundOn) return;
    s.AudioFormatIndex = c.audioFormatIndex;
    if (c.audioInput >= 0) {
        s.AudioInputIndex = c.audioInput;
        s.AudioInputName = c.audioInputName;
    }
}

TSettings RunSettings(const TSettings& settings, const PresetContext& context) {
    TSettings run = settings;
    if (settings.RunPreset) ApplyPreset(*settings.RunPreset, context, run);
    return run;
}

}  // namespace velmora
