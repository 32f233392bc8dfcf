#pragma once
// The video codecs a recording can be compressed with, in the order the
// Options list shows them: what each is called, which frames it takes, and
// the options its configuration dialog edits. All are libavcodec's encoders
// (MS Video 1 and full frames included); none needs anything installed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::engine {

// Four characters packed into 32 bits, the first in the low byte, as the
// codecs' handlers are stored in Setup.ini and in AVI files.
constexpr std::uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

enum class VideoCodec { MsVideo1, Xvid, Mjpeg, H264, HuffYuv, Zmbv, Ffv1, FullFrames };

struct VideoCodecInfo {
    VideoCodec codec;
    std::uint32_t handler;    // 'MSVC', 'XVID', 'MJPG', 'H264', 'HFYU', 'ZMBV', 'FFV1', 'DIB '
    std::string shortName;    // "MS-CRAM", "Xvid", "MJPEG", "x264", ...: the result line's
    std::string description;  // "Microsoft Video 1", "Xvid MPEG-4 Codec", ...: the list's
    std::vector<int> depths;  // screen depths (bits per pixel) it takes
    int alignWidth = 1, alignHeight = 1;  // the frame's sides must be multiples of these
    bool usesQuality = false;             // the quality setting changes what it writes
    bool usesKeyFrames = false;           // it codes frames from earlier ones
};

// Every codec, in the list's order.
const std::vector<VideoCodecInfo>& VideoCodecList();
// By handler, compared without regard to case; null for an unknown one.
const VideoCodecInfo* FindVideoCodec(std::uint32_t handler);

// True when the codec takes frames of this size from a screen of this depth
// (its depths, its alignment, no side beyond 16384 pixels, and its encoder
// present in this libavcodec).
bool CodecTakes(const VideoCodecInfo& codec, int width, int height, int screenBits);

// One option of a codec, as its configuration dialog shows it.
struct CodecOption {
    std::string key;                   // "preset", "tune", "quantizer"
    std::string label;                 // the dialog's text
    std::vector<std::string> choices;  // not empty: pick one of these
    int minimum = 0;                   // choices empty: a whole number in this range
    int maximum = 0;
    std::string value;  // one of choices, or the number as text
};

// The codec's options as they are now (empty: it has no dialog). Kept for
// the life of the process, like a driver's settings.
std::vector<CodecOption> CodecOptions(VideoCodec codec);
// Takes the values of edited that are valid for their option; others stay.
void SetCodecOptions(VideoCodec codec, const std::vector<CodecOption>& edited);

}  // namespace velmora::engine
