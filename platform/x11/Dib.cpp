#include "platform/x11/Dib.h"

#include <array>
#include <bit>
#include <cstring>

namespace velmora::platform {
namespace {

// How to take one channel out of a source pixel and widen it to 8 bits.
struct Channel {
    int shift = 0;
    int bits = 8;
    std::uint32_t max = 255;

    explicit Channel(std::uint32_t mask) {
        if (mask == 0) {
            bits = 0;
            return;
        }
        shift = std::countr_zero(mask);
        bits = std::popcount(mask);
        max = (mask >> shift);
    }
    std::uint8_t get(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = (pixel >> shift) & max;
        if (bits == 8) return static_cast<std::uint8_t>(v);
        return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
};

std::uint32_t readPixel(const std::uint8_t* p, int bitsPerPixel, bool msbFirst) {
    switch (bitsPerPixel) {
        case 32: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return msbFirst ? __builtin_bswap32(v) : v;
        }
        case 24:
            return msbFirst ? (std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2])
                            : (std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return msbFirst ? __builtin_bswap16(v) : v;
        }
        default:
            return 0;
    }
}

void writePixel(std::uint8_t* p, int bitCount, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    switch (bitCount) {
        case 32:
            p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
            break;
        case 24:
            p[0] = b, p[1] = g, p[2] = r;
            break;
        case 16: {
            const std::uint16_t v =
                static_cast<std::uint16_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
            std::memcpy(p, &v, 2);
            break;
        }
        case 8:
            *p = paletteIndex8(r, g, b);
            break;
    }
}

std::array<std::uint32_t, 256> makePalette() {
    std::array<std::uint32_t, 256> table{};
    int i = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                table[i++] = std::uint32_t(r * 51) << 16 | std::uint32_t(g * 51) << 8 |
                             std::uint32_t(b * 51);
    // Greys between the cube's own six, so flat grey screens keep their shades.
    for (int k = 0; k < 40; ++k) {
        const std::uint32_t v = static_cast<std::uint32_t>((k + 1) * 255 / 41);
        table[i++] = v << 16 | v << 8 | v;
    }
    return table;
}

}  // namespace

bool isStandardBgr0(const PixelSource& s) {
    return s.bitsPerPixel == 32 && !s.msbFirst && s.redMask == 0xff0000 &&
           s.greenMask == 0x00ff00 && s.blueMask == 0x0000ff;
}

bool isSupportedDibDepth(int bitCount) {
    return bitCount == 32 || bitCount == 24 || bitCount == 16 || bitCount == 8;
}

const std::uint32_t* dibPalette8() {
    static const std::array<std::uint32_t, 256> table = makePalette();
    return table.data();
}

std::uint8_t paletteIndex8(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    if (r == g && g == b && r % 51 != 0) {
        // Nearest step of the grey ramp, whose step k is (k+1)*255/41.
        int k = (r * 41 + 127) / 255 - 1;
        if (k < 0) k = 0;
        if (k > 39) k = 39;
        return static_cast<std::uint8_t>(216 + k);
    }
    auto level = [](std::uint8_t v) { return (v + 25) / 51; };
    return static_cast<std::uint8_t>(level(r) * 36 + level(g) * 6 + level(b));
}

void copyToDib(const PixelSource& src, int srcX, int srcY, int w, int h, const DibRows& dst,
               int dstX, int dstY) {
    if (dst.bitCount == 8 && dst.colorTable)
        std::memcpy(dst.colorTable, dibPalette8(), 256 * sizeof(std::uint32_t));
    if (w <= 0 || h <= 0) return;
    const int srcBytes = src.bitsPerPixel / 8;
    const int dstBytes = dst.bitCount / 8;

    if (isStandardBgr0(src) && dst.bitCount == 32) {
        // The common case: only the unused top byte differs from the DIB.
        for (int y = 0; y < h; ++y) {
            const auto* in = reinterpret_cast<const std::uint32_t*>(
                src.data + std::int64_t(srcY + y) * src.bytesPerLine + std::int64_t(srcX) * 4);
            auto* out =
                reinterpret_cast<std::uint32_t*>(dst.row(dstY + y) + std::int64_t(dstX) * 4);
            for (int x = 0; x < w; ++x) out[x] = in[x] & 0x00ffffffu;
        }
        return;
    }

    const Channel red(src.redMask), green(src.greenMask), blue(src.blueMask);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* in =
            src.data + std::int64_t(srcY + y) * src.bytesPerLine + std::int64_t(srcX) * srcBytes;
        std::uint8_t* out = dst.row(dstY + y) + std::int64_t(dstX) * dstBytes;
        for (int x = 0; x < w; ++x, in += srcBytes, out += dstBytes) {
            const std::uint32_t p = readPixel(in, src.bitsPerPixel, src.msbFirst);
            writePixel(out, dst.bitCount, red.get(p), green.get(p), blue.get(p));
        }
    }
}

}  // namespace velmora::platform
