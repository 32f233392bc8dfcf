#pragma once
// DIB rows (bottom-up BGR0, BGR24, 5-5-5 or 8-bit with a colour table, or
// top-down ones where biHeight is negative) into the picture format a codec
// takes: libyuv for the common RGB to 4:2:0 and RGB24 conversions (several
// times faster), libswscale for the rest. Frames already in 4:2:0 (BI_I420,
// BI_J420) go to the codec as they are.

#include <cstdint>
#include <memory>

#include "engine/vfw/Vfw.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVFrame;
struct SwsContext;

namespace velmora::vfw {

class BandThreads;

// Pixel format of DIB rows of this depth (AV_PIX_FMT_NONE: not a DIB depth).
AVPixelFormat dibPixelFormat(int bitCount);
// Bytes of one stored DIB row.
std::int64_t dibRowBytes(std::int64_t width, int bitCount);

// Where the planes of a BI_I420 / BI_J420 frame lie.
struct YuvLayout {
    int width = 0, height = 0;
    int chromaWidth = 0, chromaHeight = 0;  // (w+1)/2 x (h+1)/2
    std::int64_t ySize = 0, chromaSize = 0;
    std::int64_t total() const { return ySize + 2 * chromaSize; }
};
YuvLayout yuvLayout(int width, int height);
bool isYuvFormat(DWORD compression);

// Threads worth sharing the 4:2:0 conversion of frames of this size: from
// 2560x1440 up, where one core converts a frame in a few milliseconds, the
// processors there are; below it, one (measured: at 1920x1080 a second
// thread costs more than it saves).
int BandsForSize(int width, int height);

class DibConverter {
  public:
    DibConverter();
    ~DibConverter();
    DibConverter(const DibConverter&) = delete;
    DibConverter& operator=(const DibConverter&) = delete;

    // fullRange: the codec wants full-range (JPEG) YUV. bands: how many
    // threads share each 4:2:0 conversion, a band of rows each (see
    // BandsForSize); the helpers are made at the first such conversion
    // and kept until the converter goes, at normal scheduling.
    bool init(const BITMAPINFOHEADER& in, const RGBQUAD* colors, int colorCount, AVPixelFormat dst,
              bool fullRange = false, int bands = 1);
    // Fills dst (allocated by the caller in the dst format and the same
    // size). One thread at a time.
    bool convert(const std::uint8_t* bits, AVFrame* dst) const;
    // Fills a packed 4:2:0 frame (yuvLayout) where dst is YUV420P. stride:
    // bytes from one stored row to the next where the rows lie in a wider
    // buffer (0: the DIB's own).
    bool convertToYuv(const std::uint8_t* bits, std::uint8_t* yuv, std::int64_t stride = 0) const;
    // The DIB is already in the dst format: no conversion needed.
    bool sameFormat() const { return src_ == dst_ && src_ != AV_PIX_FMT_NONE; }
    // Points an empty dst at the DIB's rows (the picture's top row first, a
    // negative linesize for bottom-up rows), the colour table or the 4:2:0
    // planes, in a read-only buffer that frees nothing: bits must outlive
    // every reference to dst. Same format only.
    bool borrow(const std::uint8_t* bits, AVFrame* dst) const;

    // libyuv converts instead of libswscale.
    bool usesLibyuv() const { return toPlanar_ || toRaw_; }
    // Threads each 4:2:0 conversion is split across.
    int bands() const { return toPlanar_ ? bands_ : 1; }

  private:
    bool convertPlanar(const std::uint8_t* bits, std::int64_t bitsStride,
                       std::uint8_t* const planes[3], const int strides[3]) const;
    // The picture's top row and the step to the next one down.
    const std::uint8_t* topRow(const std::uint8_t* bits) const {
        return topDown_ ? bits : bits + stride_ * (height_ - 1);
    }
    std::int64_t rowStep() const { return topDown_ ? stride_ : -stride_; }

    SwsContext* sws_ = nullptr;
    // libyuv's DIB rows to 4:2:0 planes (source, stride, Y, U, V with
    // their strides, width, height), or to R, G, B bytes.
    using ToPlanar = int (*)(const std::uint8_t*, int, std::uint8_t*, int, std::uint8_t*, int,
                             std::uint8_t*, int, int, int);
    ToPlanar toPlanar_ = nullptr;
    int bands_ = 1;
    mutable std::unique_ptr<BandThreads> threads_;
    bool toRaw_ = false;
    int width_ = 0;
    int height_ = 0;
    bool topDown_ = false;
    bool yuvIn_ = false;  // BI_I420 / BI_J420 frames
    std::int64_t stride_ = 0;
    AVPixelFormat src_ = AV_PIX_FMT_NONE;
    AVPixelFormat dst_ = AV_PIX_FMT_NONE;
    std::uint32_t palette_[256] = {};
};

}  // namespace velmora::vfw
