// Recording one window through Composite on the fixture's Xvfb: its own
// pixels whatever covers it, its moves, size changes and end, and finding
// it by id or title.

// gtest before Xlib: Xlib's None and Bool macros break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/x11/WindowList.h"
#include "tests/support/TestEnv.h"

using namespace velmora::platform;
namespace vt = velmora::test;

namespace {

constexpr unsigned long kRed = 0xff0000, kGreen = 0x00ff00;

struct Frame {
    std::vector<std::uint8_t> bits;
    DibRows rows;
    Frame(int w, int h) {
        bits.assign(static_cast<std::size_t>(dibStride(w, 32) * h), 0x55);
        rows = {bits.data(), w, h, 32, nullptr};
    }
    std::uint32_t value(int x, int y) const {
        const std::uint8_t* p = rows.row(y) + std::int64_t(x) * 4;
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
    // How many pixels of the rectangle have the colour.
    int count(std::uint32_t colour, int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += value(x, y) == colour;
        return n;
    }
};

// Plain one-colour windows of another client, as a user's programs are.
class Windows {
  public:
    Windows() : display_(XOpenDisplay(vt::display24().c_str())) {}
    ~Windows() {
        if (display_) XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    Window make(unsigned long colour, int x, int y, int w, int h, const char* title) {
        XSetWindowAttributes attributes{};
        attributes.background_pixel = colour;
        attributes.override_redirect = True;  // stays where it is put
        const Window window =
            XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(w),
                          static_cast<unsigned>(h), 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWBackPixel | CWOverrideRedirect, &attributes);
        XStoreName(display_, window, title);
        XMapRaised(display_, window);
        XSync(display_, False);
        return window;
    }
    void move(Window w, int x, int y) { sync(XMoveWindow(display_, w, x, y)); }
    void resize(Window w, int width, int height) {
        sync(XResizeWindow(display_, w, static_cast<unsigned>(width),
                           static_cast<unsigned>(height)));
    }
    void raise(Window w) { sync(XRaiseWindow(display_, w)); }
    void unmap(Window w) { sync(XUnmapWindow(display_, w)); }
    void map(Window w) { sync(XMapRaised(display_, w)); }
    // The background it paints itself with from its next exposure on.
    void paint(Window w, unsigned long colour) { sync(XSetWindowBackground(display_, w, colour)); }
    void destroy(Window w) { sync(XDestroyWindow(display_, w)); }
    void pointer(int x, int y) {
        sync(XWarpPointer(display_, 0, DefaultRootWindow(display_), 0, 0, 0, 0, x, y));
    }

  private:
    void sync(int) {
        XSync(display_, False);
        // The recorder's connection reads the notifications on its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Display* display_;
};

class X11Window : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(vt::display24().empty()) << "no test display: run the test through ctest";
        setenv("DISPLAY", vt::display24().c_str(), 1);
        ASSERT_TRUE(windows.ok());
        recorded = windows.make(kRed, 100, 100, 120, 80, "recorded red");
    }
    std::unique_ptr<Desktop> open() {
        std::string error;
        auto desktop = openX11WindowDesktop(
            recorded, [this](const std::string& n) { notes.push_back(n); }, &error);
        EXPECT_TRUE(desktop) << error;
        return desktop;
    }
    Windows windows;
    Window recorded = 0;
    std::vector<std::string> notes;
};

}  // namespace

TEST_F(X11Window, CoveringWindowsAndTheScreenEdgeChangeNothing) {
    auto desktop = open();
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->width(), 120);
    EXPECT_EQ(desktop->height(), 80);
    windows.make(kGreen, 160, 60, 200, 200, "covering green");
    Frame covered(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, covered.rows)) << desktop->lastError();
    EXPECT_EQ(covered.count(kRed, 0, 0, 120, 80), 120 * 80);

    // Moved half off the screen, under the other window: still all of it.
    windows.move(recorded, -60, 150);
    Frame moved(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, moved.rows)) << desktop->lastError();
    EXPECT_EQ(moved.count(kRed, 0, 0, 120, 80), 120 * 80);
    EXPECT_FALSE(desktop->targetClosed());
}

// The window's own pixels are lent, covered or not; once its size is no
// longer the recorded one, nothing is lent (grab() cuts or pads it).
TEST_F(X11Window, TheWindowsPixelsAreLentAtItsSize) {
    auto desktop = open();
    ASSERT_TRUE(desktop);
    windows.make(kGreen, 160, 60, 200, 200, "covering green");
    DibRows lent;
    ASSERT_TRUE(desktop->grabLent(0, 0, 120, 80, lent)) << desktop->lastError();
    ASSERT_TRUE(lent.topDown);
    int red = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x) {
            const std::uint8_t* p = lent.bits + lent.stride() * y + x * 4;
            red += (std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]) == kRed;
        }
    EXPECT_EQ(red, 120 * 80);
    EXPECT_FALSE(desktop->grabLent(10, 0, 110, 80, lent));
    windows.resize(recorded, 140, 80);
    EXPECT_FALSE(desktop->grabLent(0, 0, 120, 80, lent));
    Frame cut(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, cut.rows));
    EXPECT_EQ(cut.count(kRed, 0, 0, 120, 80), 120 * 80);
}

TEST_F(X11Window, CursorIsGivenInTheWindowAsItMoves) {
    auto desktop = open();
    ASSERT_TRUE(desktop);
    windows.pointer(130, 120);
    CursorImage cursor;
    ASSERT_TRUE(desktop->cursorImage(cursor));
    EXPECT_EQ(cursor.x, 30);
    EXPECT_EQ(cursor.y, 20);
    windows.move(recorded, 300, 100);
    ASSERT_TRUE(desktop->cursorImage(cursor));
    EXPECT_EQ(cursor.x, -170);  // left of the window now: drawn nowhere
    EXPECT_EQ(cursor.y, 20);
}

TEST_F(X11Window, SizeChangesAreCutOrFilledBlackAndToldOnce) {
    auto desktop = open();
    ASSERT_TRUE(desktop);
    windows.resize(recorded, 60, 40);
    Frame smaller(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, smaller.rows)) << desktop->lastError();
    EXPECT_EQ(smaller.count(kRed, 0, 0, 60, 40), 60 * 40);
    EXPECT_EQ(smaller.count(0, 60, 0, 120, 80), 60 * 80);
    EXPECT_EQ(smaller.count(0, 0, 40, 60, 80), 60 * 40);

    windows.resize(recorded, 300, 200);
    Frame larger(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, larger.rows)) << desktop->lastError();
    EXPECT_EQ(larger.count(kRed, 0, 0, 120, 80), 120 * 80);
    EXPECT_EQ(desktop->width(), 120);  // the recording's size stays
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("60x40"), std::string::npos) << notes[0];
}

// Only the window's destruction ends the grabs; unmapped (minimised, on
// another desktop) it is held at its last picture, told once, and its own
// picture comes back when it is mapped again.
TEST_F(X11Window, HiddenWindowHoldsItsLastPictureAndOnlyDestructionEndsTheGrabs) {
    auto desktop = open();
    ASSERT_TRUE(desktop);
    Frame frame(120, 80);
    ASSERT_TRUE(desktop->grab(0, 0, frame.rows)) << desktop->lastError();
    for (int round = 0; round < 2; ++round) {
        windows.unmap(recorded);
        windows.paint(recorded, round == 0 ? kGreen : kRed);
        Frame held(120, 80);
        ASSERT_TRUE(desktop->grab(0, 0, held.rows)) << desktop->lastError();
        EXPECT_EQ(held.count(round == 0 ? kRed : kGreen, 0, 0, 120, 80), 120 * 80);
        DibRows lent;
        EXPECT_FALSE(desktop->grabLent(0, 0, 120, 80, lent));
        EXPECT_FALSE(desktop->targetClosed());
        windows.map(recorded);
        Frame shown(120, 80);
        ASSERT_TRUE(desktop->grab(0, 0, shown.rows)) << desktop->lastError();
        EXPECT_EQ(shown.count(round == 0 ? kGreen : kRed, 0, 0, 120, 80), 120 * 80);
        EXPECT_TRUE(desktop->grabLent(0, 0, 120, 80, lent));
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("not shown"), std::string::npos) << notes[0];

    windows.destroy(recorded);
    EXPECT_FALSE(desktop->grab(0, 0, frame.rows));
    EXPECT_TRUE(desktop->targetClosed());
    recorded = windows.make(kRed, 100, 100, 120, 80, "recorded red");
    std::string error;
    windows.unmap(recorded);
    EXPECT_FALSE(openX11WindowDesktop(recorded, {}, &error));
    EXPECT_NE(error.find("not shown"), std::string::npos) << error;
}

TEST_F(X11Window, WindowsAreFoundByIdTitleAndPlace) {
    const Window cover = windows.make(kGreen, 150, 120, 50, 50, "covering green");
    std::string error;
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", recorded);
    for (const std::string& given : {std::string(hex), std::to_string(recorded),
                                     std::string("recorded red"), std::string("corded r")}) {
        const auto found = findX11Window(given, error);
        ASSERT_TRUE(found) << given << ": " << error;
        EXPECT_EQ(found->client, recorded);
        EXPECT_EQ(found->title, "recorded red");
        EXPECT_EQ(found->rect, (ScreenRect{100, 100, 120, 80}));
    }
    EXPECT_FALSE(findX11Window("no such window at all", error));
    EXPECT_NE(error.find("no such window at all"), std::string::npos);

    const auto list = listX11Windows();
    EXPECT_EQ(windowAt(list, 160, 130)->frame, cover);  // the topmost where both are
    EXPECT_EQ(windowAt(list, 110, 110)->frame, recorded);
    windows.raise(recorded);
    EXPECT_EQ(windowAt(listX11Windows(), 160, 130)->frame, recorded);
}
