// The area selector's arithmetic: drags in every direction with the 8-pixel
// steps, what accepting stores, where the labels go, the arrow keys' moves
// and the magnifier's place and patch.

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

TEST(SelectionGeometryTest, AcceptingStoresThePositionAndAtLeast16PixelsEachWay) {
    // Enter right after opening: the rectangle is all zero.
    EXPECT_EQ(AcceptedRegion({}), (TRegion{0, 0, 16, 16}));
    // A click without movement at (300, 200).
    EXPECT_EQ(AcceptedRegion({300, 200, 300, 200}), (TRegion{300, 200, 16, 16}));
    // 7 right and 20 down: 0 wide and 16 high become 16 x 16.
    EXPECT_EQ(AcceptedRegion(DragRect({100, 100}, {107, 120})), (TRegion{100, 100, 16, 16}));
    EXPECT_EQ(AcceptedRegion({84, 92, 100, 100}), (TRegion{84, 92, 16, 16}));
    EXPECT_EQ(AcceptedRegion({101, 93, 429, 269}), (TRegion{101, 93, 328, 176}));
    EXPECT_EQ(AcceptedRegion({10, 10, 18, 50}), (TRegion{10, 10, 16, 40}));
}

TEST(SelectionGeometryTest, LabelsSurroundTheRectangleWithMiddlesRoundedHalfToEven) {
    const auto labels = SelectionLabels({101, 93, 429, 269}, QStringLiteral("hint"));
    ASSERT_EQ(labels.size(), 7u);
    // midX = 265, midY = 181.
    const std::vector<std::pair<QPoint, QString>> expected{
        {{101, 23}, QStringLiteral("hint")},        {{51, 151}, QStringLiteral("Left")},
        {{51, 181}, QStringLiteral("101")},         {{431, 151}, QStringLiteral("Width")},
        {{431, 181}, QStringLiteral("328")},        {{215, 66}, QStringLiteral("Top=93")},
        {{215, 269}, QStringLiteral("Height=176")},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(labels[i].at, expected[i].first) << i;
        EXPECT_EQ(labels[i].text, expected[i].second) << i;
    }
    // Near the corner the labels start off the picture.
    const auto corner = SelectionLabels({8, 20, 40, 60}, QString());
    EXPECT_EQ(corner[0].at, QPoint(8, -50));
    EXPECT_EQ(corner[1].at, QPoint(-42, 10));
    // Twice the distances on a screen at scale 2.
    const auto scaled = SelectionLabels({101, 93, 429, 269}, QString(), 2.0);
    EXPECT_EQ(scaled[0].at, QPoint(101, -47));
    EXPECT_EQ(scaled[3].at, QPoint(433, 121));
    // A longer word of another language moves the left labels out of the
    // rectangle; a short one leaves them where they were.
    const auto widthOf = [](const QString& text) { return 10 * static_cast<int>(text.size()); };
    SelectionWords russian;
    russian.left = QStringLiteral("Слева");
    const auto moved = SelectionLabels({101, 93, 429, 269}, QString(), 1.0, russian, widthOf);
    EXPECT_EQ(moved[1].at, QPoint(49, 151));
    EXPECT_EQ(moved[2].at, QPoint(49, 181));
    EXPECT_EQ(moved[1].text, QStringLiteral("Слева"));
    EXPECT_EQ(SelectionLabels({101, 93, 429, 269}, QString(), 1.0, {}, widthOf)[1].at,
              QPoint(51, 151));
    EXPECT_EQ(HintPosition({300, 400}), QPoint(300, 370));
    EXPECT_EQ(HintPosition({300, 400}, 2.0), QPoint(300, 340));

    EXPECT_EQ(HalfRoundedToEven(5), 2);  // 2.5
    EXPECT_EQ(HalfRoundedToEven(7), 4);  // 3.5
    EXPECT_EQ(HalfRoundedToEven(8), 4);
    EXPECT_EQ(HalfRoundedToEven(-5), -2);
    EXPECT_EQ(HalfRoundedToEven(-7), -4);
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

TEST(SelectionGeometryTest, MagnifierSitsBesideTheMouseAndShowsItsPixelsEnlarged) {
    const QSize picture(1280, 720);
    const QRect box = MagnifierRect({300, 200}, picture);
    EXPECT_EQ(box.topLeft(), QPoint(300 + kMagnifierGap, 200 + kMagnifierGap));
    EXPECT_EQ(box.width(), kMagnifierPatch * kMagnifierZoom + 2 * kMagnifierBorder);
    // Near the right and bottom edges it goes to the other side.
    const QRect corner = MagnifierRect({1270, 710}, picture);
    EXPECT_EQ(corner.right(), 1270 - kMagnifierGap - 1);
    EXPECT_EQ(corner.bottom(), 710 - kMagnifierGap - 1);
    EXPECT_EQ(MagnifierRect({300, 200}, picture, 2).width(), 2 * box.width() - 4);

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
