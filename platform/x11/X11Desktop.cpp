// The X11 screen: MIT-SHM copies of the root window (XGetImage where the
// server has no shared memory) and the cursor through XFixes. Xlib owns the
// connection; the shared-memory grabs use its XCB side for pipelined requests.
// The screen's size follows RandR's notifications, and the monitors are asked
// for when wanted, so a resolution change while recording is seen.

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/x11/Desktop.h"

namespace velmora::platform {
namespace {

// Xlib's default handler for a broken connection ends the process. Ours
// returns for the displays this layer opened (each then reports the loss)
// and leaves other connections to the handler that was there before.
std::mutex ownedMutex;
std::vector<Display*> ownedDisplays;
XIOErrorHandler previousIOHandler = nullptr;

int ioErrorHandler(Display* display) {
    {
        std::lock_guard lock(ownedMutex);
        if (std::find(ownedDisplays.begin(), ownedDisplays.end(), display) != ownedDisplays.end())
            return 0;
    }
    return previousIOHandler ? previousIOHandler(display) : 0;
}

void own(Display* display) {
    static std::once_flag installed;
    std::call_once(installed, [] { previousIOHandler = XSetIOErrorHandler(ioErrorHandler); });
    std::lock_guard lock(ownedMutex);
    ownedDisplays.push_back(display);
}

void disown(Display* display) {
    std::lock_guard lock(ownedMutex);
    std::erase(ownedDisplays, display);
}

class X11Desktop final : public Desktop {
  public:
    X11Desktop(Display* display) : display_(display) {
        // Xlib ends the process on a lost connection unless told otherwise;
        // a recorder must report it instead.
        own(display_);
        XSetIOErrorExitHandler(display_, &X11Desktop::connectionLost, this);
        screen_ = DefaultScreen(display_);
        root_ = RootWindow(display_, screen_);
        width_ = DisplayWidth(display_, screen_);
        height_ = DisplayHeight(display_, screen_);
        int rrError = 0, rrMajor = 0, rrMinor = 0;
        if (XRRQueryExtension(display_, &rrEventBase_, &rrError) &&
            XRRQueryVersion(display_, &rrMajor, &rrMinor)) {
            hasRandr_ = true;
            hasMonitors_ = rrMajor > 1 || (rrMajor == 1 && rrMinor >= 5);
            XRRSelectInput(display_, root_, RRScreenChangeNotifyMask);
        }
        const int depth = DefaultDepth(display_, screen_);
        visual_ = DefaultVisual(display_, screen_);
        bitsPerPixel_ = depth > 16 ? 32 : depth > 8 ? 16 : 8;
        int major, minor;
        Bool pixmaps;
        useShm_ = XShmQueryVersion(display_, &major, &minor, &pixmaps);
        connection_ = XGetXCBConnection(display_);
        int formats = 0;
        if (XPixmapFormatValues* list = XListPixmapFormats(display_, &formats)) {
            for (int i = 0; i < formats; ++i)
                if (list[i].depth == depth) {
                    serverBitsPerPixel_ = list[i].bits_per_pixel;
                    scanlinePad_ = list[i].scanline_pad;
                }
            XFree(list);
        }
        int eventBase, errorBase;
        hasXFixes_ = XFixesQueryExtension(display_, &eventBase, &errorBase);
    }

    ~X11Desktop() override {
        releaseShm();
        if (!lost_) XCloseDisplay(display_);
        disown(display_);
        // After a lost connection Xlib's own state is unusable; its memory is
        // left to the process exit rather than risking a second failure.
    }

    int width() const override {
        std::lock_guard lock(mutex_);
        followScreenChanges();
        return width_;
    }
    int height() const override {
        std::lock_guard lock(mutex_);
        followScreenChanges();
        return height_;
    }
    int bitsPerPixel() const override { return bitsPerPixel_; }

    ScreenRect primaryMonitor() override {
        std::lock_guard lock(mutex_);
        followScreenChanges();
        const ScreenRect screen{0, 0, width_, height_};
        if (!usable() || !hasMonitors_) return screen;
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display_, root_, True, &count);
        if (!monitors || lost_) return screen;
        const XRRMonitorInfo* chosen = count > 0 ? &monitors[0] : nullptr;
        for (int i = 0; i < count; ++i)
            if (monitors[i].primary) chosen = &monitors[i];
        ScreenRect result = screen;
        if (chosen) {
            // A monitor reaching past the screen counts only for its part on it.
            const int x0 = std::max(chosen->x, 0), y0 = std::max(chosen->y, 0);
            const int x1 = std::min(chosen->x + chosen->width, width_);
            const int y1 = std::min(chosen->y + chosen->height, height_);
            if (x1 > x0 && y1 > y0) result = {x0, y0, x1 - x0, y1 - y0};
        }
        XRRFreeMonitors(monitors);
        return result;
    }

    bool grab(int left, int top, const DibRows& out) override {
        std::lock_guard lock(mutex_);
        if (!usable()) return false;
        followScreenChanges();
        if (grabClipped(left, top, out)) return true;
        // The screen may have shrunk since its last notification reached us:
        // ask for its size and try once more with the new edges.
        const int oldWidth = width_, oldHeight = height_;
        if (lost_ || !readScreenSize() || (width_ == oldWidth && height_ == oldHeight))
            return false;
        return grabClipped(left, top, out);
    }

  private:
    bool grabClipped(int left, int top, const DibRows& out) {
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
        const int x1 =
            static_cast<int>(std::min<std::int64_t>(std::int64_t(left) + out.width, width_));
        const int y1 =
            static_cast<int>(std::min<std::int64_t>(std::int64_t(top) + out.height, height_));
        if (out.bitCount == 8 && out.colorTable)
            copyToDib(PixelSource{}, 0, 0, 0, 0, out, 0, 0);  // the colour table alone
        if (x1 <= x0 || y1 <= y0) return true;                // wholly off the screen
        const int w = x1 - x0, h = y1 - y0;

        if (useShm_ && attachShm(w, h)) return grabShm(x0, y0, w, h, out, x0 - left, y0 - top);
        return grabPlain(x0, y0, w, h, out, x0 - left, y0 - top);
    }

  public:
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
    // Takes the size from RandR's notifications already received; no round
    // trip to the server.
    void followScreenChanges() const {
        if (lost_ || !hasRandr_) return;
        while (XPending(display_) > 0 && !lost_) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != rrEventBase_ + RRScreenChangeNotify) continue;
            XRRUpdateConfiguration(&event);  // also swaps the sides of a rotated screen
            width_ = DisplayWidth(display_, screen_);
            height_ = DisplayHeight(display_, screen_);
        }
    }

    // Asks the server for the root window's size now.
    bool readScreenSize() {
        Window root;
        int x, y;
        unsigned w, h, border, depth;
        if (!XGetGeometry(display_, root_, &root, &x, &y, &w, &h, &border, &depth) || lost_)
            return false;
        width_ = static_cast<int>(w);
        height_ = static_cast<int>(h);
        return true;
    }

    static void connectionLost(Display*, void* self) {
        static_cast<X11Desktop*>(self)->lost_ = true;
    }

    bool usable() {
        if (lost_) error_ = "the X server connection was lost";
        return !lost_;
    }

    PixelSource sourceFormat(const std::uint8_t* data, int w, int h, int bytesPerLine) const {
        PixelSource src;
        src.data = data;
        src.width = w;
        src.height = h;
        src.bytesPerLine = bytesPerLine;
        src.bitsPerPixel = serverBitsPerPixel_;
        src.redMask = static_cast<std::uint32_t>(visual_->red_mask);
        src.greenMask = static_cast<std::uint32_t>(visual_->green_mask);
        src.blueMask = static_cast<std::uint32_t>(visual_->blue_mask);
        src.msbFirst = ImageByteOrder(display_) == MSBFirst;
        return src;
    }

    bool knownServerFormat() {
        if (serverBitsPerPixel_ == 32 || serverBitsPerPixel_ == 24 || serverBitsPerPixel_ == 16)
            return true;
        error_ = "grab: " + std::to_string(serverBitsPerPixel_) + " bits per pixel not supported";
        return false;
    }

    // The rectangle is fetched in horizontal bands, all requested at once:
    // while we convert one band the server already fills the next, so the
    // copy into the DIB costs little beyond the server's own work.
    bool grabShm(int x, int y, int w, int h, const DibRows& out, int dstX, int dstY) {
        if (!knownServerFormat()) return false;
        const int bytesPerLine = static_cast<int>(
            ((std::int64_t(w) * serverBitsPerPixel_ + scanlinePad_ - 1) / scanlinePad_) *
            (scanlinePad_ / 8));
        const int bandRows = std::max(32, (h + kBands - 1) / kBands);
        xcb_shm_get_image_cookie_t cookies[kBands];
        int bands = 0;
        for (int top = 0; top < h; top += bandRows, ++bands) {
            const int rows = std::min(bandRows, h - top);
            cookies[bands] = xcb_shm_get_image(
                connection_, static_cast<xcb_drawable_t>(root_), static_cast<std::int16_t>(x),
                static_cast<std::int16_t>(y + top), static_cast<std::uint16_t>(w),
                static_cast<std::uint16_t>(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_,
                static_cast<std::uint32_t>(std::int64_t(top) * bytesPerLine));
        }
        bool ok = true;
        for (int band = 0, top = 0; band < bands; ++band, top += bandRows) {
            xcb_generic_error_t* failure = nullptr;
            xcb_shm_get_image_reply_t* reply =
                xcb_shm_get_image_reply(connection_, cookies[band], &failure);
            if (!reply) {
                ok = false;
                if (failure)
                    error_ =
                        "shared-memory grab failed, X error " + std::to_string(failure->error_code);
                free(failure);
                continue;  // the remaining replies must still be collected
            }
            free(reply);
            if (!ok) continue;
            const int rows = std::min(bandRows, h - top);
            const auto* data = reinterpret_cast<const std::uint8_t*>(shmAddress_) +
                               std::int64_t(top) * bytesPerLine;
            copyToDib(sourceFormat(data, w, rows, bytesPerLine), 0, 0, w, rows, out, dstX,
                      dstY + top);
        }
        if (xcb_connection_has_error(connection_)) {
            lost_ = true;
            error_ = "the X server connection was lost";
            return false;
        }
        return ok;
    }

    bool grabPlain(int x, int y, int w, int h, const DibRows& out, int dstX, int dstY) {
        // XGetImage outside the screen is a protocol error that Xlib's default
        // handler ends the process for; this path is slow anyway, so the size
        // is checked first.
        if (!readScreenSize()) {
            error_ = "the X server connection was lost";
            return false;
        }
        w = std::min(w, width_ - x);
        h = std::min(h, height_ - y);
        if (w <= 0 || h <= 0) return true;
        XImage* image = XGetImage(display_, root_, x, y, static_cast<unsigned>(w),
                                  static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (!image || lost_) {
            error_ = lost_ ? "the X server connection was lost" : "XGetImage failed";
            if (image) XDestroyImage(image);
            return false;
        }
        serverBitsPerPixel_ = image->bits_per_pixel;
        const bool ok = knownServerFormat();
        if (ok)
            copyToDib(sourceFormat(reinterpret_cast<const std::uint8_t*>(image->data), w, h,
                                   image->bytes_per_line),
                      0, 0, w, h, out, dstX, dstY);
        XDestroyImage(image);
        return ok;
    }

    // One segment serves every rectangle; it is made anew, larger, when the
    // screen has grown past it.
    bool attachShm(int w, int h) {
        const std::size_t needed = static_cast<std::size_t>(w) * h * 4;
        if (shmSize_ >= needed) return true;
        releaseShm();
        const std::size_t size = std::max(
            needed, static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4);
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) return useShm_ = false;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return useShm_ = false;
        }
        segment_ = xcb_generate_id(connection_);
        xcb_generic_error_t* failure = xcb_request_check(
            connection_,
            xcb_shm_attach_checked(connection_, segment_, static_cast<std::uint32_t>(id), 0));
        // Marked for removal at once: the segment goes away with its last
        // user, even if this process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (failure || xcb_connection_has_error(connection_)) {
            free(failure);
            shmdt(address);
            return useShm_ = false;  // e.g. a remote server: XGetImage from now on
        }
        shmAddress_ = address;
        shmSize_ = size;
        return true;
    }

    void releaseShm() {
        if (shmSize_ == 0) return;
        if (!lost_) {
            xcb_shm_detach(connection_, segment_);
            xcb_flush(connection_);
        }
        shmdt(shmAddress_);
        shmSize_ = 0;
    }

    static constexpr int kBands = 8;

    Display* display_;
    int screen_ = 0;
    Window root_ = 0;
    Visual* visual_ = nullptr;
    mutable int width_ = 0, height_ = 0;
    int bitsPerPixel_ = 32;
    bool hasRandr_ = false, hasMonitors_ = false;
    int rrEventBase_ = 0;
    bool useShm_ = false;
    bool hasXFixes_ = false;
    xcb_connection_t* connection_ = nullptr;
    int serverBitsPerPixel_ = 32;
    int scanlinePad_ = 32;
    xcb_shm_seg_t segment_ = 0;
    void* shmAddress_ = nullptr;
    std::size_t shmSize_ = 0;
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
