#include "common/OutputFormats.h"

#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

constexpr std::uint32_t FourCC(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24;
}

// Handlers are compared without regard to case: files name them either way.
std::uint32_t UpperFourCC(std::uint32_t code) {
    std::uint32_t upper = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<unsigned char>(code >> shift);
        upper |= static_cast<std::uint32_t>(std::toupper(c)) << shift;
    }
    return upper;
}

}  // namespace

std::string FormatKey(OutputFormat format) {
    switch (format) {
        case OutputFormat::Mp4:
            return "MP4";
        case OutputFormat::Mkv:
            return "MKV";
        case OutputFormat::Avi:
            break;
    }
    return "AVI";
}

std::string SoundCodecKey(SoundCodec codec) {
    switch (codec) {
        case SoundCodec::Aac:
            return "AAC";
        case SoundCodec::Opus:
            return "OPUS";
        case SoundCodec::Flac:
            return "FLAC";
        case SoundCodec::Pcm:
            break;
    }
    return "PCM";
}

std::optional<OutputFormat> ParseOutputFormat(const std::string& name) {
    const std::string key = Upper(name);
    for (OutputFormat f : kOutputFormats)
        if (FormatKey(f) == key) return f;
    if (key == "MATROSKA") return OutputFormat::Mkv;
    return std::nullopt;
}

std::optional<SoundCodec> ParseSoundCodec(const std::string& name) {
    const std::string key = Upper(name);
    for (SoundCodec c : kSoundCodecs)
        if (SoundCodecKey(c) == key) return c;
    return std::nullopt;
}

std::string FormatExtension(OutputFormat format) {
    std::string key = FormatKey(format);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "." + key;
}

std::string FormatTitle(OutputFormat format) {
    return format == OutputFormat::Mkv ? "Matroska (MKV)" : FormatKey(format);
}

std::string SoundCodecTitle(SoundCodec codec) {
    return codec == SoundCodec::Opus ? "Opus" : SoundCodecKey(codec);
}

bool ContainerTakesSound(OutputFormat format, SoundCodec codec) {
    switch (format) {
        case OutputFormat::Avi:
            return codec == SoundCodec::Pcm;
        case OutputFormat::Mp4:
            return codec == SoundCodec::Aac || codec == SoundCodec::Opus;
        case OutputFormat::Mkv:
            return true;
    }
    return false;
}

SoundCodec DefaultSoundCodec(OutputFormat format) {
    switch (format) {
        case OutputFormat::Mp4:
            return SoundCodec::Aac;
        case OutputFormat::Mkv:
            return SoundCodec::Opus;
        case OutputFormat::Avi:
            break;
    }
    return SoundCodec::Pcm;
}

std::vector<SoundCodec> SoundCodecsOf(OutputFormat format) {
    std::vector<SoundCodec> codecs;
    for (SoundCodec c : kSoundCodecs)
        if (ContainerTakesSound(format, c)) codecs.push_back(c);
    return codecs;
}

bool ContainerTakesVideo(OutputFormat format, std::uint32_t handler) {
    if (format != OutputFormat::Mp4) return true;
    const std::uint32_t code = UpperFourCC(handler);
    return code == FourCC("H264") || code == FourCC("XVID") || code == FourCC("MJPG");
}

OutputChoice ResolveOutputChoice(OutputFormat format, SoundCodec sound, std::uint32_t handler,
                                 const std::string& codecName) {
    OutputChoice choice{format, sound, {}};
    if (!ContainerTakesVideo(format, handler)) {
        choice.format = OutputFormat::Avi;
        choice.sound = SoundCodec::Pcm;
        choice.change = FormatTitle(format) + " cannot hold " + codecName +
                        " video; the recording is saved as AVI";
        return choice;
    }
    if (!ContainerTakesSound(format, sound)) {
        choice.sound = DefaultSoundCodec(format);
        choice.change = FormatTitle(format) + " cannot hold " + SoundCodecTitle(sound) +
                        " sound; it is saved as " + SoundCodecTitle(choice.sound);
    }
    return choice;
}

std::string WithFormatExtension(const std::string& path, OutputFormat format) {
    const std::size_t name = path.find_last_of('/') + 1;
    const std::size_t dot = path.find_last_of('.');
    const std::string stem = dot != std::string::npos && dot > name ? path.substr(0, dot) : path;
    return stem + FormatExtension(format);
}

}  // namespace velmora
