// The capture frame's window position and shape.

#include <gtest/gtest.h>

#include "overlays/FrameGeometry.h"

using velmora::ComputeFrameGeometry;

TEST(FrameGeometry, CornersAroundA300x200AreaWithA120x16Caption) {
    const auto g = ComputeFrameGeometry(100, 100, 300, 200, true, 120, 16);
    EXPECT_EQ(g.window, QRect(96, 80, 306, 222));
    EXPECT_EQ(g.frameRect, QRect(0, 16, 306, 206));
    auto shows = [&](int sx, int sy) { return g.shape.contains(QPoint(sx - 96, sy - 80)); };
    // The caption strip: x 96..215, y 80..95, and nothing right of it.
    EXPECT_TRUE(shows(96, 80));
    EXPECT_TRUE(shows(215, 95));
    EXPECT_FALSE(shows(216, 80));
    // The top-left corner's arms: rows 96-97 for x 96..115, columns 96-97 for y 96..115.
    for (int x = 96; x <= 115; ++x) EXPECT_TRUE(shows(x, 96) && shows(x, 97)) << x;
    EXPECT_FALSE(shows(116, 96));
    for (int y = 96; y <= 115; ++y) EXPECT_TRUE(shows(96, y) && shows(97, y)) << y;
    EXPECT_FALSE(shows(96, 116));
    // The far corners touch the area: columns 400-401 and rows 300-301.
    EXPECT_TRUE(shows(401, 301));
    EXPECT_TRUE(shows(400, 282));
    EXPECT_FALSE(shows(400, 281));
    // Nothing of the frame lies over the recorded area or its 2-pixel gap.
    for (int y = 98; y < 300; ++y)
        for (int x = 98; x < 400; ++x) ASSERT_FALSE(shows(x, y)) << x << "," << y;
    EXPECT_EQ(g.shape.rectCount() > 0, true);
}

TEST(FrameGeometry, WholeRingWithoutCornersOnly) {
    const auto g = ComputeFrameGeometry(100, 100, 300, 200, false, 120, 16);
    EXPECT_TRUE(g.shape.contains(QPoint(200, 16)));  // middle of the top strip
    EXPECT_TRUE(g.shape.contains(QPoint(0, 120)));   // middle of the left strip
    EXPECT_FALSE(g.shape.contains(QPoint(150, 120)));
}

TEST(FrameGeometry, NarrowAndLowAreasKeepWholeStrips) {
    const auto narrow = ComputeFrameGeometry(10, 50, 34, 200, true, 10, 16);
    for (int x = 0; x < 40; ++x) {
        EXPECT_TRUE(narrow.shape.contains(QPoint(x, 16))) << x;   // top strip whole
        EXPECT_TRUE(narrow.shape.contains(QPoint(x, 221))) << x;  // bottom strip whole
    }
    EXPECT_FALSE(narrow.shape.contains(QPoint(0, 120)));  // the sides still keep only corners
    const auto low = ComputeFrameGeometry(10, 50, 200, 34, true, 10, 16);
    for (int y = 16; y < 56; ++y) EXPECT_TRUE(low.shape.contains(QPoint(0, y))) << y;
}

TEST(FrameGeometry, WideCaptionIsCutToTheWindow) {
    const auto g = ComputeFrameGeometry(0, 20, 40, 40, true, 500, 16);
    EXPECT_TRUE(g.shape.contains(QPoint(45, 0)));
    EXPECT_FALSE(g.shape.contains(QPoint(46, 0)));  // the window ends at 46
}
