// The frame grabber: frame layout at each depth, pixels, cursor placement.

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/vfw/PixelConversion.h"
#include "platform/x11/Dib.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

class GrabberTest : public EngineTest {};

std::uint32_t PixelAt(PackedDib frame, int x, int y) {
    const std::int64_t stride = platform::dibStride(frame->biWidth, frame->biBitCount);
    const std::uint8_t* row = PackedDibBits(frame) + stride * (frame->biHeight - 1 - y);
    const std::uint8_t* p = row + x * (frame->biBitCount / 8);
    return static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

TEST_F(GrabberTest, FrameLayoutFollowsTheDesktopDepth) {
    auto& cam = Make(640, 480, 32);
    PackedDib frame = cam.GrabFrame(0, 0, 300, 300);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->biSize, 40u);
    EXPECT_EQ(frame->biWidth, 300);
    EXPECT_EQ(frame->biHeight, 300);
    EXPECT_EQ(frame->biPlanes, 1);
    EXPECT_EQ(frame->biBitCount, 32);
    EXPECT_EQ(frame->biCompression, 0u);
    EXPECT_EQ(frame->biSizeImage, 360000u);
    EXPECT_EQ(frame->biClrUsed, 0u);
    EXPECT_EQ(PackedDibFormatSize(frame) + frame->biSizeImage, 360040u);
    cam.FreeFrame(frame);
    EXPECT_EQ(frame, nullptr);
    cam.FreeFrame(frame);  // nothing held: nothing happens

    camera.reset();
    auto& cam24 = Make(640, 480, 24);
    frame = cam24.GrabFrame(0, 0, 301, 10);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->biSizeImage, 904u * 10);
    cam24.FreeFrame(frame);
}

TEST_F(GrabberTest, EightBitFramesCarryTheirColourTable) {
    auto& cam = Make(640, 480, 8);
    EXPECT_EQ(cam.ScreenBitsPerPixel, 8);
    PackedDib frame = cam.GrabFrame(0, 0, 33, 7);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->biClrUsed, 256u);
    EXPECT_EQ(PackedDibFormatSize(frame), 40 + 1024);
    EXPECT_EQ(frame->biSizeImage, 36u * 7);
    EXPECT_EQ(std::memcmp(PackedDibColorTable(frame), platform::dibPalette8(), 1024), 0);
    cam.FreeFrame(frame);
}

TEST_F(GrabberTest, RowsAreBottomUpAndOffScreenPartsStayBlack) {
    auto& cam = Make(640, 480, 32);
    desktop->setPixel(100, 200, 0x123456);
    desktop->setPixel(139, 229, 0xABCDEF);
    cam.CaptureCursor = false;
    PackedDib frame = cam.GrabFrame(100, 200, 40, 30);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(PixelAt(frame, 0, 0), 0x123456u);
    EXPECT_EQ(PixelAt(frame, 39, 29), 0xABCDEFu);
    cam.FreeFrame(frame);

    frame = cam.GrabFrame(630, 470, 20, 20);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(PixelAt(frame, 15, 15), 0u);
    cam.FreeFrame(frame);

    // The loop reuses its frames: one that held a full picture keeps none
    // of it where the next grab lies off the screen.
    frame = cam.GrabFrame(0, 0, 20, 20);
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(PixelAt(frame, 15, 15), 0u);
    ASSERT_TRUE(cam.GrabInto(frame, 630, 470));
    EXPECT_EQ(PixelAt(frame, 15, 15), 0u);
    EXPECT_EQ(PixelAt(frame, 5, 5), desktop->pixel(635, 475));
    ASSERT_TRUE(cam.GrabInto(frame, -10, -10));
    EXPECT_EQ(PixelAt(frame, 5, 5), 0u);
    EXPECT_EQ(PixelAt(frame, 15, 15), desktop->pixel(5, 5));
    cam.FreeFrame(frame);

    // Rows of a depth the screen cannot be converted to come out black.
    frame = cam.BitmapToPackedDib(20, 20, 4);
    ASSERT_NE(frame, nullptr);
    std::memset(PackedDibBits(frame), 0xFF, frame->biSizeImage);
    ASSERT_TRUE(cam.GrabInto(frame, 0, 0));
    const auto* bits = static_cast<const unsigned char*>(PackedDibBits(frame));
    EXPECT_EQ(std::count(bits, bits + frame->biSizeImage, 0), frame->biSizeImage);
    cam.FreeFrame(frame);
}

TEST_F(GrabberTest, CursorIsDrawnAtItsHotSpotOnlyWhenShownAndAsked) {
    auto& cam = Make(640, 480, 32);
    desktop->fill(0x000000);
    desktop->cursor.x = 105;
    desktop->cursor.y = 205;
    desktop->cursor.xhot = 5;
    desktop->cursor.yhot = 5;
    desktop->cursor.width = 4;
    desktop->cursor.height = 4;
    desktop->cursor.argb.assign(16, 0xFFFF0000);

    PackedDib frame = cam.GrabFrame(100, 200, 20, 20);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(PixelAt(frame, 0, 0), 0xFF0000u);  // image origin at (0, 0)
    EXPECT_EQ(PixelAt(frame, 3, 3), 0xFF0000u);
    EXPECT_EQ(PixelAt(frame, 4, 4), 0u);
    cam.FreeFrame(frame);

    desktop->cursorShowing = false;
    frame = cam.GrabFrame(100, 200, 20, 20);
    EXPECT_EQ(PixelAt(frame, 0, 0), 0u);
    cam.FreeFrame(frame);

    desktop->cursorShowing = true;
    cam.CaptureCursor = false;
    frame = cam.GrabFrame(100, 200, 20, 20);
    EXPECT_EQ(PixelAt(frame, 0, 0), 0u);
    cam.FreeFrame(frame);
}

// A 4:2:0 frame is the DIB the same grab gives, cursor and black border
// included, converted: whether the desktop lends its rows (on the screen)
// or not (partly off it, or a desktop that cannot lend).
TEST_F(GrabberTest, FourTwoZeroFramesAreTheGrabbedPictureConvertedLentOrNot) {
    auto& cam = Make(64, 48, 32);
    desktop->paint([](int x, int y) {
        return static_cast<std::uint32_t>((x * 37 + y * 11) % 256) << 16 |
               static_cast<std::uint32_t>((x * 5 + y * 29) % 256) << 8 |
               static_cast<std::uint32_t>((x * y) % 256);
    });
    desktop->cursor = {20, 14, 1, 1, 3, 3, std::vector<std::uint32_t>(9, 0xFFFFFFFF)};
    const int w = 30, h = 22;
    for (const auto compression : {vfw::BI_I420, vfw::BI_J420})
        for (const auto& [left, top, lends, lent] :
             {std::tuple{10, 8, true, 1}, {-6, 30, true, 0}, {10, 8, false, 0}}) {
            SCOPED_TRACE(testing::Message() << left << "," << top << " lends " << lends);
            desktop->lends = lends;
            desktop->lentCount = 0;
            PackedDib dib = cam.GrabFrame(left, top, w, h);
            ASSERT_NE(dib, nullptr);
            vfw::DibConverter converter;
            ASSERT_TRUE(
                converter.init(*dib, nullptr, 0, AV_PIX_FMT_YUV420P, compression == vfw::BI_J420));
            PackedDib expected = AllocatePackedYuv(w, h, compression);
            ASSERT_TRUE(converter.convertToYuv(PackedDibBits(dib), PackedDibBits(expected)));

            PackedDib frame = AllocatePackedYuv(w, h, compression);
            ASSERT_NE(frame, nullptr);
            // Written over as a reused frame would be.
            std::memset(PackedDibBits(frame), 0x5A, frame->biSizeImage);
            ASSERT_TRUE(cam.GrabInto(frame, left, top));
            EXPECT_EQ(desktop->lentCount, lent);
            EXPECT_EQ(frame->biSizeImage, 30u * 22 + 2 * 15 * 11);
            EXPECT_EQ(
                std::memcmp(PackedDibBits(frame), PackedDibBits(expected), frame->biSizeImage), 0);
            cam.FreeFrame(dib);
            FreePackedDib(expected);
            FreePackedDib(frame);
        }
}

// A recording with a codec that codes 4:2:0 (MJPEG, in full range) is made
// from the rows the desktop lends and reads back in the screen's colours.
TEST_F(GrabberTest, AFourTwoZeroCodecRecordsFromTheLentRows) {
    auto& cam = Make(64, 48, 32);
    desktop->fill(0x3060c0);
    desktop->lends = true;
    desktop->cursorShowing = false;
    cam.CompressorIndex = IndexOf(MakeFourCC('M', 'J', 'P', 'G'));
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    ASSERT_EQ(RunOnce(Target()), 1) << Text(Errors());
    EXPECT_GE(cam.FramesWritten, 10);
    EXPECT_EQ(desktop->lentCount, cam.FramesWritten) << "every frame from lent rows";
    EXPECT_EQ(Probe(Target(), "stream=codec_tag_string,width,height"), "MJPG,64,48");
    const std::string rgb = test::capture("ffmpeg -v error -i '" + Target() +
                                          "' -frames:v 1 -vf crop=2:2:20:20 -f rawvideo "
                                          "-pix_fmt rgb24 - | od -An -tu1");
    int r = -1, g = -1, b = -1;
    ASSERT_EQ(std::sscanf(rgb.c_str(), "%d %d %d", &r, &g, &b), 3) << rgb;
    EXPECT_NEAR(r, 0x30, 4);
    EXPECT_NEAR(g, 0x60, 4);
    EXPECT_NEAR(b, 0xc0, 4);
}

TEST_F(GrabberTest, FailedGrabGivesNoFrame) {
    auto& cam = Make();
    desktop->failGrabNumber = desktop->grabCount + 1;
    EXPECT_EQ(cam.GrabFrame(0, 0, 10, 10), nullptr);
    PackedDib frame = cam.GrabFrame(0, 0, 10, 10);
    EXPECT_NE(frame, nullptr);
    cam.FreeFrame(frame);
}

TEST_F(GrabberTest, ForeignCursorReportsPointerAndHandle) {
    auto& cam = Make();
    desktop->cursor.x = 12;
    desktop->cursor.y = 34;
    desktop->cursorHandle = 77;
    const auto info = cam.QueryForeignCursor();
    EXPECT_EQ(info.cursor, 77u);
    EXPECT_EQ(info.x, 12);
    EXPECT_EQ(info.y, 34);
}

}  // namespace
}  // namespace velmora::enginetest
