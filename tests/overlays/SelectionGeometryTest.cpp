// The area selector's arithmetic: drags in every direction with the 8-pixel
// steps, the smallest size a drag is raised to, the arrow keys' moves and
// the magnifier's place and patch.

#include <gtest/gtest.h>

#include <QImage>

#include "overlays/Magnifier.h"
#include "overlays/SelectionGeometry.h"

using namespace velmora;

namespace {

TEST(SelectionGeometryTest, DragsAreCutBackTowardTheAnchorInStepsOf8) {
    // Up and left of the anchor: the anchor is the right and bottom edge, a
    // width of 19 becomes 16 and a height of 10 becomes 8.
    EXPECT_EQ(DragRect({100, 100}, {81, 90}), (TRect{84, 92, 100, 100}));
    // 7 right and 20 down: no width yet, 16 high.
    EXPECT_EQ(DragRect({100, 100}, {107, 120}), (TRect{100, 100, 100, 116}));
    // Down and right, and exact multiples.
    EXPECT_EQ(DragRect({101, 93}, {430, 270}), (TRect{101, 93, 429, 269}));
    EXPECT_EQ(DragRect({0, 0}, {64, 8}), (TRect{0, 0, 64, 8}));
    // Up and right, down and left.
    EXPECT_EQ(DragRect({50, 50}, {70, 31}), (TRect{50, 34, 66, 50}));
    EXPECT_EQ(DragRect({50, 50}, {33, 69}), (TRect{34, 50, 50, 66}));
    // Back at the anchor: an empty rectangle there.
    EXPECT_EQ(DragRect({5, 6}, {5, 6}), (TRect{5, 6, 5, 6}));

    EXPECT_EQ(SnapTowardAnchor(100, 81), 84);
    EXPECT_EQ(SnapTowardAnchor(100, 119), 116);
    EXPECT_EQ(SnapTowardAnchor(-3, -20), -19);  // the remainder keeps the sign
}

TEST(SelectionGeometryTest, SidesShorterThan16AreRaisedAndKeptOnThePicture) {
    const QSize picture(1280, 720);
    // Enter right after opening, and a click without movement at (300, 200).
    EXPECT_EQ(RaisedToSmallest({}, picture), (TRect{0, 0, 16, 16}));
    EXPECT_EQ(RaisedToSmallest({300, 200, 300, 200}, picture), (TRect{300, 200, 316, 216}));
    // 7 right and 20 down: 0 wide and 16 high become 16 x 16; an 8 x 8 drag
    // up and left grows right and down from its left and top.
    EXPECT_EQ(RaisedToSmallest(DragRect({100, 100}, {107, 120}), picture),
              (TRect{100, 100, 116, 116}));
    EXPECT_EQ(RaisedToSmallest({92, 92, 100, 100}, picture), (TRect{92, 92, 108, 108}));
    EXPECT_EQ(RaisedToSmallest({10, 10, 18, 50}, picture), (TRect{10, 10, 26, 50}));
    const TRect large{101, 93, 429, 269};
    EXPECT_EQ(RaisedToSmallest(large, picture), large);
    // At the right and bottom edges it grows left and up instead: nothing
    // beyond the screen can be recorded.
    EXPECT_EQ(RaisedToSmallest({1279, 719, 1279, 719}, picture), (TRect{1264, 704, 1280, 720}));
    EXPECT_EQ(RaisedToSmallest({1272, 300, 1280, 340}, picture), (TRect{1264, 300, 1280, 340}));

    EXPECT_EQ(RegionOf({101, 93, 429, 269}), (TRegion{101, 93, 328, 176}));
    EXPECT_EQ(RegionOf({2400, 300, 2720, 540}), (TRegion{2400, 300, 320, 240}));
}

TEST(SelectionGeometryTest, ArrowKeysMoveTheRectangleButKeepItOnThePicture) {
    const QSize picture(1280, 720);
    const TRect r{100, 100, 420, 260};
    EXPECT_EQ(MovedWithin(r, 8, 0, picture), (TRect{108, 100, 428, 260}));
    EXPECT_EQ(MovedWithin(r, 0, -1, picture), (TRect{100, 99, 420, 259}));
    // Against the edges it goes as far as it can.
    EXPECT_EQ(MovedWithin({4, 3, 20, 19}, -8, -8, picture), (TRect{0, 0, 16, 16}));
    EXPECT_EQ(MovedWithin({1270, 710, 1276, 716}, 8, 8, picture), (TRect{1274, 714, 1280, 720}));
    // A rectangle already past an edge is left where it is on that axis.
    EXPECT_EQ(MovedWithin({-4, 10, 20, 30}, 8, 8, picture), (TRect{-4, 18, 20, 38}));
}

TEST(SelectionGeometryTest, MagnifierSitsBesideTheMouseOnItsMonitorAndShowsItsPixelsEnlarged) {
    const QRect picture(0, 0, 1280, 720);
    const QRect box = MagnifierRect({300, 200}, picture);
    EXPECT_EQ(box.topLeft(), QPoint(300 + kMagnifierGap, 200 + kMagnifierGap));
    EXPECT_EQ(box.width(), kMagnifierPatch * kMagnifierZoom + 2 * kMagnifierBorder);
    // Near the right and bottom edges it goes to the other side.
    const QRect corner = MagnifierRect({1270, 710}, picture);
    EXPECT_EQ(corner.right(), 1270 - kMagnifierGap - 1);
    EXPECT_EQ(corner.bottom(), 710 - kMagnifierGap - 1);
    EXPECT_EQ(MagnifierRect({300, 200}, picture, 2).width(), 2 * box.width() - 4);
    // Near the right edge of the left one of two monitors it stays on that
    // monitor; on the right one it goes right as far as that one reaches.
    const QRect leftMonitor(0, 0, 1920, 1080), rightMonitor(1920, 0, 1920, 1080);
    EXPECT_EQ(MagnifierRect({1900, 500}, leftMonitor).right(), 1900 - kMagnifierGap - 1);
    EXPECT_EQ(MagnifierRect({3000, 500}, rightMonitor).left(), 3000 + kMagnifierGap);
    EXPECT_EQ(MagnifierRect({3830, 1070}, rightMonitor).right(), 3830 - kMagnifierGap - 1);

    QImage image(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x, y, 7));
    const QImage patch = MagnifiedPatch(image, {2, 20});
    ASSERT_EQ(patch.size(), QSize(kMagnifierPatch, kMagnifierPatch));
    EXPECT_EQ(patch.pixel(7, 7), qRgb(2, 20, 7));  // the mouse's pixel in the middle
    EXPECT_EQ(patch.pixel(8, 3), qRgb(3, 16, 7));
    EXPECT_EQ(qRed(patch.pixel(0, 7)) | qGreen(patch.pixel(0, 7)), 0);  // left of the picture
}

}  // namespace
