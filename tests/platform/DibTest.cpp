// Pixel conversion into DIB rows and cursor blending, on in-memory pictures.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/x11/Desktop.h"
#include "tests/doubles/FakeDesktop.h"

using namespace velmora::platform;
using velmora::test::FakeDesktop;

namespace {

struct Frame {
    std::vector<std::uint8_t> bits;
    std::vector<std::uint32_t> table = std::vector<std::uint32_t>(256, 0xdeadbeef);
    DibRows rows;
    Frame(int w, int h, int bitCount) {
        bits.assign(static_cast<std::size_t>(dibStride(w, bitCount) * h), 0);
        rows = {bits.data(), w, h, bitCount, table.data()};
    }
    // Pixel at picture position (x, y), top-down, as 0x00RRGGBB.
    std::uint32_t rgb(int x, int y) const {
        const std::uint8_t* p = rows.row(y) + std::int64_t(x) * (rows.bitCount / 8);
        switch (rows.bitCount) {
            case 32:
            case 24:
                return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
            case 16: {
                std::uint16_t v;
                std::memcpy(&v, p, 2);
                return v;  // raw 5-5-5
            }
            default:
                return table[*p] & 0xffffff;
        }
    }
};

}  // namespace

TEST(DibLayout, StrideIsPaddedTo32BitsWithoutOverflow) {
    EXPECT_EQ(dibStride(300, 32), 1200);
    EXPECT_EQ(dibStride(301, 24), 904);
    EXPECT_EQ(dibStride(301, 16), 604);
    EXPECT_EQ(dibStride(301, 8), 304);
    EXPECT_EQ(dibStride(300, 32) * 300, 360000);
    // 2^29 pixels at 32 bits would overflow 32-bit arithmetic.
    EXPECT_EQ(dibStride(std::int64_t(1) << 29, 32), std::int64_t(1) << 31);
}

TEST(DibConversion, RowsAreStoredBottomUpAtEveryDepth) {
    FakeDesktop desktop(8, 4);
    desktop.fill(0x000000);
    desktop.setPixel(0, 0, 0xff0000);  // top-left red
    desktop.setPixel(7, 3, 0x0000ff);  // bottom-right blue
    for (int depth : {32, 24, 16, 8}) {
        SCOPED_TRACE(depth);
        Frame f(8, 4, depth);
        ASSERT_TRUE(desktop.grab(0, 0, f.rows));
        const std::uint8_t* firstStored = f.bits.data();  // bottom row of the picture
        const std::int64_t lastX = 7 * (depth / 8);
        switch (depth) {
            case 32:
                EXPECT_EQ(firstStored[lastX + 0], 0xff);  // B of the blue pixel
                EXPECT_EQ(firstStored[lastX + 3], 0);     // the fourth byte stays 0
                break;
            case 24:
                EXPECT_EQ(firstStored[lastX + 0], 0xff);
                EXPECT_EQ(firstStored[lastX + 2], 0x00);
                break;
            case 16:
                EXPECT_EQ(firstStored[lastX] | firstStored[lastX + 1] << 8, 0x001f);
                break;
            case 8:
                EXPECT_EQ(f.table[firstStored[7]] & 0xffffff, 0x0000ffu);
                break;
        }
        EXPECT_EQ(f.rgb(0, 0), depth == 16 ? 0x7c00u : 0xff0000u);
    }
}

TEST(DibConversion, SixteenBitSourcesFollowTheirMasks) {
    // A 5-6-5 source pixel of pure green and one of mid grey.
    const std::uint16_t src[2] = {0x07e0, 0x8410};
    PixelSource s;
    s.data = reinterpret_cast<const std::uint8_t*>(src);
    s.width = 2;
    s.height = 1;
    s.bytesPerLine = 4;
    s.bitsPerPixel = 16;
    s.redMask = 0xf800;
    s.greenMask = 0x07e0;
    s.blueMask = 0x001f;
    Frame f16(2, 1, 16), f32(2, 1, 32);
    copyToDib(s, 0, 0, 2, 1, f16.rows, 0, 0);
    copyToDib(s, 0, 0, 2, 1, f32.rows, 0, 0);
    EXPECT_EQ(f16.rgb(0, 0), 0x03e0u);  // 5-5-5 green
    EXPECT_EQ(f32.rgb(0, 0), 0x00ff00u);
    EXPECT_EQ(f16.rgb(1, 0), 0x4210u);  // 16/31 per channel
    EXPECT_EQ(f32.rgb(1, 0), 0x848284u);
}

TEST(DibConversion, TwentyFourAndMsbFirstSourcesAreRead) {
    const std::uint8_t lsb24[3] = {0x30, 0x20, 0x10};  // B,G,R in memory
    const std::uint8_t msb32[4] = {0x00, 0x10, 0x20, 0x30};
    PixelSource s;
    s.width = 1;
    s.height = 1;
    Frame f(1, 1, 32);
    s.data = lsb24, s.bitsPerPixel = 24, s.bytesPerLine = 3;
    copyToDib(s, 0, 0, 1, 1, f.rows, 0, 0);
    EXPECT_EQ(f.rgb(0, 0), 0x102030u);
    s.data = msb32, s.bitsPerPixel = 32, s.bytesPerLine = 4, s.msbFirst = true;
    copyToDib(s, 0, 0, 1, 1, f.rows, 0, 0);
    EXPECT_EQ(f.rgb(0, 0), 0x102030u);
}

TEST(DibConversion, EightBitFramesCarryTheWholePalette) {
    FakeDesktop desktop(4, 1);
    desktop.setPixel(0, 0, 0x000000);
    desktop.setPixel(1, 0, 0xffffff);
    desktop.setPixel(2, 0, 0x808080);
    desktop.setPixel(3, 0, 0xcc3366);
    Frame f(4, 1, 8);
    ASSERT_TRUE(desktop.grab(0, 0, f.rows));
    EXPECT_EQ(std::memcmp(f.table.data(), dibPalette8(), 1024), 0);
    EXPECT_EQ(f.rgb(0, 0), 0x000000u);
    EXPECT_EQ(f.rgb(1, 0), 0xffffffu);
    const std::uint32_t grey = f.rgb(2, 0);
    EXPECT_EQ(grey >> 16, grey & 0xff);  // stays grey
    EXPECT_NEAR(int(grey & 0xff), 0x80, 4);
    EXPECT_EQ(f.rgb(3, 0), 0xcc3366u);  // on the colour cube
}

TEST(DibConversion, RectangleBeyondTheScreenLeavesTheRestZero) {
    FakeDesktop desktop(10, 10);
    desktop.fill(0x112233);
    Frame f(6, 6, 32);
    ASSERT_TRUE(desktop.grab(7, -2, f.rows));  // 3 columns and 4 rows on screen
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool onScreen = x < 3 && y >= 2;
            EXPECT_EQ(f.rgb(x, y), onScreen ? 0x112233u : 0u) << x << "," << y;
        }
}

namespace {
CursorImage squareCursor(int size, std::uint32_t argb, int xhot, int yhot) {
    CursorImage c;
    c.width = c.height = size;
    c.xhot = xhot;
    c.yhot = yhot;
    c.argb.assign(static_cast<std::size_t>(size) * size, argb);
    return c;
}
}  // namespace

TEST(CursorOverlay, OpaqueTranslucentAndClearPixels) {
    for (int depth : {32, 24, 16, 8}) {
        SCOPED_TRACE(depth);
        FakeDesktop desktop(8, 8);
        desktop.fill(0x000000);
        Frame f(8, 8, depth);
        ASSERT_TRUE(desktop.grab(0, 0, f.rows));
        CursorImage c = squareCursor(3, 0xffffffff, 0, 0);
        c.argb[1] = 0x80800000;  // half-covering red, premultiplied
        c.argb[2] = 0x00000000;  // clear
        drawCursor(c, 2, 2, f.rows);
        const std::uint32_t white = depth == 16 ? 0x7fff : 0xffffff;
        EXPECT_EQ(f.rgb(2, 2), white);
        EXPECT_EQ(f.rgb(4, 2), 0u);
        EXPECT_EQ(f.rgb(1, 1), 0u);
        if (depth == 32 || depth == 24) {
            EXPECT_EQ(f.rgb(3, 2), 0x800000u);
        }
    }
}

TEST(CursorOverlay, BlendsOverTheScreenAndClipsAtTheEdges) {
    FakeDesktop desktop(4, 4);
    desktop.fill(0x0000ff);
    Frame f(4, 4, 32);
    ASSERT_TRUE(desktop.grab(0, 0, f.rows));
    // Half-transparent black over blue halves the blue.
    drawCursor(squareCursor(8, 0x80000000, 0, 0), -2, -2, f.rows);
    EXPECT_EQ(f.rgb(0, 0), 0x00007fu);
    EXPECT_EQ(f.rgb(3, 3), 0x00007fu);
    // Wholly outside: nothing changes and nothing is touched out of bounds.
    drawCursor(squareCursor(8, 0xffffffff, 0, 0), 100, -50, f.rows);
    EXPECT_EQ(f.rgb(3, 3), 0x00007fu);
}

TEST(CursorOverlay, MalformedImageIsIgnored) {
    Frame f(4, 4, 32);
    CursorImage c;
    c.width = c.height = 16;  // but no pixels
    drawCursor(c, 0, 0, f.rows);
    EXPECT_EQ(f.rgb(0, 0), 0u);
}
