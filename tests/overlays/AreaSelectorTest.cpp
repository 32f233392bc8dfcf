// The area selector on the private X server (1280 x 720, openbox), driven
// as a user would with xdotool: the frozen picture, drags, Enter and Escape
// as global hot keys, the arrow keys, the drawing, and a repaint after
// another window uncovered it. The companion panel is the real one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSpinBox>
#include <QThread>
#include <QWindow>
#include <memory>
#include <vector>

#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "overlays/AreaSelector.h"
#include "overlays/Magnifier.h"
#include "overlays/ScreenPixels.h"
#include "overlays/SelectorWindow.h"
#include "platform/x11/Desktop.h"
#include "platform/x11/HotKeys.h"
#include "platform/x11/ScreenBackend.h"
#include "shell/HotKeyFilter.h"
#include "tests/support/TestEnv.h"

using namespace velmora;
using test::run;

namespace {

void Settle(int ms = 250) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
}

template <typename F>
bool Until(F condition, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (condition()) return true;
        QApplication::processEvents();
        QThread::msleep(10);
    }
    return condition();
}

// The screen's pixel at (x, y) as 0xRRGGBB, read with our own screen layer.
std::uint32_t ScreenPixel(platform::Desktop& desktop, int x, int y) {
    std::vector<std::uint8_t> bits(4);
    platform::DibRows rows{bits.data(), 1, 1, 32, nullptr};
    if (!desktop.grab(x, y, rows)) return 0xdeadbeef;
    return std::uint32_t(bits[2]) << 16 | std::uint32_t(bits[1]) << 8 | bits[0];
}

// The logical geometry of a window over these screen pixels, at any scale.
QRect Logical(const QRect& pixels) {
    return LogicalRectCovering(pixels, QGuiApplication::primaryScreen());
}

std::uint32_t Rgb(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xffffff;
}

class AreaSelectorTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
        Settings = TSettings{};
        Settings.TypeCapture = 0;
        Settings.RegionLeftPos = 40;
        Settings.RegionTopPos = 30;
        Settings.RegionWidthPos = 320;
        Settings.RegionHeightPos = 240;
        // A plain grey desktop with one blue square at (600, 400), and the
        // mouse (with the magnifier beside it) far from both.
        ASSERT_EQ(run("xsetroot -solid '#808080'"), 0);
        ASSERT_EQ(run("xdotool mousemove 1200 700"), 0);
        desktop_ = platform::openX11Desktop();
        ASSERT_TRUE(desktop_);
        square_ = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::Tool);
        square_->setStyleSheet(QStringLiteral("background: #0000ff"));
        square_->setGeometry(Logical({600, 400, 50, 50}));
        square_->show();
        Settle(400);

        panel_ = std::make_unique<AreaPanel>(nullptr);
        // The main window's handling of the selector's hot keys.
        hotKeys_ = std::make_unique<HotKeyFilter>([this](int key) {
            if (!selector_ || !selector_->IsShowing()) return;
            if (key == platform::kVkReturn) selector_->AcceptSelection();
            if (key == platform::kVkEscape) selector_->CloseSelector();
        });
        AreaSelectorLinks links;
        links.RegisterHotKey = [this](int id, int key) {
            registered_.push_back(id);
            return hotKeys_->Register(id, key);
        };
        links.UnregisterHotKey = [this](int id) { return hotKeys_->Unregister(id); };
        links.QueryForeignCursor = [this] { return desktop_->foreignCursor(); };
        links.SaveSettings = [this] {
            ++saves_;
            return true;
        };
        links.Panel = panel_.get();
        selector_ = std::make_unique<AreaSelector>(std::move(links));
    }
    void TearDown() override {
        selector_.reset();
        hotKeys_.reset();
        panel_.reset();
        square_.reset();
        run("xdotool mouseup 1");
        run("xsetroot -solid black");
        Settings = TSettings{};
    }

    void Open() {
        selector_->ShowAreaSelector();
        ASSERT_TRUE(Until([&] { return selector_->IsActive(); }));
        Settle();
    }
    // Presses at the first point, moves through the others and lets go.
    void Drag(const std::vector<QPoint>& points) {
        std::string command = "xdotool mousemove " + std::to_string(points[0].x()) + " " +
                              std::to_string(points[0].y()) + " mousedown 1";
        for (std::size_t i = 1; i < points.size(); ++i)
            command += " sleep 0.05 mousemove " + std::to_string(points[i].x()) + " " +
                       std::to_string(points[i].y());
        ASSERT_EQ(run(command + " sleep 0.05 mouseup 1"), 0);
        Settle();
    }
    void Key(const std::string& key) {
        ASSERT_EQ(run("xdotool key " + key), 0);
        Settle();
    }
    TRegion Stored() const {
        return {Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
                Settings.RegionHeightPos};
    }
    TRegion Shown() const {
        return {panel_->leftEdit->value(), panel_->topEdit->value(), panel_->widthEdit->value(),
                panel_->heightEdit->value()};
    }

    std::unique_ptr<platform::Desktop> desktop_;
    std::unique_ptr<QWidget> square_;
    std::unique_ptr<AreaPanel> panel_;
    std::unique_ptr<HotKeyFilter> hotKeys_;
    std::unique_ptr<AreaSelector> selector_;
    std::vector<int> registered_;
    int saves_ = 0;
};

TEST_F(AreaSelectorTest, OpensOverTheWholeScreenWithItsPictureAndHoldsEnterAndEscape) {
    Open();
    ASSERT_EQ(selector_->Windows().size(), 1u);
    const SelectorWindow* window = selector_->Windows()[0];
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(selector_->Monitors(), std::vector<QRect>{QRect(0, 0, 1280, 720)});
    const QScreen* screen = window->windowHandle()->screen();
    EXPECT_EQ(ScreenPixelRect(screen), QRect(0, 0, 1280, 720));
    // The window manager places a full-screen window a moment after it is shown.
    EXPECT_TRUE(Until([&] {
        return WindowPixelRect(window->frameGeometry(), screen) == QRect(0, 0, 1280, 720);
    })) << "frame " << WindowPixelRect(window->frameGeometry(), screen).width() << "x"
        << WindowPixelRect(window->frameGeometry(), screen).height();
    ASSERT_EQ(selector_->ScreenShot.size(), QSize(1280, 720));
    EXPECT_EQ(Rgb(selector_->ScreenShot, 10, 10), 0x808080u);
    EXPECT_EQ(Rgb(selector_->ScreenShot, 620, 420), 0x0000ffu);
    // The square goes; the frozen picture keeps it.
    square_->hide();
    EXPECT_TRUE(Until([&] { return ScreenPixel(*desktop_, 620, 420) == 0x0000ffu; }));
    Settle();
    EXPECT_EQ(ScreenPixel(*desktop_, 620, 420), 0x0000ffu);

    // Both keys are the selector's, named by their atoms, and nobody else
    // can take them while it shows.
    ASSERT_EQ(registered_.size(), 2u);
    EXPECT_EQ(registered_[0], selector_->EscapeHotKey());
    EXPECT_EQ(registered_[1], selector_->EnterHotKey());
    EXPECT_NE(selector_->EscapeHotKey(), selector_->EnterHotKey());
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(test::display24().c_str(), nullptr), &xcb_disconnect);
    platform::HotKeys other(connection.get());
    EXPECT_FALSE(other.Register(7, platform::kVkReturn));

    Key("Escape");
    EXPECT_FALSE(selector_->IsShowing());
    // Given back at closing.
    EXPECT_TRUE(other.Register(7, platform::kVkReturn));
    other.UnregisterAll();
}

TEST_F(AreaSelectorTest, EnterStoresTheDraggedRectangleInTheSettingsAndThePanelAndSaves) {
    Open();
    Drag({{101, 93}, {200, 150}, {430, 270}});
    EXPECT_TRUE(selector_->HasRect);
    EXPECT_FALSE(selector_->Dragging);
    EXPECT_EQ(selector_->SelRect, (TRect{101, 93, 429, 269}));
    Key("Return");
    EXPECT_FALSE(selector_->IsShowing());
    EXPECT_EQ(Stored(), (TRegion{101, 93, 328, 176}));
    EXPECT_EQ(Shown(), (TRegion{101, 93, 328, 176}));
    EXPECT_EQ(saves_, 1);
    // Closed: the selector forgets its rectangle and the keys are free.
    EXPECT_EQ(selector_->SelRect, TRect{});
    EXPECT_FALSE(selector_->HasRect);

    // Up and left of the anchor, opened again.
    Open();
    Drag({{100, 100}, {90, 95}, {81, 90}});
    EXPECT_EQ(selector_->SelRect, (TRect{84, 92, 100, 108}));
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{84, 92, 16, 16}));
    EXPECT_EQ(Shown(), (TRegion{84, 92, 16, 16}));
    EXPECT_EQ(saves_, 2);
}

TEST_F(AreaSelectorTest, EnterWithoutADragGives16By16AtTheClickOrAtTheCorner) {
    Open();
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{0, 0, 16, 16}));
    EXPECT_EQ(Shown(), (TRegion{0, 0, 16, 16}));

    Open();
    ASSERT_EQ(run("xdotool mousemove 300 200 click 1"), 0);
    Settle();
    EXPECT_FALSE(selector_->HasRect);
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{300, 200, 16, 16}));

    // 7 right and 20 down: 0 wide, stored 16 wide.
    Open();
    Drag({{100, 100}, {104, 110}, {107, 120}});
    EXPECT_EQ(selector_->SelRect, (TRect{100, 100, 116, 116}));
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{100, 100, 16, 16}));
    EXPECT_EQ(saves_, 3);
}

TEST_F(AreaSelectorTest, ASmallDragIsDrawnAtTheSizeEnterStores) {
    Open();
    // 8 x 8 down and right: drawn, and stored, 16 x 16.
    Drag({{300, 300}, {305, 305}, {308, 308}});
    EXPECT_EQ(selector_->SelRect, (TRect{300, 300, 316, 316}));
    const QImage& work = selector_->WorkBitmap;
    for (const int d : {0, 1}) {
        EXPECT_EQ(Rgb(work, 316 + d, 305), 0xff0000u) << d;
        EXPECT_EQ(Rgb(work, 305, 316 + d), 0xff0000u) << d;
    }
    EXPECT_EQ(Rgb(work, 308, 305), 0x808080u);
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{300, 300, 16, 16}));

    // In the screen's bottom right corner it grows toward the middle: all
    // of it can be recorded.
    Open();
    Drag({{1279, 719}, {1275, 715}, {1271, 711}});
    EXPECT_EQ(selector_->SelRect, (TRect{1264, 704, 1280, 720}));
    EXPECT_EQ(Rgb(selector_->WorkBitmap, 1263, 710), 0xff0000u);
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{1264, 704, 16, 16}));
}

TEST_F(AreaSelectorTest, EscapeAfterADragLeavesTheRegionAsItWas) {
    Open();
    Drag({{200, 200}, {300, 300}, {500, 400}});
    ASSERT_TRUE(selector_->HasRect);
    Key("Escape");
    EXPECT_FALSE(selector_->IsShowing());
    EXPECT_EQ(Stored(), (TRegion{40, 30, 320, 240}));
    EXPECT_EQ(Shown(), (TRegion{40, 30, 320, 240}));
    EXPECT_EQ(saves_, 0);
    // Enter after closing belongs to nobody here any more.
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{40, 30, 320, 240}));
}

TEST_F(AreaSelectorTest, ArrowKeysMoveADrawnRectangleBy8OrWithShiftBy1) {
    Open();
    Key("Right");  // nothing drawn yet: nothing moves
    EXPECT_EQ(selector_->SelRect, TRect{});
    Drag({{200, 200}, {300, 250}, {360, 300}});
    ASSERT_EQ(selector_->SelRect, (TRect{200, 200, 360, 296}));
    Key("Right");
    Key("Down");
    EXPECT_EQ(selector_->SelRect, (TRect{208, 208, 368, 304}));
    Key("shift+Left");
    Key("shift+Up");
    Key("shift+Up");
    EXPECT_EQ(selector_->SelRect, (TRect{207, 206, 367, 302}));
    Key("Return");
    EXPECT_EQ(Stored(), (TRegion{207, 206, 160, 96}));
}

TEST_F(AreaSelectorTest, DrawsTheOutlineOutsideTheAreaTheLabelsAndTheMagnifier) {
    Open();
    // Before any drag: the hint above the mouse, no red.
    ASSERT_EQ(run("xdotool mousemove 400 300 sleep 0.05 mousemove 401 300"), 0);
    Settle();
    const QImage& work = selector_->WorkBitmap;
    ASSERT_EQ(work.size(), QSize(1280, 720));
    // Texts and the magnifier are as large as the desktop's other texts.
    const qreal scale = selector_->Scale();
    EXPECT_EQ(scale, selector_->Windows()[0]->devicePixelRatioF());
    const QPoint hint(401, 300 - qRound(30 * scale));
    EXPECT_EQ(Rgb(work, hint.x(), hint.y()), 0u) << "no black box behind the hint";

    Drag({{200, 200}, {400, 250}, {520, 300}});
    ASSERT_EQ(selector_->SelRect, (TRect{200, 200, 520, 296}));
    // The outline: two red pixels just outside each edge, nothing red inside.
    for (const QPoint p : {QPoint(198, 250), QPoint(199, 250), QPoint(520, 250), QPoint(521, 250),
                           QPoint(280, 198), QPoint(280, 199), QPoint(205, 296), QPoint(205, 297)})
        EXPECT_EQ(Rgb(work, p.x(), p.y()), 0xff0000u) << p.x() << "," << p.y();
    for (const QPoint p : {QPoint(200, 250), QPoint(519, 250), QPoint(280, 200), QPoint(280, 295)})
        EXPECT_EQ(Rgb(work, p.x(), p.y()), 0x808080u) << p.x() << "," << p.y();
    // Labels lime on black: "Width" right of the rectangle at midY - 30.
    const QPoint width(520 + qRound(2 * scale), 248 - qRound(30 * scale));
    bool lime = false;
    for (int x = width.x(); x < width.x() + 50 * scale; ++x)
        for (int y = width.y(); y < width.y() + 20 * scale; ++y)
            lime = lime || Rgb(work, x, y) == 0x00ff00u;
    EXPECT_TRUE(lime);
    EXPECT_EQ(Rgb(work, width.x(), width.y()), 0u);
    // The magnifier below right of the mouse: the grey around the mouse's
    // pixel, 8 times as large; the picture itself is untouched.
    const QRect box = MagnifierRect({520, 300}, work.rect(), qRound(scale));
    EXPECT_EQ(Rgb(work, box.left() + 4, box.top() + 4), 0x808080u);
    EXPECT_EQ(Rgb(selector_->ScreenShot, 360, 250), 0x808080u);

    // What the window shows is WorkBitmap, also after another window has
    // covered it and gone.
    EXPECT_EQ(ScreenPixel(*desktop_, 199, 250), 0xff0000u);
    // Past the window manager, so it lies above the full-screen window.
    QWidget cover(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    cover.setStyleSheet(QStringLiteral("background: #00ffff"));
    cover.setGeometry(Logical({150, 150, 300, 200}));
    cover.show();
    ASSERT_TRUE(Until([&] { return ScreenPixel(*desktop_, 199, 250) == 0x00ffffu; }));
    cover.hide();
    EXPECT_TRUE(Until([&] { return ScreenPixel(*desktop_, 199, 250) == 0xff0000u; }));
    EXPECT_EQ(ScreenPixel(*desktop_, 250, 250), 0x808080u);
    Key("Escape");
}

// On Wayland the toolkit learns where the pointer is from its windows only,
// and the pointer may rest where it was when the selector opened: the
// magnifier is drawn where the pointer entered, not where the toolkit last
// saw it (here the X pointer, far away at 1200, 700).
TEST_F(AreaSelectorTest, OnWaylandTheMagnifierIsWhereThePointerEnteredBeforeItMoves) {
    platform::SetScreenBackend(platform::ScreenBackend::Portal);
    const QRect screen = ScreenPixelRect(QGuiApplication::primaryScreen());
    platform::SetOutputSize({0, 0, screen.width(), screen.height()});
    struct Restore {
        ~Restore() {
            platform::SetScreenBackend(platform::ScreenBackend::X11);
            platform::SetOutputSize({});
        }
    } restore;
    Open();
    const QPoint pixel(300, 200);
    SelectorWindow* window = selector_->Windows()[0];
    const QPointF global = PixelToLogical(pixel, QGuiApplication::primaryScreen());
    const QPointF local = window->mapFromGlobal(global);
    QEnterEvent enter(local, local, global);
    QCoreApplication::sendEvent(window, &enter);
    const QImage& work = selector_->WorkBitmap;
    const auto whiteIn = [&work](const QRect& box) {
        for (int x = box.left(); x <= box.right(); ++x)
            for (int y = box.top(); y <= box.bottom(); ++y)
                if (box.intersects(work.rect()) && work.rect().contains(x, y) &&
                    Rgb(work, x, y) == 0xffffffu)
                    return true;
        return false;
    };
    const int scale = qRound(selector_->Scale());
    EXPECT_TRUE(whiteIn(MagnifierRect(pixel, work.rect(), scale))) << "no ring by the pointer";
    EXPECT_FALSE(whiteIn(MagnifierRect({1200, 700}, work.rect(), scale)));
}

}  // namespace
