// Two monitors side by side on the RandR test server, the right one primary
// (at 960,0), with Qt at ratio 1 and 2 (Xft.dpi 96 and 192): Qt's screens in
// X pixels, the frame on the right monitor, the panel docked there, and the
// area selector over both.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSpinBox>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "overlays/AreaSelector.h"
#include "overlays/CaptureFrame.h"
#include "overlays/ScreenPixels.h"
#include "overlays/SelectorWindow.h"
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

TEST_F(TwoMonitors, TheSelectorCoversBothMonitorsAndPicksAreasOnEitherInXPixels) {
    // The painted windows would lie above the selector's: a grey desktop
    // with a square of its own colour on each monitor instead.
    server.Unpaint();
    ASSERT_EQ(test::run("xsetroot -solid '#404040'"), 0);
    std::vector<std::unique_ptr<QWidget>> squares;
    for (const auto& [pixels, colour] : {std::pair{QRect(100, 200, 40, 40), "#0000ff"},
                                         std::pair{QRect(1500, 600, 40, 40), "#00ff00"}}) {
        auto& square = squares.emplace_back(
            std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::Tool));
        square->setStyleSheet(QStringLiteral("background: ") + colour);
        square->setGeometry(LogicalRectCovering(pixels, ScreenAtPixel(pixels.center())));
        square->show();
    }
    Pump(400);
    auto desktop = platform::openX11Desktop();
    ASSERT_TRUE(desktop);
    Settings = TSettings{};
    AreaPanel panel(nullptr);
    AreaSelectorLinks links;
    links.QueryForeignCursor = [&] { return desktop->foreignCursor(); };
    links.Panel = &panel;
    AreaSelector selector(std::move(links));
    const auto open = [&] {
        selector.ShowAreaSelector();
        ASSERT_TRUE(PumpUntil([&] { return selector.IsActive(); }, 5000));
        Pump(300);
    };
    const auto drag = [&](int x0, int y0, int x1, int y1) {
        const auto at = [](int x, int y) { return std::to_string(x) + " " + std::to_string(y); };
        ASSERT_EQ(
            test::run("xdotool mousemove " + at(x0, y0) + " mousedown 1 sleep 0.05 mousemove " +
                      at((x0 + x1) / 2, (y0 + y1) / 2) + " sleep 0.05 mousemove " + at(x1, y1) +
                      " sleep 0.05 mouseup 1"),
            0);
        Pump(300);
    };
    const auto rgb = [&](int x, int y) {
        std::vector<std::uint8_t> bits(4);
        const platform::DibRows rows{bits.data(), 1, 1, 32, nullptr};
        if (!desktop->grab(x, y, rows)) return 0xdeadbeefu;
        return std::uint32_t(bits[2]) << 16 | std::uint32_t(bits[1]) << 8 | bits[0];
    };
    const auto red = [&](int x, int y) { return rgb(x, y) == 0xff0000u; };

    // One frozen picture of the whole X screen, a full-screen window on
    // each monitor.
    open();
    ASSERT_EQ(selector.ScreenShot.size(), QSize(1920, 1080));
    EXPECT_EQ(selector.ScreenShot.pixel(110, 210) & 0xffffff, 0x0000ffu);
    EXPECT_EQ(selector.ScreenShot.pixel(1510, 610) & 0xffffff, 0x00ff00u);
    // Each window shows its monitor's part of it: the squares have gone,
    // the screen still shows them where they were.
    squares.clear();
    Pump(300);
    EXPECT_EQ(rgb(110, 210), 0x0000ffu);
    EXPECT_EQ(rgb(139, 239), 0x0000ffu);
    EXPECT_EQ(rgb(99, 210), 0x404040u);
    EXPECT_EQ(rgb(1510, 610), 0x00ff00u);
    EXPECT_EQ(rgb(1539, 639), 0x00ff00u);
    EXPECT_EQ(rgb(1540, 610), 0x404040u);
    std::vector<QRect> shown;
    for (const SelectorWindow* window : selector.Windows())
        shown.push_back(WindowPixelRect(window->frameGeometry(), window->windowHandle()->screen()));
    std::sort(shown.begin(), shown.end(),
              [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
    EXPECT_EQ(shown, (std::vector<QRect>{QRect(0, 0, 960, 1080), QRect(960, 0, 960, 1080)}));

    // On the right monitor the positions are the screen's, not counted from
    // the monitor's corner, and the outline is drawn on them.
    drag(1201, 301, 1521, 541);
    EXPECT_EQ(selector.SelRect, (TRect{1201, 301, 1521, 541}));
    EXPECT_TRUE(red(1199, 400) && red(1200, 400) && red(1521, 400));
    EXPECT_FALSE(red(1198, 400) || red(1201, 400) || red(1523, 400));
    ASSERT_EQ(test::run("xdotool key Return"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !selector.IsShowing(); }, 3000));
    EXPECT_EQ(Settings.RegionLeftPos, 1201);
    EXPECT_EQ(Settings.RegionTopPos, 301);
    EXPECT_EQ(Settings.RegionWidthPos, 320);
    EXPECT_EQ(Settings.RegionHeightPos, 240);
    EXPECT_EQ(panel.leftEdit->value(), 1201);
    EXPECT_EQ(panel.widthEdit->value(), 320);

    // On the left monitor, which is not the primary one; a drag may also go
    // on across the line to the other monitor.
    open();
    drag(101, 93, 421, 333);
    EXPECT_EQ(selector.SelRect, (TRect{101, 93, 421, 333}));
    EXPECT_TRUE(red(99, 200) && red(421, 200));
    drag(901, 93, 1061, 333);
    EXPECT_EQ(selector.SelRect, (TRect{901, 93, 1061, 333}));
    EXPECT_TRUE(red(900, 200) && red(1061, 200));
    ASSERT_EQ(test::run("xdotool key Return"), 0);
    ASSERT_TRUE(PumpUntil([&] { return !selector.IsShowing(); }, 3000));
    EXPECT_EQ(Settings.RegionLeftPos, 901);
    EXPECT_EQ(panel.leftEdit->value(), 901);
    EXPECT_EQ(panel.widthEdit->value(), 160);
    Settings = TSettings{};
    test::run("xsetroot -solid black");
}

}  // namespace
