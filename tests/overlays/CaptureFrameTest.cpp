// The capture frame on a real X server, read back with our own screen grabs.
// The positions are X screen pixels at every scale factor (this test also runs
// with QT_SCALE_FACTOR 1.25, 1.5, 2 and with Xft.dpi 192).

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPalette>
#include <QScreen>
#include <QThread>

#include <vector>

#include "overlays/CaptureFrame.h"
#include "platform/x11/Desktop.h"
#include "tests/support/TestEnv.h"

using namespace velmora;

namespace {

struct Screen {
    std::unique_ptr<platform::Desktop> desktop = platform::openX11Desktop();
    std::vector<std::uint8_t> bits;
    platform::DibRows rows;
    int left = 0, top = 0;
    void grab(int x, int y, int w, int h) {
        left = x, top = y;
        bits.assign(static_cast<std::size_t>(platform::dibStride(w, 32) * h), 0);
        rows = {bits.data(), w, h, 32, nullptr};
        ASSERT_TRUE(desktop->grab(x, y, rows));
    }
    std::uint32_t at(int sx, int sy) const {
        const std::uint8_t* p = rows.row(sy - top) + (sx - left) * 4;
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
};

void settle(int ms = 150) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
}

// The ratio the run asked for: QT_SCALE_FACTOR times Xft.dpi / 96.
qreal RequestedRatio() {
    qreal ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                      ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                      : 1.0;
    for (const QString& arg : QCoreApplication::arguments())
        if (arg.startsWith(QStringLiteral("--xft-dpi="))) ratio *= arg.mid(10).toDouble() / 96;
    return ratio;
}

}  // namespace

TEST(CaptureFrame, RunsAtTheScaleItWasStartedWith) {
    ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
    EXPECT_DOUBLE_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), RequestedRatio());
}

// Areas at odd pixels: at fractional scale factors Qt cannot put a window on
// every pixel, and the frame must still be exact.
TEST(CaptureFrame, CornersLieOnTheirPixelsWhereverTheAreaStarts) {
    ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
    const QString text = QStringLiteral("Recording");
    const std::uint32_t red = 0xff0000;
    Screen screen;
    ASSERT_TRUE(screen.desktop);
    for (const QRect area :
         {QRect(201, 151, 297, 203), QRect(333, 277, 150, 99), QRect(602, 403, 41, 37)}) {
        CaptureFrame frame;
        frame.SetupRegion(area.x(), area.y(), area.width(), area.height(), true, text);
        frame.PaintFrame(text);
        frame.ShowOnTop();
        settle();
        const int x = area.x(), y = area.y(), r = x + area.width(), b = y + area.height();
        screen.grab(x - 10, y - 10, area.width() + 20, area.height() + 20);
        for (int d = 0; d < 2; ++d) {  // the strips are two pixels thick
            EXPECT_EQ(screen.at(x - 4 + d, y + 5), red) << area.x() << "," << d;
            EXPECT_EQ(screen.at(r + d, b - 5), red) << area.x() << "," << d;
            EXPECT_EQ(screen.at(x + 5, y - 4 + d), red) << area.x() << "," << d;
            EXPECT_EQ(screen.at(r - 5, b + d), red) << area.x() << "," << d;
        }
        // Just outside the strips, and the gap on the left and the top.
        for (int d : {-5, -2, -1}) {
            EXPECT_NE(screen.at(x + d, y + 5), red) << area.x() << "," << d;
            EXPECT_NE(screen.at(x + 5, y + d), red) << area.x() << "," << d;
        }
        EXPECT_NE(screen.at(r + 2, b - 5), red) << area.x();
        EXPECT_NE(screen.at(r - 5, b + 2), red) << area.x();
        for (int sy = y; sy < b; ++sy)
            for (int sx = x; sx < r; ++sx) ASSERT_NE(screen.at(sx, sy), red) << sx << "," << sy;
    }
}

TEST(CaptureFrame, RedCornersAndCaptionSurroundTheAreaAndNeverEnterIt) {
    ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
    CaptureFrame frame;
    const QString text = QStringLiteral("Recording");
    frame.SetupRegion(200, 150, 300, 200, true, text);
    frame.PaintFrame(text);
    frame.ShowOnTop();
    settle();

    Screen screen;
    ASSERT_TRUE(screen.desktop);
    screen.grab(150, 100, 400, 300);
    const std::uint32_t red = 0xff0000;
    // Corner strips: columns x-4, x-3 and x+w, x+w+1; rows y-4, y-3 and y+h, y+h+1.
    for (int d = 0; d < 20; ++d) {
        EXPECT_EQ(screen.at(196 + d, 146), red) << d;
        EXPECT_EQ(screen.at(197, 146 + d), red) << d;
        EXPECT_EQ(screen.at(501 - d, 351), red) << d;
        EXPECT_EQ(screen.at(500, 351 - d), red) << d;
        EXPECT_NE(screen.at(197, 166), red);
    }
    EXPECT_NE(screen.at(300, 146), red);  // between the corners: the desktop
    // The caption sits above the top-left corner: white with blue text.
    bool blue = false, white = false;
    for (int y = 125; y < 142; ++y)
        for (int x = 196; x < 240; ++x) {
            blue |= screen.at(x, y) == 0x0000ffu;
            white |= screen.at(x, y) == 0xffffffu;
        }
    EXPECT_TRUE(blue && white);
    // Nothing red over the recorded area.
    for (int y = 150; y < 350; ++y)
        for (int x = 200; x < 500; ++x) ASSERT_NE(screen.at(x, y), red) << x << "," << y;

    frame.hide();
    settle(100);
    screen.grab(150, 100, 400, 300);
    EXPECT_NE(screen.at(196, 146), red);
}

TEST(CaptureFrame, FollowsAMovingArea) {
    ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
    CaptureFrame frame;
    const QString text = QStringLiteral("Recording");
    frame.SetupRegion(100, 100, 100, 100, true, text);
    frame.PaintFrame(text);
    frame.ShowOnTop();
    settle();
    frame.SetupRegion(600, 400, 120, 80, true, text);
    frame.PaintFrame(text);
    frame.ShowOnTop();
    settle();
    Screen screen;
    screen.grab(0, 0, 1280, 720);
    EXPECT_EQ(screen.at(596, 396), 0xff0000u);
    EXPECT_EQ(screen.at(721, 481), 0xff0000u);
    EXPECT_NE(screen.at(96, 96), 0xff0000u);
    frame.hide();
}

// One of the program's own questions (the exit question during an area
// recording) stays readable: the frame, raised on every tick, stays away
// while it is open and comes back after.
TEST(CaptureFrame, StaysUnderTheProgramsOpenQuestion) {
    ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
    CaptureFrame frame;
    const QString text = QStringLiteral("Recording");
    frame.SetupRegion(200, 150, 300, 200, true, text);
    frame.PaintFrame(text);
    frame.ShowOnTop();
    settle();
    // A plain grey window over the whole frame, modal as the questions are.
    QWidget question(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    question.setWindowModality(Qt::ApplicationModal);
    question.setPalette(QPalette(QColor(128, 128, 128)));
    question.setAutoFillBackground(true);
    const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    question.setGeometry(QRectF(100 / ratio, 50 / ratio, 500 / ratio, 400 / ratio).toRect());
    question.show();
    settle();
    // The ticks go on while the question is open.
    for (int tick = 0; tick < 3; ++tick) {
        frame.ShowOnTop();
        settle(50);
    }
    Screen screen;
    ASSERT_TRUE(screen.desktop);
    screen.grab(150, 100, 400, 300);
    int frameShown = 0;
    for (int y = 110; y < 360; ++y)
        for (int x = 190; x < 510; ++x) {
            const std::uint32_t p = screen.at(x, y);
            frameShown += p == 0xff0000u || p == 0x0000ffu || p == 0xffffffu;
        }
    EXPECT_EQ(frameShown, 0) << "the frame's caption or corners over the question";
    question.hide();
    frame.ShowOnTop();
    settle();
    screen.grab(150, 100, 400, 300);
    EXPECT_EQ(screen.at(196, 146), 0xff0000u) << "the frame is not back on top";
    frame.hide();
}
