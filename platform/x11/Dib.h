#pragma once
// Pixel rows laid out as a Windows device-independent bitmap: rows stored
// bottom-up, each padded to 32 bits; 32-bit pixels B,G,R,0, 24-bit B,G,R,
// 16-bit 5-5-5 (as BI_RGB 16-bit DIBs are) and 8-bit indices into a
// 256-entry colour table of B,G,R,0 quads.

#include <cstddef>
#include <cstdint>

namespace velmora::platform {

// Bytes of one stored row; 64-bit arithmetic so huge widths cannot overflow.
constexpr std::int64_t dibStride(std::int64_t width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

// A caller-owned block of DIB rows.
struct DibRows {
    std::uint8_t* bits = nullptr;  // first stored row = bottom row of the picture
    int width = 0;
    int height = 0;
    int bitCount = 32;                    // 32, 24, 16 or 8
    std::uint32_t* colorTable = nullptr;  // 256 entries, needed when bitCount is 8
    bool topDown = false;                 // first stored row = top row (a top-down DIB)
    // Bytes from one stored row to the next where they are not a DIB's
    // (rows lent inside a wider buffer); 0: the DIB's own.
    std::int64_t pitch = 0;

    std::int64_t stride() const { return pitch > 0 ? pitch : dibStride(width, bitCount); }
    // Start of picture row y counted from the top.
    std::uint8_t* row(int y) const { return bits + stride() * (topDown ? y : height - 1 - y); }
};

// A top-down source picture in a server's pixel format (an XImage's fields).
struct PixelSource {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;
    int bitsPerPixel = 32;  // 32, 24 or 16
    std::uint32_t redMask = 0xff0000;
    std::uint32_t greenMask = 0x00ff00;
    std::uint32_t blueMask = 0x0000ff;
    bool msbFirst = false;
};

bool isSupportedDibDepth(int bitCount);
// 32-bit pixels B,G,R,x in memory: the DIB's own order, but for the unused byte.
bool isStandardBgr0(const PixelSource& source);

// The fixed palette of 8-bit frames: a 6x6x6 colour cube followed by a
// 40-step grey ramp, as B,G,R,0 quads.
const std::uint32_t* dibPalette8();
std::uint8_t paletteIndex8(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// Converts the w x h block at (srcX, srcY) of the source into the DIB at
// picture position (dstX, dstY). The caller keeps both blocks inside their
// pictures. Fills the colour table at 8 bits.
void copyToDib(const PixelSource& src, int srcX, int srcY, int w, int h, const DibRows& dst,
               int dstX, int dstY);

}  // namespace velmora::platform
