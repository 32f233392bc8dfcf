// Alpha blending of the cursor image into DIB rows of any supported depth.

#include <cstring>

#include "platform/x11/Desktop.h"

namespace velmora::platform {
namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb readDib(const std::uint8_t* p, int bitCount, const std::uint32_t* table) {
    switch (bitCount) {
        case 32:
        case 24:
            return {p[2], p[1], p[0]};
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            auto widen = [](unsigned c) { return static_cast<std::uint8_t>(c << 3 | c >> 2); };
            return {widen(v >> 10 & 31), widen(v >> 5 & 31), widen(v & 31)};
        }
        default: {
            const std::uint32_t q = table[*p];
            return {static_cast<std::uint8_t>(q >> 16), static_cast<std::uint8_t>(q >> 8),
                    static_cast<std::uint8_t>(q)};
        }
    }
}

void writeDib(std::uint8_t* p, int bitCount, Rgb c) {
    switch (bitCount) {
        case 32:
            p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
            break;
        case 24:
            p[0] = c.b, p[1] = c.g, p[2] = c.r;
            break;
        case 16: {
            const auto v =
                static_cast<std::uint16_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
            std::memcpy(p, &v, 2);
            break;
        }
        default:
            *p = paletteIndex8(c.r, c.g, c.b);
    }
}

// Premultiplied "over": the cursor colour plus what shows through it.
std::uint8_t over(std::uint32_t premultiplied, std::uint8_t below, std::uint32_t alpha) {
    const std::uint32_t v = premultiplied + (below * (255 - alpha) + 127) / 255;
    return static_cast<std::uint8_t>(v > 255 ? 255 : v);
}

}  // namespace

void drawCursor(const CursorImage& cursor, int originX, int originY, const DibRows& out) {
    if (!isSupportedDibDepth(out.bitCount) ||
        cursor.argb.size() <
            static_cast<std::size_t>(cursor.width) * static_cast<std::size_t>(cursor.height))
        return;
    const std::uint32_t* table = out.colorTable ? out.colorTable : dibPalette8();
    const int bytes = out.bitCount / 8;
    for (int cy = 0; cy < cursor.height; ++cy) {
        const int y = originY + cy;
        if (y < 0 || y >= out.height) continue;
        std::uint8_t* row = out.row(y);
        for (int cx = 0; cx < cursor.width; ++cx) {
            const int x = originX + cx;
            if (x < 0 || x >= out.width) continue;
            const std::uint32_t argb =
                cursor.argb[static_cast<std::size_t>(cy) * cursor.width + cx];
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0) continue;
            std::uint8_t* p = row + std::int64_t(x) * bytes;
            const Rgb below = readDib(p, out.bitCount, table);
            writeDib(p, out.bitCount,
                     {over(argb >> 16 & 0xff, below.r, alpha),
                      over(argb >> 8 & 0xff, below.g, alpha), over(argb & 0xff, below.b, alpha)});
        }
    }
}

}  // namespace velmora::platform
