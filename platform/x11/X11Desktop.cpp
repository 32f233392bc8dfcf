// The X11 screen: MIT-SHM copies of the root window (XGetImage where the
// server has no shared memory) and the cursor through XFixes.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/x11/Desktop.h"

namespace velmora::platform {
namespace {

// X protocol errors arrive asynchronously through one process-wide handler.
// While we set up shared memory we swap in a handler that records them.
std::mutex trapMutex;
std::atomic<int> trappedError{0};

int recordError(Display*, XErrorEvent* event) {
    trappedError = event->error_code;
    return 0;
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display), lock_(trapMutex) {
        XSync(display_, False);
        trappedError = 0;
        previous_ = XSetErrorHandler(recordError);
    }
    ~ErrorTrap() { XSetErrorHandler(previous_); }
    // Waits for the server's answer to everything sent so far.
    int error() {
        XSync(display_, False);
        return trappedError;
    }

private:
    Display* display_;
    std::lock_guard<std::mutex> lock_;
    XErrorHandler previous_;
};

class X11Desktop final : public Desktop {
public:
    X11Desktop(Display* display) : display_(display) {
        // Xlib ends the process on a lost connection unless told otherwise;
        // a recorder must report it instead.
        XSetIOErrorExitHandler(display_, &X11Desktop::connectionLost, this);
        screen_ = DefaultScreen(display_);
        root_ = RootWindow(display_, screen_);
        width_ = DisplayWidth(display_, screen_);
        height_ = DisplayHeight(display_, screen_);
        const int depth = DefaultDepth(display_, screen_);
        visual_ = DefaultVisual(display_, screen_);
        bitsPerPixel_ = depth > 16 ? 32 : depth > 8 ? 16 : 8;
        int major, minor;
        Bool pixmaps;
        useShm_ = XShmQueryVersion(display_, &major, &minor, &pixmaps);
        int eventBase, errorBase;
        hasXFixes_ = XFixesQueryExtension(display_, &eventBase, &errorBase);
    }

    ~X11Desktop() override {
        releaseShm();
        if (!lost_) XCloseDisplay(display_);
        // After a lost connection Xlib's own state is unusable; its memory is
        // left to the process exit rather than risking a second failure.
    }

    int width() const override { return width_; }
    int height() const override { return height_; }
    int bitsPerPixel() const override { return bitsPerPixel_; }

    bool grab(int left, int top, const DibRows& out) override {
        std::lock_guard lock(mutex_);
        if (!usable()) return false;
        if (!isSupportedDibDepth(out.bitCount) || out.width <= 0 || out.height <= 0 || !out.bits) {
            error_ = "grab: unsupported DIB " + std::to_string(out.width) + "x" +
                     std::to_string(out.height) + "x" + std::to_string(out.bitCount);
            return false;
        }
        if (visual_->c_class != TrueColor && visual_->c_class != DirectColor) {
            error_ = "grab: the screen's visual is not TrueColor";
            return false;
        }
        const int x0 = std::max(left, 0), y0 = std::max(top, 0);
        const int x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(left) + out.width, width_));
        const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t(top) + out.height, height_));
        if (out.bitCount == 8 && out.colorTable)
            copyToDib(PixelSource{}, 0, 0, 0, 0, out, 0, 0);  // the colour table alone
        if (x1 <= x0 || y1 <= y0) return true;  // wholly off the screen
        const int w = x1 - x0, h = y1 - y0;

        XImage* image = nullptr;
        bool ownImage = false;
        if (useShm_ && prepareShm(w, h)) {
            if (!XShmGetImage(display_, root_, shmImage_, x0, y0, AllPlanes)) {
                error_ = "XShmGetImage failed";
                return false;
            }
            image = shmImage_;
        } else {
            image = XGetImage(display_, root_, x0, y0, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
            if (!image) {
                error_ = lost_ ? "the X server connection was lost" : "XGetImage failed";
                return false;
            }
            ownImage = true;
        }
        if (lost_) return false;
        PixelSource src;
        src.data = reinterpret_cast<const std::uint8_t*>(image->data);
        src.width = w;
        src.height = h;
        src.bytesPerLine = image->bytes_per_line;
        src.bitsPerPixel = image->bits_per_pixel;
        src.redMask = static_cast<std::uint32_t>(image->red_mask);
        src.greenMask = static_cast<std::uint32_t>(image->green_mask);
        src.blueMask = static_cast<std::uint32_t>(image->blue_mask);
        src.msbFirst = image->byte_order == MSBFirst;
        const bool known = src.bitsPerPixel == 32 || src.bitsPerPixel == 24 || src.bitsPerPixel == 16;
        if (known) copyToDib(src, 0, 0, w, h, out, x0 - left, y0 - top);
        else error_ = "grab: " + std::to_string(src.bitsPerPixel) + " bits per pixel not supported";
        if (ownImage) XDestroyImage(image);
        return known;
    }

    bool cursorImage(CursorImage& out) override {
        std::lock_guard lock(mutex_);
        if (!usable() || !hasXFixes_) return false;
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (!image || lost_) {
            error_ = "XFixesGetCursorImage failed";
            return false;
        }
        out.x = image->x;
        out.y = image->y;
        out.xhot = image->xhot;
        out.yhot = image->yhot;
        out.width = image->width;
        out.height = image->height;
        out.argb.resize(static_cast<std::size_t>(image->width) * image->height);
        // pixels[] are longs holding 32-bit premultiplied ARGB.
        for (std::size_t i = 0; i < out.argb.size(); ++i)
            out.argb[i] = static_cast<std::uint32_t>(image->pixels[i]);
        XFree(image);
        return true;
    }

    ForeignCursor foreignCursor() override {
        std::lock_guard lock(mutex_);
        ForeignCursor result;
        if (!usable()) return result;
        Window rootReturn, child;
        int rootX, rootY, winX, winY;
        unsigned mask;
        if (!XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY,
                           &mask))
            return result;  // the pointer is on another screen
        result.x = rootX;
        result.y = rootY;
        if (!hasXFixes_) return result;
        if (XFixesCursorImage* image = XFixesGetCursorImage(display_)) {
            result.cursor = image->cursor_serial;
            XFree(image);
        }
        return result;
    }

    std::string lastError() const override {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    static void connectionLost(Display*, void* self) {
        static_cast<X11Desktop*>(self)->lost_ = true;
    }

    bool usable() {
        if (lost_) error_ = "the X server connection was lost";
        return !lost_;
    }

    // One segment, big enough for the whole screen, serves every grab size;
    // only the client-side image header follows the size.
    bool prepareShm(int w, int h) {
        if (shmImage_ && shmImage_->width == w && shmImage_->height == h) return true;
        const std::size_t needed = static_cast<std::size_t>(std::max(width_, w)) *
                                   static_cast<std::size_t>(std::max(height_, h)) * 4;
        if (shmImage_) {
            shmImage_->data = nullptr;
            XDestroyImage(shmImage_);
            shmImage_ = nullptr;
        }
        if (shmSize_ < needed) {
            releaseShm();
            if (!attachShm(needed)) {
                useShm_ = false;  // e.g. a remote server: XGetImage from now on
                return false;
            }
        }
        shmImage_ = XShmCreateImage(display_, visual_, DefaultDepth(display_, screen_), ZPixmap,
                                    shm_.shmaddr, &shm_, static_cast<unsigned>(w),
                                    static_cast<unsigned>(h));
        if (!shmImage_) return false;
        return true;
    }

    bool attachShm(std::size_t size) {
        shm_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (shm_.shmid < 0) return false;
        shm_.shmaddr = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
            shmctl(shm_.shmid, IPC_RMID, nullptr);
            return false;
        }
        shm_.readOnly = False;
        int failure;
        {
            ErrorTrap trap(display_);
            XShmAttach(display_, &shm_);
            failure = trap.error();
        }
        // Marked for removal at once: the segment goes away with its last
        // user, even if this process dies.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        if (failure || lost_) {
            shmdt(shm_.shmaddr);
            shm_.shmaddr = nullptr;
            return false;
        }
        shmSize_ = size;
        return true;
    }

    void releaseShm() {
        if (shmImage_) {
            shmImage_->data = nullptr;
            XDestroyImage(shmImage_);
            shmImage_ = nullptr;
        }
        if (shmSize_ > 0) {
            if (!lost_) XShmDetach(display_, &shm_);
            shmdt(shm_.shmaddr);
            shmSize_ = 0;
        }
    }

    Display* display_;
    int screen_ = 0;
    Window root_ = 0;
    Visual* visual_ = nullptr;
    int width_ = 0, height_ = 0, bitsPerPixel_ = 32;
    bool useShm_ = false;
    bool hasXFixes_ = false;
    XShmSegmentInfo shm_{};
    std::size_t shmSize_ = 0;
    XImage* shmImage_ = nullptr;
    std::atomic<bool> lost_{false};
    mutable std::mutex mutex_;
    std::string error_;
};

}  // namespace

std::unique_ptr<Desktop> openX11Desktop(const char* displayName, std::string* error) {
    Display* display = XOpenDisplay(displayName);
    if (!display) {
        if (error) {
            const char* name = displayName ? displayName : XDisplayName(nullptr);
            *error = std::string("cannot open X display \"") + (name ? name : "") + "\"";
        }
        return nullptr;
    }
    return std::make_unique<X11Desktop>(display);
}

}  // namespace velmora::platform
