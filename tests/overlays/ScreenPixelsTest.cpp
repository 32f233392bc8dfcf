// X pixels and Qt's logical coordinates on a scaled screen (offscreen Qt,
// run at QT_SCALE_FACTOR 1.25, 1.5 and 2).

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

#include "overlays/ScreenPixels.h"
#include "platform/x11/ScreenRect.h"

using namespace velmora;

TEST(ScreenPixels, AWindowCoversTheWantedPixelsWithAtMostARatioToSpare) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const qreal ratio = screen->devicePixelRatio();
    ASSERT_GT(ratio, 1.0) << "run with --qt-scale";
    const int spare = static_cast<int>(std::ceil(ratio));
    for (int x = 0; x < 40; ++x)
        for (int w : {1, 2, 3, 7, 41, 306}) {
            const QRect wanted(x + 3, 2 * x + 5, w, w + x);
            const QRect logical = LogicalRectCovering(wanted, screen);
            const QRect placed = WindowPixelRect(logical, screen);
            ASSERT_TRUE(placed.contains(wanted)) << x << " " << w;
            EXPECT_LE(wanted.x() - placed.x(), spare) << x << " " << w;
            EXPECT_LE(placed.right() - wanted.right(), 2 * spare) << x << " " << w;
        }
}

TEST(ScreenPixels, PositionsConvertBothWaysAroundTheScreensCorner) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen->devicePixelRatio();
    const QPointF origin = screen->geometry().topLeft();
    const QPointF pixel(301, 157);
    const QPointF logical = PixelToLogical(pixel, screen);
    EXPECT_DOUBLE_EQ(logical.x(), origin.x() + (pixel.x() - origin.x()) / ratio);
    EXPECT_DOUBLE_EQ(LogicalToPixel(logical, screen).x(), pixel.x());
    EXPECT_DOUBLE_EQ(LogicalToPixel(logical, screen).y(), pixel.y());
    EXPECT_EQ(ScreenAtPixel(QPoint(10, 10)), screen);
    EXPECT_EQ(ScreenPixelRect(screen).size(), screen->geometry().size() * ratio);
}

TEST(ScreenRect, AnAreaIsMovedAndCutOntoTheScreen) {
    using platform::FitIntoScreen;
    using platform::ScreenRect;
    const ScreenRect screen{0, 0, 1280, 720};
    EXPECT_EQ(FitIntoScreen({100, 50, 640, 360}, screen), (ScreenRect{100, 50, 640, 360}));
    EXPECT_EQ(FitIntoScreen({1500, 800, 400, 200}, screen), (ScreenRect{880, 520, 400, 200}));
    EXPECT_EQ(FitIntoScreen({-20, -5, 400, 200}, screen), (ScreenRect{0, 0, 400, 200}));
    EXPECT_EQ(FitIntoScreen({300, 100, 1920, 1080}, screen), (ScreenRect{0, 0, 1280, 720}));
    // A monitor at an offset.
    EXPECT_EQ(FitIntoScreen({0, 0, 100, 100}, {960, 0, 960, 1080}), (ScreenRect{960, 0, 100, 100}));
    EXPECT_EQ(FitIntoScreen({5, 5, 10, 10}, {}), (ScreenRect{5, 5, 10, 10}));
}
