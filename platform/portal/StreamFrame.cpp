#include "platform/portal/StreamFrame.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform::portal {
namespace {

// The channels as a little-endian 32-bit word reads them.
PixelSource SourceOf(const StreamFrame& frame) {
    PixelSource src;
    src.data = frame.pixels.data();
    src.width = frame.width;
    src.height = frame.height;
    src.bytesPerLine = frame.stride;
    src.bitsPerPixel = 32;
    const bool bgr = frame.format == StreamFormat::BGRx || frame.format == StreamFormat::BGRA;
    src.redMask = bgr ? 0xff0000 : 0x0000ff;
    src.greenMask = 0x00ff00;
    src.blueMask = bgr ? 0x0000ff : 0xff0000;
    return src;
}

}  // namespace

bool StoreStreamBuffer(const std::uint8_t* data, std::size_t size, int width, int height,
                       int stride, StreamFormat format, StreamFrame& frame) {
    if (!data || width <= 0 || height <= 0 || stride < width * 4) return false;
    const std::size_t needed =
        static_cast<std::size_t>(stride) * static_cast<std::size_t>(height - 1) +
        static_cast<std::size_t>(width) * 4;
    if (size < needed) return false;
    // Only the pixels are kept: the padding of a row is not ours to copy.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    frame.pixels.resize(rowBytes * static_cast<std::size_t>(height));
    if (static_cast<std::size_t>(stride) == rowBytes) {
        std::memcpy(frame.pixels.data(), data, rowBytes * static_cast<std::size_t>(height));
    } else {
        for (int y = 0; y < height; ++y)
            std::memcpy(frame.pixels.data() + rowBytes * static_cast<std::size_t>(y),
                        data + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y),
                        rowBytes);
    }
    frame.width = width;
    frame.height = height;
    frame.stride = static_cast<int>(rowBytes);
    frame.format = format;
    ++frame.sequence;
    return true;
}

void FrameToDib(const StreamFrame& frame, int left, int top, const DibRows& out) {
    if (out.bitCount == 8 && out.colorTable)
        copyToDib(PixelSource{}, 0, 0, 0, 0, out, 0, 0);  // the colour table alone
    if (frame.empty() || out.width <= 0 || out.height <= 0 || !out.bits) return;
    const std::int64_t x0 = std::max<std::int64_t>(left, 0);
    const std::int64_t y0 = std::max<std::int64_t>(top, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(left) + out.width, frame.width);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(top) + out.height, frame.height);
    if (x1 <= x0 || y1 <= y0) return;
    copyToDib(SourceOf(frame), static_cast<int>(x0), static_cast<int>(y0),
              static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), out,
              static_cast<int>(x0 - left), static_cast<int>(y0 - top));
}

void CursorFromBitmap(const std::uint8_t* data, int width, int height, int stride,
                      StreamFormat format, CursorImage& out) {
    out.width = out.height = 0;
    out.argb.clear();
    if (!data || width <= 0 || height <= 0 || stride < width * 4) return;
    out.width = width;
    out.height = height;
    out.argb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const bool bgr = format == StreamFormat::BGRx || format == StreamFormat::BGRA;
    const bool alpha = format == StreamFormat::BGRA || format == StreamFormat::RGBA;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* p =
            data + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x, p += 4) {
            const std::uint32_t a = alpha ? p[3] : 255;
            const std::uint32_t r = bgr ? p[2] : p[0], g = p[1], b = bgr ? p[0] : p[2];
            auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
            out.argb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(x)] = a << 24 | pre(r) << 16 | pre(g) << 8 | pre(b);
        }
    }
}

}  // namespace velmora::platform::portal
