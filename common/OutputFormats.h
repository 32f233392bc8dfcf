#pragma once
// The kinds of file a recording can end as: the container and the sound's
// compression, which containers take which codecs, and the fallbacks for a
// choice a container cannot hold. The capture path always writes AVI and
// WAV; only the merge writes these.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

enum class OutputFormat { Avi, Mp4, Mkv };
enum class SoundCodec { Pcm, Aac, Opus, Flac };

inline constexpr OutputFormat kOutputFormats[] = {OutputFormat::Avi, OutputFormat::Mp4,
                                                  OutputFormat::Mkv};
inline constexpr SoundCodec kSoundCodecs[] = {SoundCodec::Pcm, SoundCodec::Aac, SoundCodec::Opus,
                                              SoundCodec::Flac};

// The stored names: "AVI", "MP4", "MKV"; "PCM", "AAC", "OPUS", "FLAC".
std::string FormatKey(OutputFormat format);
std::string SoundCodecKey(SoundCodec codec);
// A stored or typed name, any case; nothing for an unknown one.
std::optional<OutputFormat> ParseOutputFormat(const std::string& name);
std::optional<SoundCodec> ParseSoundCodec(const std::string& name);

// ".avi", ".mp4", ".mkv".
std::string FormatExtension(OutputFormat format);
// What a user reads in a list: "AVI", "MP4", "Matroska (MKV)"; "PCM", ...
std::string FormatTitle(OutputFormat format);
std::string SoundCodecTitle(SoundCodec codec);

// AVI keeps the raw sound players have always read from it; MP4 takes AAC
// and Opus (FFmpeg's MP4 FLAC is experimental and no browser reads PCM in
// MP4); Matroska takes all four.
bool ContainerTakesSound(OutputFormat format, SoundCodec codec);
SoundCodec DefaultSoundCodec(OutputFormat format);
std::vector<SoundCodec> SoundCodecsOf(OutputFormat format);

// By the compressor's handler fourcc: MP4 takes H.264, MPEG-4 Visual (Xvid) and
// Motion JPEG; AVI and Matroska take every codec we record with.
bool ContainerTakesVideo(OutputFormat format, std::uint32_t handler);

// A choice as it will be written, and what had to change, to be followed by
// the file's name in the log (empty when nothing did).
struct OutputChoice {
    OutputFormat format = OutputFormat::Avi;
    SoundCodec sound = SoundCodec::Pcm;
    std::string change;
};
// A container that cannot take the video becomes AVI (whose sound is PCM);
// sound it cannot take becomes the container's default.
OutputChoice ResolveOutputChoice(OutputFormat format, SoundCodec sound, std::uint32_t handler,
                                 const std::string& codecName);

// "dir/name.avi" -> "dir/name.mp4": the extension after the last dot of the
// file name replaced (or added).
std::string WithFormatExtension(const std::string& path, OutputFormat format);

}  // namespace velmora
