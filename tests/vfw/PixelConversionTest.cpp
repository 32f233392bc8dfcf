// DIB rows into the codecs' picture formats: upright, the colours where
// BT.601 puts them in studio and full range, odd sizes to their last row and
// column, and RGB24 byte-exact in R, G, B order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/vfw/PixelConversion.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace velmora::vfw {
namespace {

struct Rgb {
    int r, g, b;
};

// A bottom-up DIB of width x height whose top-down pixel (x, y) is colour(x, y).
template <typename F>
std::vector<std::uint8_t> MakeDib(int width, int height, int bitCount, F colour) {
    const std::int64_t stride = dibRowBytes(width, bitCount);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride * height), 0xAA);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = bits.data() + stride * (height - 1 - y) + x * (bitCount / 8);
            const Rgb c = colour(x, y);
            p[0] = static_cast<std::uint8_t>(c.b);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.r);
            if (bitCount == 32) p[3] = 0;
        }
    return bits;
}

BITMAPINFOHEADER Header(int width, int height, int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    return h;
}

struct Frame {
    Frame(AVPixelFormat format, int width, int height) : f(av_frame_alloc()) {
        f->format = format;
        f->width = width;
        f->height = height;
        av_frame_get_buffer(f, 0);
    }
    ~Frame() { av_frame_free(&f); }
    int at(int plane, int x, int y) const { return f->data[plane][y * f->linesize[plane] + x]; }
    AVFrame* f;
};

// BT.601 in studio (16-235) or full range.
int LumaOf(Rgb c, bool full) {
    const double y = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    return static_cast<int>(std::lround(full ? y : 16 + y * 219 / 255));
}
int CrOf(Rgb c, bool full) {
    const double v = 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b;
    return static_cast<int>(std::lround(128 + (full ? v : v * 224 / 255)));
}

class ToYuv : public testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(ToYuv, UprightWithBt601ColoursToTheLastOddRowAndColumn) {
    const auto [bitCount, full] = GetParam();
    const int w = 33, h = 17;  // odd: the last chroma sample covers one pixel
    const Rgb red{255, 0, 0}, white{255, 255, 255}, black{0, 0, 0}, grey{128, 128, 128};
    // Top rows red, the bottom row white, the last column black, grey elsewhere.
    auto colour = [&](int x, int y) {
        if (x == w - 1) return black;
        if (y == h - 1) return white;
        return y < 4 ? red : grey;
    };
    const auto bits = MakeDib(w, h, bitCount, colour);
    DibConverter converter;
    ASSERT_TRUE(converter.init(Header(w, h, bitCount), nullptr, 0, AV_PIX_FMT_YUV420P, full));
    EXPECT_TRUE(converter.usesLibyuv());
    Frame out(AV_PIX_FMT_YUV420P, w, h);
    ASSERT_TRUE(converter.convert(bits.data(), out.f));

    for (const auto& [x, y] : {std::pair{0, 0}, {10, 2}, {5, 8}, {10, h - 1}, {w - 1, 5}}) {
        EXPECT_NEAR(out.at(0, x, y), LumaOf(colour(x, y), full), 1) << x << "," << y;
    }
    EXPECT_NEAR(out.at(2, 3, 0), CrOf(red, full), 2) << "red's chroma at the top";
    EXPECT_NEAR(out.at(2, 3, 4), 128, 1) << "grey has none";
    EXPECT_NEAR(out.at(1, w / 2, 4), 128, 1) << "nor has black in the last column";
}

INSTANTIATE_TEST_SUITE_P(DepthsAndRanges, ToYuv,
                         testing::Combine(testing::Values(32, 24), testing::Bool()));

// Shared by threads, a band of rows each: the same bytes as in one pass, at
// odd and even sizes, with bands that do and do not divide the rows evenly.
TEST(ToYuvInBands, EveryBandCountGivesTheOnePassPicture) {
    for (const auto& [w, h] : {std::pair{33, 17}, {64, 30}, {7, 5}, {40, 2}})
        for (const bool full : {false, true}) {
            auto colour = [&](int x, int y) {
                return Rgb{(x * 37 + y * 11) % 256, (x * 5 + y * 29) % 256, (x * y) % 256};
            };
            const auto bits = MakeDib(w, h, 32, colour);
            DibConverter whole;
            ASSERT_TRUE(whole.init(Header(w, h, 32), nullptr, 0, AV_PIX_FMT_YUV420P, full));
            Frame expected(AV_PIX_FMT_YUV420P, w, h);
            ASSERT_TRUE(whole.convert(bits.data(), expected.f));
            for (const int bands : {2, 3, 4}) {
                DibConverter banded;
                ASSERT_TRUE(
                    banded.init(Header(w, h, 32), nullptr, 0, AV_PIX_FMT_YUV420P, full, bands));
                EXPECT_EQ(banded.bands(), std::min(bands, std::max(1, h / 2)));
                Frame out(AV_PIX_FMT_YUV420P, w, h);
                ASSERT_TRUE(banded.convert(bits.data(), out.f));
                for (int plane = 0; plane < 3; ++plane) {
                    const int pw = plane ? (w + 1) / 2 : w, ph = plane ? (h + 1) / 2 : h;
                    for (int y = 0; y < ph; ++y)
                        for (int x = 0; x < pw; ++x)
                            ASSERT_EQ(out.at(plane, x, y), expected.at(plane, x, y))
                                << w << "x" << h << " bands " << bands << " plane " << plane
                                << " at " << x << "," << y;
                }
            }
        }
}

// Top-down rows (a negative height, as the desktop lends them) give the
// picture their bottom-up DIB gives, in one pass or by bands, and into a
// packed 4:2:0 frame the same planes as into an AVFrame.
TEST(ToYuvFromTopDownRows, SamePictureAsTheBottomUpDib) {
    const int w = 33, h = 18;
    auto colour = [](int x, int y) {
        return Rgb{(x * 37 + y * 11) % 256, (x * 5 + y * 29) % 256, (x * y) % 256};
    };
    const auto bottomUp = MakeDib(w, h, 32, colour);
    std::vector<std::uint8_t> topDown(bottomUp.size());
    const std::size_t stride = static_cast<std::size_t>(w) * 4;
    for (int y = 0; y < h; ++y)
        std::copy_n(bottomUp.begin() + static_cast<std::ptrdiff_t>(stride * (h - 1 - y)), stride,
                    topDown.begin() + static_cast<std::ptrdiff_t>(stride * y));
    for (const bool full : {false, true}) {
        DibConverter upright;
        ASSERT_TRUE(upright.init(Header(w, h, 32), nullptr, 0, AV_PIX_FMT_YUV420P, full));
        Frame expected(AV_PIX_FMT_YUV420P, w, h);
        ASSERT_TRUE(upright.convert(bottomUp.data(), expected.f));
        const YuvLayout l = yuvLayout(w, h);
        for (const int bands : {1, 3}) {
            DibConverter fromTop;
            ASSERT_TRUE(
                fromTop.init(Header(w, -h, 32), nullptr, 0, AV_PIX_FMT_YUV420P, full, bands));
            std::vector<std::uint8_t> packed(static_cast<std::size_t>(l.total()), 0x5A);
            ASSERT_TRUE(fromTop.convertToYuv(topDown.data(), packed.data()));
            for (int plane = 0; plane < 3; ++plane) {
                const int pw = plane ? l.chromaWidth : w, ph = plane ? l.chromaHeight : h;
                const std::uint8_t* base =
                    packed.data() + (plane ? l.ySize + (plane - 1) * l.chromaSize : 0);
                for (int y = 0; y < ph; ++y)
                    for (int x = 0; x < pw; ++x)
                        ASSERT_EQ(base[y * pw + x], expected.at(plane, x, y))
                            << "full " << full << " bands " << bands << " plane " << plane << " at "
                            << x << "," << y;
            }
        }
    }
}

// 4:2:0 frames go on as they are, only in the range they were made in.
TEST(FourTwoZeroFrames, PassAsTheyAreInTheirOwnRange) {
    const int w = 7, h = 5;
    const YuvLayout l = yuvLayout(w, h);
    EXPECT_EQ(l.chromaWidth, 4);
    EXPECT_EQ(l.chromaHeight, 3);
    EXPECT_EQ(l.total(), 35 + 2 * 12);
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(l.total()));
    for (std::size_t i = 0; i < packed.size(); ++i) packed[i] = static_cast<std::uint8_t>(i * 7);
    BITMAPINFOHEADER in = Header(w, h, 12);
    for (const auto& [compression, full] : {std::pair{BI_I420, false}, {BI_J420, true}}) {
        in.biCompression = compression;
        DibConverter other;
        EXPECT_FALSE(other.init(in, nullptr, 0, AV_PIX_FMT_YUV420P, !full));
        DibConverter same;
        ASSERT_TRUE(same.init(in, nullptr, 0, AV_PIX_FMT_YUV420P, full));
        EXPECT_TRUE(same.sameFormat());
        Frame copied(AV_PIX_FMT_YUV420P, w, h);
        ASSERT_TRUE(same.convert(packed.data(), copied.f));
        AVFrame* borrowed = av_frame_alloc();
        ASSERT_TRUE(same.borrow(packed.data(), borrowed));
        for (int plane = 0; plane < 3; ++plane) {
            const int pw = plane ? l.chromaWidth : w, ph = plane ? l.chromaHeight : h;
            const std::uint8_t* base =
                packed.data() + (plane ? l.ySize + (plane - 1) * l.chromaSize : 0);
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x) {
                    ASSERT_EQ(copied.at(plane, x, y), base[y * pw + x]) << plane << x << y;
                    ASSERT_EQ(borrowed->data[plane][y * borrowed->linesize[plane] + x],
                              base[y * pw + x]);
                }
        }
        av_frame_free(&borrowed);
    }
    in.biCompression = MakeFourCC('Y', 'U', 'Y', '2');
    DibConverter unknown;
    EXPECT_FALSE(unknown.init(in, nullptr, 0, AV_PIX_FMT_YUV420P, false));
}

TEST(ToYuvInBands, OnlyLargeFramesAreShared) {
    EXPECT_EQ(BandsForSize(1920, 1080), 1);
    EXPECT_EQ(BandsForSize(3840, 2160), BandsForSize(2560, 1440));
}

TEST(ToRgb24, BgrZeroRowsBecomeUprightRgbBytes) {
    const int w = 7, h = 5;
    auto colour = [](int x, int y) { return Rgb{x * 30, y * 50, 255 - x * 10 - y}; };
    const auto bits = MakeDib(w, h, 32, colour);
    DibConverter converter;
    ASSERT_TRUE(converter.init(Header(w, h, 32), nullptr, 0, AV_PIX_FMT_RGB24));
    Frame out(AV_PIX_FMT_RGB24, w, h);
    ASSERT_TRUE(converter.convert(bits.data(), out.f));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = colour(x, y);
            ASSERT_EQ(out.at(0, 3 * x, y), c.r) << x << "," << y;
            ASSERT_EQ(out.at(0, 3 * x + 1, y), c.g);
            ASSERT_EQ(out.at(0, 3 * x + 2, y), c.b);
        }
}

}  // namespace
}  // namespace velmora::vfw
