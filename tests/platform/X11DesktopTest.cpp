// The X11 screen layer against real X servers: the fixture's 24-bit and
// 16-bit Xvfb, and private ones for failures.

// gtest before Xlib: Xlib's None and Bool macros break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/x11/Desktop.h"
#include "tests/support/TestEnv.h"

using namespace velmora::platform;
namespace vt = velmora::test;

namespace {

struct Frame {
    std::vector<std::uint8_t> bits;
    std::vector<std::uint32_t> table = std::vector<std::uint32_t>(256);
    DibRows rows;
    Frame(int w, int h, int bitCount) {
        bits.assign(static_cast<std::size_t>(dibStride(w, bitCount) * h), 0);
        rows = {bits.data(), w, h, bitCount, table.data()};
    }
    std::uint32_t value(int x, int y) const {  // 0xRRGGBB, or raw 5-5-5 at 16 bits
        const std::uint8_t* p = rows.row(y) + std::int64_t(x) * (rows.bitCount / 8);
        switch (rows.bitCount) {
            case 16:
                return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
            case 8:
                return table[*p] & 0xffffff;
            default:
                return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
        }
    }
};

// Draws on the root window of a display with plain Xlib, as another client.
class Painter {
  public:
    explicit Painter(const std::string& name) : display_(XOpenDisplay(name.c_str())) {
        if (display_) root_ = DefaultRootWindow(display_);
    }
    ~Painter() {
        if (display_) XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    Window root() const { return root_; }
    void fill(unsigned long pixel, int x, int y, int w, int h) {
        GC gc = XCreateGC(display_, root_, 0, nullptr);
        XSetForeground(display_, gc, pixel);
        XFillRectangle(display_, root_, gc, x, y, static_cast<unsigned>(w),
                       static_cast<unsigned>(h));
        XFreeGC(display_, gc);
        XSync(display_, False);
    }

  private:
    Display* display_;
    Window root_ = 0;
};

std::unique_ptr<Desktop> openOrSkip(const std::string& name) {
    std::string error;
    auto desktop = openX11Desktop(name.c_str(), &error);
    EXPECT_TRUE(desktop) << error;
    return desktop;
}

// An Xvfb of the test's own, for failures that would spoil the shared one.
class PrivateXvfb {
  public:
    explicit PrivateXvfb(std::vector<std::string> extra = {}) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 3);
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 1);
            dup2(devnull, 2);
            std::vector<std::string> args = {"Xvfb", "-displayfd", "3",         "-screen",
                                             "0",    "320x240x24", "-nolisten", "tcp"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(fds[1]);
        char buffer[32] = {};
        const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
        close(fds[0]);
        if (n > 0) display_ = ":" + std::string(buffer, std::strcspn(buffer, "\n"));
    }
    ~PrivateXvfb() { stop(); }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace

class X11Desktop24 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(vt::display24().empty()) << "no test display: run the test through ctest";
        painter = std::make_unique<Painter>(vt::display24());
        ASSERT_TRUE(painter->ok());
        desktop = openOrSkip(vt::display24());
        ASSERT_TRUE(desktop);
    }
    std::unique_ptr<Painter> painter;
    std::unique_ptr<Desktop> desktop;
};

TEST_F(X11Desktop24, ReportsTheScreenAsA32BitDib) {
    EXPECT_EQ(desktop->width(), 1280);
    EXPECT_EQ(desktop->height(), 720);
    EXPECT_EQ(desktop->bitsPerPixel(), 32);
}

TEST_F(X11Desktop24, GrabsDrawnPixelsAtEveryDepth) {
    // Four blocks of colours that every depth represents exactly.
    const unsigned long colours[4] = {0xff0000, 0x33cc66, 0x0000ff, 0xffffff};
    for (int i = 0; i < 4; ++i) painter->fill(colours[i], 200 + i * 10, 100, 10, 20);
    for (int depth : {32, 24, 16, 8}) {
        SCOPED_TRACE(depth);
        Frame f(40, 20, depth);
        ASSERT_TRUE(desktop->grab(200, 100, f.rows)) << desktop->lastError();
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t c = static_cast<std::uint32_t>(colours[i]);
            const std::uint32_t expected =
                depth == 16 ? ((c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31)) : c;
            for (int y : {0, 19})
                for (int x : {i * 10, i * 10 + 9})
                    EXPECT_EQ(f.value(x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(X11Desktop24, SizeChangesBetweenGrabsReuseTheSharedBuffer) {
    painter->fill(0x102030, 0, 0, 1280, 720);
    painter->fill(0xa0b0c0, 1279, 719, 1, 1);
    for (auto [w, h] : {std::pair{1280, 720}, {16, 16}, {301, 7}, {1280, 720}}) {
        Frame f(w, h, 32);
        ASSERT_TRUE(desktop->grab(1280 - w, 720 - h, f.rows));
        EXPECT_EQ(f.value(0, 0), 0x102030u);
        EXPECT_EQ(f.value(w - 1, h - 1), 0xa0b0c0u) << w << "x" << h;
    }
}

TEST_F(X11Desktop24, RectangleCrossingTheEdgesKeepsTheOutsideZero) {
    painter->fill(0x40ff40, 1270, 0, 10, 10);
    painter->fill(0x4040ff, 0, 710, 10, 10);
    Frame right(20, 20, 32);
    ASSERT_TRUE(desktop->grab(1270, -10, right.rows));
    EXPECT_EQ(right.value(0, 10), 0x40ff40u);
    EXPECT_EQ(right.value(9, 19), 0x40ff40u);
    EXPECT_EQ(right.value(10, 10), 0u);  // past the right edge
    EXPECT_EQ(right.value(0, 9), 0u);    // above the top
    Frame bottomLeft(20, 20, 24);
    ASSERT_TRUE(desktop->grab(-10, 710, bottomLeft.rows));
    EXPECT_EQ(bottomLeft.value(10, 0), 0x4040ffu);
    EXPECT_EQ(bottomLeft.value(9, 0), 0u);
    EXPECT_EQ(bottomLeft.value(10, 10), 0u);
    Frame away(8, 8, 32);
    EXPECT_TRUE(desktop->grab(5000, 5000, away.rows));
    EXPECT_EQ(away.value(0, 0), 0u);
}

// The lent rows are the grabbed picture, top-down, in the desktop's own
// buffer; a rectangle off the screen is not lent (grab() blacks its outside).
TEST_F(X11Desktop24, LentRowsAreTheGrabbedPictureTopDown) {
    painter->fill(0x204060, 0, 0, 1280, 720);
    painter->fill(0xff8000, 1000, 500, 3, 2);
    painter->fill(0x00ff00, 1279, 719, 1, 1);
    for (auto [left, top, w, h] : {std::tuple{1000, 500, 280, 220}, {998, 499, 6, 4}}) {
        Frame grabbed(w, h, 32);
        ASSERT_TRUE(desktop->grab(left, top, grabbed.rows));
        DibRows lent;
        ASSERT_TRUE(desktop->grabLent(left, top, w, h, lent)) << desktop->lastError();
        ASSERT_TRUE(lent.topDown);
        ASSERT_EQ(lent.width, w);
        ASSERT_EQ(lent.height, h);
        ASSERT_EQ(lent.stride(), std::int64_t(w) * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const std::uint8_t* p = lent.bits + lent.stride() * y + x * 4;
                ASSERT_EQ(std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0],
                          grabbed.value(x, y))
                    << x << "," << y << " of " << w << "x" << h;
            }
    }
    DibRows lent;
    EXPECT_FALSE(desktop->grabLent(1270, 0, 20, 20, lent));
    EXPECT_FALSE(desktop->grabLent(-1, 0, 20, 20, lent));
    EXPECT_FALSE(desktop->grabLent(0, 710, 20, 20, lent));
}

TEST_F(X11Desktop24, CursorIsDrawnAtItsHotSpot) {
    Display* d = painter->display();
    // A 16x16 cursor whose only visible pixels are a red 4x4 block at
    // (4..7, 4..7), with the hot spot at (5, 5).
    Pixmap source = XCreatePixmap(d, painter->root(), 16, 16, 1);
    Pixmap mask = XCreatePixmap(d, painter->root(), 16, 16, 1);
    GC gc = XCreateGC(d, source, 0, nullptr);
    XSetForeground(d, gc, 1);
    XFillRectangle(d, source, gc, 0, 0, 16, 16);
    XSetForeground(d, gc, 0);
    XFillRectangle(d, mask, gc, 0, 0, 16, 16);
    XSetForeground(d, gc, 1);
    XFillRectangle(d, mask, gc, 4, 4, 4, 4);
    XColor red{}, black{};
    red.red = 0xffff;
    Cursor cursor = XCreatePixmapCursor(d, source, mask, &red, &black, 5, 5);
    // A black window of our own under the pointer shows the cursor; the root
    // window's cursor belongs to the window manager.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = 0;
    attributes.cursor = cursor;
    Window window =
        XCreateWindow(d, painter->root(), 90, 190, 40, 40, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixel | CWCursor, &attributes);
    XMapRaised(d, window);
    XWarpPointer(d, None, painter->root(), 0, 0, 0, 0, 105, 205);
    XSync(d, False);

    CursorImage image;
    ASSERT_TRUE(desktop->cursorImage(image)) << desktop->lastError();
    EXPECT_EQ(image.x, 105);
    EXPECT_EQ(image.y, 205);
    EXPECT_EQ(image.xhot, 5);
    EXPECT_EQ(image.yhot, 5);
    ASSERT_EQ(image.width, 16);
    EXPECT_EQ(image.argb[5 * 16 + 5], 0xffff0000u);
    EXPECT_EQ(image.argb[0] >> 24, 0u);

    Frame f(20, 20, 32);
    ASSERT_TRUE(desktop->grab(100, 200, f.rows));
    EXPECT_EQ(f.value(5, 5), 0u) << "the screen copy itself carries no cursor";
    drawCursor(image, image.x - image.xhot - 100, image.y - image.yhot - 200, f.rows);
    EXPECT_EQ(f.value(5, 5), 0xff0000u);  // the hot spot under the pointer
    EXPECT_EQ(f.value(4, 4), 0xff0000u);
    EXPECT_EQ(f.value(7, 7), 0xff0000u);
    EXPECT_EQ(f.value(8, 8), 0u);
    EXPECT_EQ(f.value(3, 3), 0u);

    const ForeignCursor foreign = desktop->foreignCursor();
    EXPECT_EQ(foreign.x, 105);
    EXPECT_EQ(foreign.y, 205);
    EXPECT_NE(foreign.cursor, 0u);

    XDestroyWindow(d, window);
    XFreeCursor(d, cursor);
    XFreeGC(d, gc);
    XFreePixmap(d, source);
    XFreePixmap(d, mask);
    XSync(d, False);
}

TEST(X11Desktop16, SixteenBitScreenFollowsTheVisualMasks) {
    ASSERT_FALSE(vt::display16().empty()) << "no 16-bit test display: run the test through ctest";
    Painter painter(vt::display16());
    ASSERT_TRUE(painter.ok());
    auto desktop = openOrSkip(vt::display16());
    ASSERT_TRUE(desktop);
    EXPECT_EQ(desktop->bitsPerPixel(), 16);
    // 5-6-5 pixels: red, green, blue, mid grey.
    const unsigned long pixels[4] = {0xf800, 0x07e0, 0x001f, 0x8410};
    const std::uint32_t as555[4] = {0x7c00, 0x03e0, 0x001f, 0x4210};
    const std::uint32_t as888[4] = {0xff0000, 0x00ff00, 0x0000ff, 0x848284};
    for (int i = 0; i < 4; ++i) painter.fill(pixels[i], 10 + i * 4, 10, 4, 4);
    Frame f16(16, 4, 16), f32(16, 4, 32);
    ASSERT_TRUE(desktop->grab(10, 10, f16.rows)) << desktop->lastError();
    ASSERT_TRUE(desktop->grab(10, 10, f32.rows));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f16.value(i * 4, 0), as555[i]);
        EXPECT_EQ(f32.value(i * 4 + 3, 3), as888[i]);
    }
    DibRows lent;  // only B,G,R,x rows are lent
    EXPECT_FALSE(desktop->grabLent(10, 10, 16, 4, lent));
}

TEST(X11DesktopFailures, NoDisplayIsAnErrorNotACrash) {
    std::string error;
    EXPECT_EQ(openX11Desktop(":987", &error), nullptr);
    EXPECT_NE(error.find(":987"), std::string::npos) << error;
}

TEST(X11DesktopFailures, ServerWithoutSharedMemoryStillGrabs) {
    PrivateXvfb server({"-extension", "MIT-SHM"});
    ASSERT_FALSE(server.display().empty());
    Painter painter(server.display());
    ASSERT_TRUE(painter.ok());
    painter.fill(0x123456, 0, 0, 320, 240);
    auto desktop = openOrSkip(server.display());
    ASSERT_TRUE(desktop);
    Frame f(64, 48, 32);
    ASSERT_TRUE(desktop->grab(300, 200, f.rows)) << desktop->lastError();
    EXPECT_EQ(f.value(0, 0), 0x123456u);
    EXPECT_EQ(f.value(63, 47), 0u);
    // Nothing to lend without a shared segment: the caller grabs instead.
    DibRows lent;
    EXPECT_FALSE(desktop->grabLent(0, 0, 64, 48, lent));
}

TEST(X11DesktopFailures, LostConnectionMakesGrabsFail) {
    PrivateXvfb server;
    ASSERT_FALSE(server.display().empty());
    auto desktop = openOrSkip(server.display());
    ASSERT_TRUE(desktop);
    Frame f(32, 32, 32);
    ASSERT_TRUE(desktop->grab(0, 0, f.rows));
    server.stop();
    EXPECT_FALSE(desktop->grab(0, 0, f.rows));
    EXPECT_FALSE(desktop->grab(0, 0, f.rows));
    CursorImage image;
    EXPECT_FALSE(desktop->cursorImage(image));
    EXPECT_FALSE(desktop->lastError().empty());
}
