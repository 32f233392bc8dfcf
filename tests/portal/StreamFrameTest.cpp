// The stream's frames into DIB rows: channel order of each negotiated
// format, row order, crops and parts beyond the frame.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/portal/StreamFrame.h"
#include "platform/x11/Dib.h"

namespace velmora::platform::portal {
namespace {

// A w x h stream buffer whose pixel (x, y) is r=x, g=y, b=0x40, stored in
// the format's byte order, rows padded to stride.
std::vector<std::uint8_t> Buffer(int w, int h, int stride, StreamFormat format) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * h, 0xee);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &data[static_cast<std::size_t>(y) * stride + x * 4];
            const bool bgr = format == StreamFormat::BGRx || format == StreamFormat::BGRA;
            p[0] = bgr ? 0x40 : static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = bgr ? static_cast<std::uint8_t>(x) : 0x40;
            p[3] = 0x7f;  // alpha or padding: never in the DIB
        }
    return data;
}

struct Rows {
    std::vector<std::uint8_t> bits;
    DibRows rows;
    Rows(int w, int h, int bitCount = 32) {
        rows.width = w;
        rows.height = h;
        rows.bitCount = bitCount;
        bits.assign(static_cast<std::size_t>(rows.stride() * h), 0);
        rows.bits = bits.data();
    }
    // B, G, R, pad of picture pixel (x, y) at 32 bits.
    std::uint32_t At(int x, int y) const {
        const std::uint8_t* p = rows.row(y) + x * 4;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
};

std::uint32_t Bgr0(int r, int g, int b) {
    return std::uint32_t(b) | std::uint32_t(g) << 8 | std::uint32_t(r) << 16;
}

class EachFormat : public ::testing::TestWithParam<StreamFormat> {};

TEST_P(EachFormat, CropLandsTopDownInBottomUpRowsWithoutAlpha) {
    StreamFrame frame;
    const auto data = Buffer(64, 48, 64 * 4 + 12, GetParam());
    ASSERT_TRUE(
        StoreStreamBuffer(data.data(), data.size(), 64, 48, 64 * 4 + 12, GetParam(), frame));
    Rows out(10, 6);
    FrameToDib(frame, 20, 30, out.rows);
    EXPECT_EQ(out.At(0, 0), Bgr0(20, 30, 0x40));
    EXPECT_EQ(out.At(9, 5), Bgr0(29, 35, 0x40));
    // The first stored row is the picture's bottom row.
    EXPECT_EQ(out.bits[0], 0x40);
    EXPECT_EQ(out.bits[1], 35);
    EXPECT_EQ(out.bits[2], 20);
}

INSTANTIATE_TEST_SUITE_P(Formats, EachFormat,
                         ::testing::Values(StreamFormat::BGRx, StreamFormat::BGRA,
                                           StreamFormat::RGBx, StreamFormat::RGBA));

TEST(StreamFrame, PartsBeyondTheFrameStayAsTheCallerLeftThem) {
    StreamFrame frame;
    const auto data = Buffer(16, 16, 64, StreamFormat::BGRx);
    ASSERT_TRUE(StoreStreamBuffer(data.data(), data.size(), 16, 16, 64, StreamFormat::BGRx, frame));
    Rows out(8, 8);
    FrameToDib(frame, 12, -4, out.rows);  // 4 columns and 4 rows on the frame
    EXPECT_EQ(out.At(0, 0), 0u);
    EXPECT_EQ(out.At(0, 4), Bgr0(12, 0, 0x40));
    EXPECT_EQ(out.At(3, 7), Bgr0(15, 3, 0x40));
    EXPECT_EQ(out.At(4, 7), 0u);
    Rows away(8, 8);
    FrameToDib(frame, 100, 100, away.rows);
    EXPECT_EQ(away.bits, std::vector<std::uint8_t>(away.bits.size(), 0));
}

TEST(StreamFrame, OtherDibDepthsGetTheSameColours) {
    StreamFrame frame;
    const auto data = Buffer(8, 8, 32, StreamFormat::RGBx);
    ASSERT_TRUE(StoreStreamBuffer(data.data(), data.size(), 8, 8, 32, StreamFormat::RGBx, frame));
    Rows out24(3, 2, 24);
    FrameToDib(frame, 5, 1, out24.rows);
    const std::uint8_t* p = out24.rows.row(1) + 2 * 3;  // pixel (7, 2)
    EXPECT_EQ(p[0], 0x40);
    EXPECT_EQ(p[1], 2);
    EXPECT_EQ(p[2], 7);
    Rows out16(2, 2, 16);
    FrameToDib(frame, 0, 0, out16.rows);
    std::uint16_t v;
    std::memcpy(&v, out16.rows.row(0), 2);
    EXPECT_EQ(v & 31, 0x40 >> 3);  // 5-5-5, blue lowest
}

TEST(StreamFrame, ABufferShorterThanItsSizeSaysIsRefused) {
    StreamFrame frame;
    const auto data = Buffer(16, 16, 64, StreamFormat::BGRx);
    EXPECT_FALSE(StoreStreamBuffer(data.data(), 64 * 15 + 16 * 4 - 1, 16, 16, 64,
                                   StreamFormat::BGRx, frame));
    EXPECT_FALSE(StoreStreamBuffer(data.data(), 64 * 15, 16, 16, 64, StreamFormat::BGRx, frame));
    EXPECT_FALSE(
        StoreStreamBuffer(data.data(), data.size(), 16, 16, 60, StreamFormat::BGRx, frame));
    EXPECT_TRUE(frame.empty());
    // The last row needs only its pixels, not the padding after them.
    EXPECT_TRUE(
        StoreStreamBuffer(data.data(), 64 * 15 + 16 * 4, 16, 16, 64, StreamFormat::BGRx, frame));
    EXPECT_EQ(frame.sequence, 1u);
}

TEST(StreamFrame, CursorBitmapIsPremultipliedForBlending) {
    // One pixel each: opaque red, half-transparent white, transparent.
    const std::uint8_t rgba[] = {255, 0, 0, 255, 255, 255, 255, 128, 9, 9, 9, 0};
    CursorImage cursor;
    CursorFromBitmap(rgba, 3, 1, 12, StreamFormat::RGBA, cursor);
    ASSERT_EQ(cursor.argb.size(), 3u);
    EXPECT_EQ(cursor.argb[0], 0xffff0000u);
    EXPECT_EQ(cursor.argb[1], 0x80808080u);
    EXPECT_EQ(cursor.argb[2], 0u);
    const std::uint8_t bgrx[] = {0, 0, 200, 0};
    CursorFromBitmap(bgrx, 1, 1, 4, StreamFormat::BGRx, cursor);
    EXPECT_EQ(cursor.argb[0], 0xffc80000u);  // no alpha channel: opaque
}

}  // namespace
}  // namespace velmora::platform::portal
