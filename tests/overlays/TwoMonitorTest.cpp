// Two monitors side by side on the RandR test server, the right one primary
// (at 960,0), with Qt at ratio 1 and 2 (Xft.dpi 96 and 192): Qt's screens in
// X pixels, the frame on the right monitor, and the panel docked there.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>
#include <functional>
#include <vector>

#include "common/ScreenSize.h"
#include "overlays/AreaPanel.h"
#include "overlays/CaptureFrame.h"
#include "overlays/ScreenPixels.h"
#include "platform/x11/Desktop.h"
#include "tests/support/RandrServer.h"
#include "tests/support/TestEnv.h"

using namespace velmora;

namespace {

bool PumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

QRect Pixels(const ScreenRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

class TwoMonitors : public testing::Test {
  protected:
    void SetUp() override {
        if (test::displayRandr().empty() || test::display24() != test::displayRandr())
            GTEST_SKIP() << "runs on the RandR display (--xft-dpi)";
        server.AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, false, true);
        server.AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, true, false);
        server.Paint({0, 0, 1920, 1080}, 0x404040);
        // Qt hears of the monitors through RandR's notification.
        ASSERT_TRUE(PumpUntil([] { return QGuiApplication::screens().size() == 2; }, 5000));
        Pump(200);
    }

    test::RandrServer server;
};

TEST_F(TwoMonitors, QtsScreensInXPixelsAreTheMonitorsAndItsPrimaryIsOurs) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    EXPECT_EQ(ScreenPixelRect(primary), QRect(960, 0, 960, 1080));
    EXPECT_EQ(ScreenPixelRect(primary), Pixels(GetPrimaryScreenRect()));
    EXPECT_EQ(ScreenAtPixel(QPoint(1919, 1079)), primary);
    EXPECT_EQ(ScreenPixelRect(ScreenAtPixel(QPoint(10, 10))), QRect(0, 0, 960, 1080));
}

TEST_F(TwoMonitors, TheFrameStandsOnItsPixelsOnTheRightMonitor) {
    CaptureFrame frame;
    const QString text = QStringLiteral("Recording");
    const QRect area(1201, 301, 300, 201);
    frame.SetupRegion(area.x(), area.y(), area.width(), area.height(), true, text);
    frame.PaintFrame(text);
    frame.ShowOnTop();
    Pump(300);

    auto desktop = platform::openX11Desktop();
    ASSERT_TRUE(desktop);
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(1920) * 1080 * 4);
    const platform::DibRows rows{bits.data(), 1920, 1080, 32, nullptr};
    ASSERT_TRUE(desktop->grab(0, 0, rows));
    const auto red = [&](int x, int y) {
        const std::uint8_t* p = rows.row(y) + x * 4;
        return p[2] == 255 && p[1] == 0 && p[0] == 0;
    };
    const int x = area.x(), y = area.y(), r = area.right() + 1, b = area.bottom() + 1;
    for (int d = 0; d < 2; ++d) {
        EXPECT_TRUE(red(x - 4 + d, y + 5)) << d;
        EXPECT_TRUE(red(x + 5, y - 4 + d)) << d;
        EXPECT_TRUE(red(r + d, b - 5)) << d;
        EXPECT_TRUE(red(r - 5, b + d)) << d;
    }
    EXPECT_FALSE(red(x - 5, y + 5));
    EXPECT_FALSE(red(x - 2, y + 5));
    EXPECT_FALSE(red(r + 2, b - 5));
    for (int sy = y; sy < b; ++sy)
        for (int sx = x; sx < r; ++sx) ASSERT_FALSE(red(sx, sy)) << sx << "," << sy;
}

TEST_F(TwoMonitors, ThePanelDocksRightBesideTheWindowInXPixels) {
    QWidget window;
    window.resize(200, 100);
    window.move(PixelToLogical(QPointF(1100, 200), ScreenAtPixel(QPoint(1100, 200))).toPoint());
    window.show();
    ASSERT_TRUE(PumpUntil([&] { return window.isVisible(); }, 3000));
    Pump(300);
    AreaPanel panel(&window);
    panel.DockBeside(&window);
    panel.show();
    Pump(300);
    panel.DockBeside(&window);  // once the window manager has framed both
    Pump(300);

    const QRect main = WindowPixelRect(window.frameGeometry(), window.screen());
    const QRect docked = WindowPixelRect(panel.frameGeometry(), panel.screen());
    EXPECT_NEAR(docked.left(), main.right() + 1, 1);
    EXPECT_NEAR(docked.top(), main.top(), 1);
    EXPECT_GT(main.left(), 960);  // on the right monitor
}

}  // namespace
