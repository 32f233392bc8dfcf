#include "engine/YuvGrab.h"

namespace velmora::engine {

namespace {

vfw::BITMAPINFOHEADER DibHeader(int width, int height, int bitCount) {
    vfw::BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;  // < 0: top-down
    header.biPlanes = 1;
    header.biBitCount = static_cast<vfw::WORD>(bitCount);
    header.biCompression = vfw::BI_RGB;
    return header;
}

}  // namespace

YuvGrab::YuvGrab(const vfw::BITMAPINFOHEADER& format, int screenBits)
    : width_(format.biWidth),
      height_(format.biHeight),
      screenBits_(screenBits),
      compression_(format.biCompression) {
    const bool fullRange = compression_ == vfw::BI_J420;
    const int bands = vfw::BandsForSize(width_, height_);
    // At 8 and 16 bits the DIB rows convert through libswscale, which
    // cannot write the packed planes: those screens keep DIB frames.
    ready_ = vfw::isYuvFormat(compression_) && (screenBits == 32 || screenBits == 24) &&
             lent_.init(DibHeader(width_, -height_, 32), nullptr, 0, AV_PIX_FMT_YUV420P, fullRange,
                        bands) &&
             dibRows_.init(DibHeader(width_, height_, screenBits), nullptr, 0, AV_PIX_FMT_YUV420P,
                           fullRange, bands);
}

YuvGrab::~YuvGrab() {
    FreePackedDib(dib_);
}

bool YuvGrab::Fits(const vfw::BITMAPINFOHEADER& format, int screenBits) const {
    return format.biWidth == width_ && format.biHeight == height_ &&
           format.biCompression == compression_ && screenBits == screenBits_;
}

bool YuvGrab::FromLent(const platform::DibRows& rows, PackedDib frame) const {
    if (!ready_ || !rows.topDown || rows.bitCount != 32 || rows.width != width_ ||
        rows.height != height_)
        return false;
    return lent_.convertToYuv(rows.bits, PackedDibBits(frame), rows.stride());
}

PackedDib YuvGrab::Dib() {
    if (!dib_ && ready_) dib_ = AllocatePackedDib(width_, height_, screenBits_);
    return dib_;
}

bool YuvGrab::FromDib(PackedDib dib, PackedDib frame) const {
    return ready_ && dibRows_.convertToYuv(PackedDibBits(dib), PackedDibBits(frame));
}

}  // namespace velmora::engine
