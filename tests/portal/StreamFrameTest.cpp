// The stream's frames into DIB rows: channel order of each negotiated
// format, row order, crops and parts beyond the frame; the stream's crop
// region; and its buffer lent to the 4:2:0 conversion in place, given back
// without the cursor drawn into it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/PackedDib.h"
#include "engine/YuvGrab.h"
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
        FrameOfBuffer(data.data(), data.size(), 64, 48, 64 * 4 + 12, GetParam(), nullptr, frame));
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
    ASSERT_TRUE(
        FrameOfBuffer(data.data(), data.size(), 16, 16, 64, StreamFormat::BGRx, nullptr, frame));
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
    ASSERT_TRUE(
        FrameOfBuffer(data.data(), data.size(), 8, 8, 32, StreamFormat::RGBx, nullptr, frame));
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
    EXPECT_FALSE(FrameOfBuffer(data.data(), 64 * 15 + 16 * 4 - 1, 16, 16, 64, StreamFormat::BGRx,
                               nullptr, frame));
    EXPECT_FALSE(
        FrameOfBuffer(data.data(), 64 * 15, 16, 16, 64, StreamFormat::BGRx, nullptr, frame));
    EXPECT_FALSE(
        FrameOfBuffer(data.data(), data.size(), 16, 16, 60, StreamFormat::BGRx, nullptr, frame));
    EXPECT_TRUE(frame.empty());
    // The last row needs only its pixels, not the padding after them.
    EXPECT_TRUE(FrameOfBuffer(data.data(), 64 * 15 + 16 * 4, 16, 16, 64, StreamFormat::BGRx,
                              nullptr, frame));
    EXPECT_EQ(frame.sequence, 1u);
}

TEST(StreamFrame, TheCropRegionIsThePictureAndOneOutsideTheBufferIsRefused) {
    const int stride = 64 * 4 + 12;
    const auto data = Buffer(64, 48, stride, StreamFormat::BGRx);
    StreamFrame frame;
    const ScreenRect crop{8, 4, 32, 20};
    ASSERT_TRUE(
        FrameOfBuffer(data.data(), data.size(), 64, 48, stride, StreamFormat::BGRx, &crop, frame));
    EXPECT_EQ(frame.width, 32);
    EXPECT_EQ(frame.height, 20);
    Rows out(32, 20);
    FrameToDib(frame, 0, 0, out.rows);
    EXPECT_EQ(out.At(0, 0), Bgr0(8, 4, 0x40));
    EXPECT_EQ(out.At(31, 19), Bgr0(39, 23, 0x40));
    // A region reaching past the buffer keeps its part inside.
    const ScreenRect past{50, 40, 30, 30};
    ASSERT_TRUE(
        FrameOfBuffer(data.data(), data.size(), 64, 48, stride, StreamFormat::BGRx, &past, frame));
    EXPECT_EQ(frame.width, 14);
    EXPECT_EQ(frame.height, 8);
    const std::uint64_t sequence = frame.sequence;
    const ScreenRect outside{70, 0, 5, 5};
    EXPECT_FALSE(FrameOfBuffer(data.data(), data.size(), 64, 48, stride, StreamFormat::BGRx,
                               &outside, frame));
    EXPECT_EQ(frame.sequence, sequence);
    EXPECT_EQ(frame.width, 14);
}

// A frame's pixel (x, y) at this colour: rows and columns all differ.
std::vector<std::uint8_t> Gradient(int w, int h, int stride) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * h, 0x11);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &data[static_cast<std::size_t>(y) * stride + x * 4];
            p[0] = static_cast<std::uint8_t>(x * 7 + y * 3);
            p[1] = static_cast<std::uint8_t>(y * 11);
            p[2] = static_cast<std::uint8_t>(x * 5 + 40);
            p[3] = 0;
        }
    return data;
}

TEST(LentRows, ARectangleOfACroppedFrameIsConvertedFromItsOwnPixels) {
    const int stride = 64 * 4 + 12;
    auto data = Gradient(64, 48, stride);
    StreamFrame frame;
    const ScreenRect crop{8, 4, 32, 20};
    ASSERT_TRUE(
        FrameOfBuffer(data.data(), data.size(), 64, 48, stride, StreamFormat::BGRx, &crop, frame));
    const int left = 2, top = 3, w = 16, h = 8;
    LentRows lent;
    DibRows rows;
    ASSERT_TRUE(lent.Lend(frame, left, top, w, h, nullptr, rows));
    // In place: the buffer's own bytes, no copy.
    EXPECT_EQ(rows.bits, data.data() + stride * (crop.top + top) + (crop.left + left) * 4);
    EXPECT_EQ(rows.stride(), stride);
    // The same rectangle copied tight, as a reference the converter reads
    // without any stride of its own.
    std::vector<std::uint8_t> tight(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        std::memcpy(&tight[static_cast<std::size_t>(y) * w * 4], rows.row(y),
                    static_cast<std::size_t>(w) * 4);
    DibRows reference;
    reference.bits = tight.data();
    reference.width = w;
    reference.height = h;
    reference.topDown = true;
    const engine::PackedDib fromLent = engine::AllocatePackedYuv(w, h, vfw::BI_I420);
    const engine::PackedDib fromTight = engine::AllocatePackedYuv(w, h, vfw::BI_I420);
    ASSERT_TRUE(fromLent && fromTight);
    engine::YuvGrab grab(*fromLent, 32);
    ASSERT_TRUE(grab.FromLent(rows, fromLent));
    ASSERT_TRUE(grab.FromLent(reference, fromTight));
    const std::size_t bytes = static_cast<std::size_t>(vfw::yuvLayout(w, h).total());
    EXPECT_EQ(
        0, std::memcmp(engine::PackedDibBits(fromLent), engine::PackedDibBits(fromTight), bytes));
    lent.End();
    engine::FreePackedDib(fromLent);
    engine::FreePackedDib(fromTight);
}

TEST(LentRows, OnlyRectanglesInsideABgrFrameAreLent) {
    auto data = Gradient(32, 20, 32 * 4);
    StreamFrame frame;
    ASSERT_TRUE(FrameOfBuffer(data.data(), data.size(), 32, 20, 32 * 4, StreamFormat::BGRx, nullptr,
                              frame));
    LentRows lent;
    DibRows rows;
    EXPECT_FALSE(lent.Lend(frame, 20, 10, 16, 8, nullptr, rows));  // past the right edge
    EXPECT_FALSE(lent.Lend(frame, 0, 13, 16, 8, nullptr, rows));   // past the bottom
    EXPECT_FALSE(lent.Lend(frame, -1, 0, 16, 8, nullptr, rows));   // before the left edge
    EXPECT_TRUE(lent.Lend(frame, 16, 12, 16, 8, nullptr, rows));   // the corner, exactly
    frame.format = StreamFormat::RGBx;  // the converter reads B, G, R only
    EXPECT_FALSE(lent.Lend(frame, 0, 0, 16, 8, nullptr, rows));
}

// The compositor may fill only the changed parts of a buffer it gets back:
// a cursor left in it would show in later frames where it no longer is.
TEST(LentRows, TheBufferGoesBackWithoutTheCursorDrawnIntoIt) {
    const int stride = 40 * 4 + 8;
    auto data = Gradient(40, 30, stride);
    const auto original = data;
    StreamFrame frame;
    ASSERT_TRUE(FrameOfBuffer(data.data(), data.size(), 40, 30, stride, StreamFormat::BGRx, nullptr,
                              frame));
    CursorImage cursor;
    cursor.width = cursor.height = 6;
    cursor.argb.assign(36, 0xffffffffu);  // opaque white
    const int left = 10, top = 10;
    // Over the lent rectangle's corner: partly outside it.
    for (const ScreenRect at : {ScreenRect{8, 8, 6, 6}, ScreenRect{20, 15, 6, 6}}) {
        LentRows lent;
        DibRows rows;
        ASSERT_TRUE(lent.Lend(frame, left, top, 20, 12, &at, rows));
        drawCursor(cursor, at.left - left, at.top - top, rows);
        ASSERT_NE(data, original) << "the cursor was drawn into the buffer itself";
        lent.End();
        EXPECT_EQ(data, original) << "at " << at.left << "," << at.top;
    }
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
