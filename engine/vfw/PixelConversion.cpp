#include "engine/vfw/PixelConversion.h"

#include "engine/vfw/BandThreads.h"

#include <libyuv/convert.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/planar_functions.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <thread>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace velmora::vfw {

AVPixelFormat dibPixelFormat(int bitCount) {
    switch (bitCount) {
        case 32:
            return AV_PIX_FMT_BGR0;
        case 24:
            return AV_PIX_FMT_BGR24;
        case 16:
            return AV_PIX_FMT_RGB555LE;
        case 8:
            return AV_PIX_FMT_PAL8;
        default:
            return AV_PIX_FMT_NONE;
    }
}

std::int64_t dibRowBytes(std::int64_t width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

YuvLayout yuvLayout(int width, int height) {
    YuvLayout l;
    l.width = width;
    l.height = height;
    l.chromaWidth = (width + 1) / 2;
    l.chromaHeight = (height + 1) / 2;
    l.ySize = std::int64_t(width) * height;
    l.chromaSize = std::int64_t(l.chromaWidth) * l.chromaHeight;
    return l;
}

bool isYuvFormat(DWORD compression) {
    return compression == BI_I420 || compression == BI_J420;
}

namespace {
void keepRows(void*, std::uint8_t*) {}  // the rows belong to the caller
}  // namespace

DibConverter::DibConverter() = default;

DibConverter::~DibConverter() {
    sws_freeContext(sws_);
}

int BandsForSize(int width, int height) {
    if (std::int64_t(width) * height < std::int64_t(2560) * 1440) return 1;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

bool DibConverter::init(const BITMAPINFOHEADER& in, const RGBQUAD* colors, int colorCount,
                        AVPixelFormat dst, bool fullRange, int bands) {
    yuvIn_ = isYuvFormat(in.biCompression);
    if (!yuvIn_ && in.biCompression != BI_RGB) return false;
    src_ = yuvIn_ ? AV_PIX_FMT_YUV420P : dibPixelFormat(in.biBitCount);
    if (src_ == AV_PIX_FMT_NONE || in.biWidth <= 0 || in.biHeight == 0 ||
        in.biHeight == std::numeric_limits<LONG>::min())
        return false;
    width_ = in.biWidth;
    topDown_ = in.biHeight < 0;
    height_ = topDown_ ? -in.biHeight : in.biHeight;
    stride_ = yuvIn_ ? width_ : dibRowBytes(width_, in.biBitCount);
    dst_ = dst;
    // 4:2:0 frames are only passed on, in the range they were made in.
    if (yuvIn_) return dst_ == src_ && fullRange == (in.biCompression == BI_J420);
    // A band of at least two rows, an even number of them, so that no
    // chroma row is shared by two bands.
    bands_ = std::clamp(bands, 1, std::max(1, height_ / 2));
    threads_.reset();
    for (int i = 0; i < 256; ++i) {
        palette_[i] = 0xFF000000u;
        if (colors && i < colorCount) {
            palette_[i] |= static_cast<std::uint32_t>(colors[i].rgbRed) << 16 |
                           static_cast<std::uint32_t>(colors[i].rgbGreen) << 8 | colors[i].rgbBlue;
        }
    }
    if (src_ == dst_) return true;  // rows are only turned the right way up
    // libyuv's names are of 32-bit words: its ARGB is B, G, R, A in memory
    // (the DIB's order), RGB24 is B, G, R and RAW is R, G, B.
    toPlanar_ = nullptr;
    toRaw_ = dst_ == AV_PIX_FMT_RGB24 && src_ == AV_PIX_FMT_BGR0;
    if (dst_ == AV_PIX_FMT_YUV420P && src_ == AV_PIX_FMT_BGR0)
        toPlanar_ = fullRange ? libyuv::ARGBToJ420 : libyuv::ARGBToI420;
    else if (dst_ == AV_PIX_FMT_YUV420P && src_ == AV_PIX_FMT_BGR24)
        toPlanar_ = fullRange ? libyuv::RGB24ToJ420 : libyuv::RGB24ToI420;
    if (usesLibyuv()) return true;
    sws_ = sws_getContext(width_, height_, src_, width_, height_, dst_, SWS_POINT, nullptr, nullptr,
                          nullptr);
    if (!sws_) return false;
    if (fullRange) {
        int* invTable;
        int* table;
        int srcRange;
        int dstRange;
        int brightness;
        int contrast;
        int saturation;
        sws_getColorspaceDetails(sws_, &invTable, &srcRange, &table, &dstRange, &brightness,
                                 &contrast, &saturation);
        sws_setColorspaceDetails(sws_, invTable, srcRange, table, 1, brightness, contrast,
                                 saturation);
    }
    return true;
}

bool DibConverter::convert(const std::uint8_t* bits, AVFrame* dst) const {
    if (yuvIn_) {
        const YuvLayout l = yuvLayout(width_, height_);
        const std::uint8_t* plane[3] = {bits, bits + l.ySize, bits + l.ySize + l.chromaSize};
        for (int p = 0; p < 3; ++p) {
            const int w = p == 0 ? width_ : l.chromaWidth;
            libyuv::CopyPlane(plane[p], w, dst->data[p], dst->linesize[p], w,
                              p == 0 ? height_ : l.chromaHeight);
        }
        return true;
    }
    const std::uint8_t* top = topRow(bits);
    const std::int64_t step = rowStep();
    if (src_ == dst_) {
        const std::int64_t rowBytes = std::min<std::int64_t>(stride_, dst->linesize[0]);
        for (int y = 0; y < height_; ++y) {
            std::memcpy(dst->data[0] + static_cast<std::int64_t>(dst->linesize[0]) * y,
                        top + step * y, static_cast<std::size_t>(rowBytes));
        }
        if (src_ == AV_PIX_FMT_PAL8 && dst->data[1]) std::memcpy(dst->data[1], palette_, 1024);
        return true;
    }
    // A negative height makes libyuv read the rows bottom-up.
    const int stride = static_cast<int>(stride_);
    if (toPlanar_) return convertPlanar(bits, stride_, dst->data, dst->linesize);
    if (toRaw_)
        return libyuv::ARGBToRAW(bits, stride, dst->data[0], dst->linesize[0], width_,
                                 topDown_ ? height_ : -height_) == 0;
    const std::uint8_t* srcData[4] = {top, nullptr, nullptr, nullptr};
    int srcStride[4] = {static_cast<int>(step), 0, 0, 0};
    if (src_ == AV_PIX_FMT_PAL8) {
        srcData[1] = reinterpret_cast<const std::uint8_t*>(palette_);
        srcStride[1] = 4;
    }
    return sws_scale(sws_, srcData, srcStride, 0, height_, dst->data, dst->linesize) == height_;
}

bool DibConverter::convertToYuv(const std::uint8_t* bits, std::uint8_t* yuv,
                                std::int64_t stride) const {
    if (!toPlanar_ || (stride != 0 && stride < stride_) || stride > INT_MAX) return false;
    const YuvLayout l = yuvLayout(width_, height_);
    std::uint8_t* const planes[3] = {yuv, yuv + l.ySize, yuv + l.ySize + l.chromaSize};
    const int strides[3] = {width_, l.chromaWidth, l.chromaWidth};
    return convertPlanar(bits, stride > 0 ? stride : stride_, planes, strides);
}

bool DibConverter::convertPlanar(const std::uint8_t* bits, std::int64_t bitsStride,
                                 std::uint8_t* const planes[3], const int strides[3]) const {
    const int stride = static_cast<int>(bitsStride);
    // Rows top..top+rows-1 of the picture; in a bottom-up DIB they begin at
    // stored row height - top - rows, and a negative height reads them up.
    const auto band = [&](int top, int rows) {
        const std::uint8_t* first =
            topDown_ ? bits + bitsStride * top : bits + bitsStride * (height_ - top - rows);
        return toPlanar_(first, stride, planes[0] + std::int64_t(strides[0]) * top, strides[0],
                         planes[1] + std::int64_t(strides[1]) * (top / 2), strides[1],
                         planes[2] + std::int64_t(strides[2]) * (top / 2), strides[2], width_,
                         topDown_ ? rows : -rows) == 0;
    };
    if (bands_ < 2) return band(0, height_);
    // The helpers are made at the first banded frame and kept for the
    // converter's life; none to be had: the whole frame in this thread.
    if (!threads_) threads_ = std::make_unique<BandThreads>(bands_ - 1);
    const int bands = threads_->helpers() + 1;
    if (bands < 2) return band(0, height_);
    const int bandRows = (height_ / bands) & ~1;
    struct Bands {
        const decltype(band)& convert;
        int count, rows, height;
    } bandsOf{band, bands, bandRows, height_};
    return threads_->Run(
        [](void* context, int b) {
            const auto& d = *static_cast<const Bands*>(context);
            const int top = b * d.rows;
            return d.convert(top, b == d.count - 1 ? d.height - top : d.rows);
        },
        &bandsOf);
}

bool DibConverter::borrow(const std::uint8_t* bits, AVFrame* dst) const {
    if (!sameFormat() || !bits) return false;
    // A buffer, so that libavcodec takes a reference instead of copying the
    // rows; read-only, so that nothing writes into the caller's DIB.
    auto* rows = const_cast<std::uint8_t*>(bits);
    const YuvLayout l = yuvLayout(width_, height_);
    const std::int64_t bytes = yuvIn_ ? l.total() : stride_ * height_;
    dst->buf[0] = av_buffer_create(rows, static_cast<std::size_t>(bytes), keepRows, nullptr,
                                   AV_BUFFER_FLAG_READONLY);
    if (!dst->buf[0]) return false;
    dst->format = dst_;
    dst->width = width_;
    dst->height = height_;
    if (yuvIn_) {
        dst->data[0] = rows;
        dst->data[1] = rows + l.ySize;
        dst->data[2] = rows + l.ySize + l.chromaSize;
        dst->linesize[0] = width_;
        dst->linesize[1] = dst->linesize[2] = l.chromaWidth;
        return true;
    }
    dst->data[0] = const_cast<std::uint8_t*>(topRow(rows));
    dst->linesize[0] = static_cast<int>(rowStep());
    if (src_ == AV_PIX_FMT_PAL8) {
        dst->data[1] = reinterpret_cast<std::uint8_t*>(const_cast<std::uint32_t*>(palette_));
        dst->linesize[1] = 4;
    }
    return true;
}

}  // namespace velmora::vfw
