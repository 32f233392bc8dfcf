#include "tests/doubles/FakeDesktop.h"

#include <algorithm>

namespace velmora::test {

FakeDesktop::FakeDesktop(int width, int height, int bitsPerPixel)
    : width_(width),
      height_(height),
      bitsPerPixel_(bitsPerPixel),
      pixels_(static_cast<std::size_t>(width) * height, 0) {}

void FakeDesktop::fill(std::uint32_t rgb) {
    std::fill(pixels_.begin(), pixels_.end(), rgb);
}

void FakeDesktop::setPixel(int x, int y, std::uint32_t rgb) {
    pixels_[static_cast<std::size_t>(y) * width_ + x] = rgb;
}

std::uint32_t FakeDesktop::pixel(int x, int y) const {
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

void FakeDesktop::paint(const std::function<std::uint32_t(int, int)>& f) {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) setPixel(x, y, f(x, y));
}

bool FakeDesktop::grab(int left, int top, const platform::DibRows& out) {
    ++grabCount;
    if (grabCount == failGrabNumber || (failAllGrabsFrom > 0 && grabCount >= failAllGrabsFrom)) {
        error_ = "injected grab failure";
        return false;
    }
    if (!platform::isSupportedDibDepth(out.bitCount)) return false;
    const int x0 = std::max(left, 0), y0 = std::max(top, 0);
    const int x1 = std::min(left + out.width, width_), y1 = std::min(top + out.height, height_);
    platform::PixelSource src;
    src.data = reinterpret_cast<const std::uint8_t*>(pixels_.data());
    src.width = width_;
    src.height = height_;
    src.bytesPerLine = width_ * 4;
    if (x1 > x0 && y1 > y0)
        platform::copyToDib(src, x0, y0, x1 - x0, y1 - y0, out, x0 - left, y0 - top);
    else
        platform::copyToDib(src, 0, 0, 0, 0, out, 0, 0);
    return true;
}

bool FakeDesktop::grabLent(int left, int top, int width, int height, platform::DibRows& out) {
    if (!lends || bitsPerPixel_ != 32 || left < 0 || top < 0 || width <= 0 || height <= 0 ||
        left + width > width_ || top + height > height_)
        return false;
    ++lentCount;
    // 0x00RRGGBB words are B, G, R, 0 in memory: the lent rows' order.
    lent_.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels_.begin() + static_cast<std::ptrdiff_t>(top + y) * width_ + left, width,
                    lent_.begin() + static_cast<std::ptrdiff_t>(y) * width);
    out = platform::DibRows{};
    out.bits = reinterpret_cast<std::uint8_t*>(lent_.data());
    out.width = width;
    out.height = height;
    out.bitCount = 32;
    out.topDown = true;
    return true;
}

bool FakeDesktop::cursorImage(platform::CursorImage& out) {
    if (!cursorShowing) return false;
    out = cursor;
    return true;
}

platform::ForeignCursor FakeDesktop::foreignCursor() {
    return {cursorShowing ? cursorHandle : 0, cursor.x, cursor.y};
}

}  // namespace velmora::test
