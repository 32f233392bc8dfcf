#include "tests/sound/RootSquare.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "tests/support/TestEnv.h"

namespace velmora::soundtest {

struct RootSquare::Impl {
    Display* display = nullptr;
    GC gc{};
    int left = 0, top = 0, size = 0;
};

RootSquare::RootSquare(int left, int top, int size) : impl_(std::make_unique<Impl>()) {
    impl_->left = left;
    impl_->top = top;
    impl_->size = size;
    impl_->display = XOpenDisplay(test::display24().c_str());
    if (impl_->display)
        impl_->gc = XCreateGC(impl_->display, DefaultRootWindow(impl_->display), 0, nullptr);
}

RootSquare::~RootSquare() {
    if (!impl_->display) return;
    XFreeGC(impl_->display, impl_->gc);
    XCloseDisplay(impl_->display);
}

bool RootSquare::Good() const {
    return impl_->display != nullptr;
}

void RootSquare::Paint(bool white) {
    PaintLevel(white ? 255 : 0);
}

void RootSquare::PaintLevel(int level) {
    Display* d = impl_->display;
    // The test display is 24-bit TrueColor: 0xRRGGBB.
    XSetForeground(d, impl_->gc, static_cast<unsigned long>(level & 0xff) * 0x010101UL);
    XFillRectangle(d, DefaultRootWindow(d), impl_->gc, impl_->left, impl_->top,
                   static_cast<unsigned>(impl_->size), static_cast<unsigned>(impl_->size));
    XSync(d, False);
}

std::vector<unsigned> RootSquare::Pixels(int left, int top, int width, int height) const {
    std::vector<unsigned> pixels;
    Display* d = impl_->display;
    XImage* image = XGetImage(d, DefaultRootWindow(d), left, top, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(static_cast<unsigned>(XGetPixel(image, x, y) & 0xffffff));
    XDestroyImage(image);
    return pixels;
}

}  // namespace velmora::soundtest
