#include "platform/portal/StreamFrame.h"

#include <algorithm>
#include <cstring>

namespace velmora::platform::portal {
namespace {

// The channels as a little-endian 32-bit word reads them.
PixelSource SourceOf(const StreamFrame& frame) {
    PixelSource src;
    src.data = frame.pixels;
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

ScreenRect Intersection(const ScreenRect& a, const ScreenRect& b) {
    const int left = std::max(a.left, b.left), top = std::max(a.top, b.top);
    const int right = std::min(a.right(), b.right()), bottom = std::min(a.bottom(), b.bottom());
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

}  // namespace

bool FrameOfBuffer(const std::uint8_t* data, std::size_t size, int width, int height, int stride,
                   StreamFormat format, const ScreenRect* crop, StreamFrame& frame) {
    if (!data || width <= 0 || height <= 0 || stride < std::int64_t(width) * 4) return false;
    const std::size_t needed =
        static_cast<std::size_t>(stride) * static_cast<std::size_t>(height - 1) +
        static_cast<std::size_t>(width) * 4;
    if (size < needed) return false;
    ScreenRect picture{0, 0, width, height};
    if (crop && !crop->empty()) {
        picture = Intersection(picture, *crop);
        if (picture.empty()) return false;
    }
    frame.pixels = data + static_cast<std::size_t>(stride) * static_cast<std::size_t>(picture.top) +
                   static_cast<std::size_t>(picture.left) * 4;
    frame.width = picture.width;
    frame.height = picture.height;
    frame.stride = stride;
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

bool LentRows::Lend(const StreamFrame& frame, int left, int top, int width, int height,
                    const ScreenRect* cursor, DibRows& out) {
    End();
    if (frame.empty() || width <= 0 || height <= 0 || left < 0 || top < 0 ||
        std::int64_t(left) + width > frame.width || std::int64_t(top) + height > frame.height ||
        (frame.format != StreamFormat::BGRx && frame.format != StreamFormat::BGRA))
        return false;
    rows_ = DibRows{};
    rows_.bits = const_cast<std::uint8_t*>(frame.pixels) + std::int64_t(frame.stride) * top +
                 std::int64_t(left) * 4;
    rows_.width = width;
    rows_.height = height;
    rows_.bitCount = 32;
    rows_.topDown = true;
    rows_.pitch = frame.stride;
    if (cursor)
        under_ = Intersection({0, 0, width, height}, {cursor->left - left, cursor->top - top,
                                                      cursor->width, cursor->height});
    const std::size_t rowBytes = static_cast<std::size_t>(under_.width) * 4;
    saved_.resize(rowBytes * static_cast<std::size_t>(under_.height));
    for (int y = 0; y < under_.height; ++y)
        std::memcpy(saved_.data() + rowBytes * static_cast<std::size_t>(y),
                    rows_.row(under_.top + y) + std::int64_t(under_.left) * 4, rowBytes);
    out = rows_;
    return true;
}

void LentRows::End() {
    const std::size_t rowBytes = static_cast<std::size_t>(under_.width) * 4;
    for (int y = 0; y < under_.height; ++y)
        std::memcpy(rows_.row(under_.top + y) + std::int64_t(under_.left) * 4,
                    saved_.data() + rowBytes * static_cast<std::size_t>(y), rowBytes);
    rows_ = DibRows{};
    under_ = {};
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
