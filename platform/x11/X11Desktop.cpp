// The X11 screen: MIT-SHM copies of the root window (XGetImage where the
// server has no shared memory) and the cursor through XFixes. Xlib owns the
// connection; the shared-memory grabs use its XCB side for pipelined requests.
// The screen's size follows RandR's notifications, and the monitors are asked
// for when wanted, so a resolution change while recording is seen.
// A recorded window is redirected through Composite and read from its own
// pixmap, so what covers it, or its standing partly off the screen, is not
// in the picture.

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/x11/Desktop.h"
#include "platform/x11/WindowList.h"

namespace velmora::platform {
namespace {

// Xlib's default handler for a broken connection ends the process. Ours
// returns for the displays this layer opened (each then reports the loss)
// and leaves other connections to the handler that was there before.
std::mutex ownedMutex;
std::vector<Display*> ownedDisplays;
XIOErrorHandler previousIOHandler = nullptr;
XErrorHandler previousErrorHandler = nullptr;

bool owned(Display* display) {
    std::lock_guard lock(ownedMutex);
    return std::find(ownedDisplays.begin(), ownedDisplays.end(), display) != ownedDisplays.end();
}

int ioErrorHandler(Display* display) {
    if (owned(display)) return 0;
    return previousIOHandler ? previousIOHandler(display) : 0;
}

// A recorded window may go away between any two requests about it; the
// requests that then fail are seen in their results, not by ending the
// process as Xlib's default handler would.
int errorHandler(Display* display, XErrorEvent* event) {
    if (owned(display)) return 0;
    return previousErrorHandler ? previousErrorHandler(display, event) : 0;
}

// Composite 0.2 (named pixmaps) on the display.
bool hasComposite(Display* display, std::string& reason) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 2;
    const bool available = XCompositeQueryExtension(display, &eventBase, &errorBase) &&
                           XCompositeQueryVersion(display, &major, &minor) &&
                           (major > 0 || minor >= 2);
    if (!available) reason = "the X server has no Composite extension (0.2 or later)";
    return available;
}

void own(Display* display) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        previousIOHandler = XSetIOErrorHandler(ioErrorHandler);
        previousErrorHandler = XSetErrorHandler(errorHandler);
    });
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
        takePixmapFormat(depth);
        int eventBase, errorBase;
        hasXFixes_ = XFixesQueryExtension(display_, &eventBase, &errorBase);
    }

    ~X11Desktop() override {
        // The redirection ends with the connection.
        if (pixmap_ && !lost_) XFreePixmap(display_, pixmap_);
        releaseShm();
        if (!lost_) XCloseDisplay(display_);
        disown(display_);
        // After a lost connection Xlib's own state is unusable; its memory is
        // left to the process exit rather than risking a second failure.
    }

    // Window mode from here on: the window at the size it has now. An
    // application's window is recorded without the frame a window manager
    // puts around it (a frame's id records the frame). False with error set
    // when it is not shown or cannot be redirected.
    bool recordWindow(Window window, std::function<void(const std::string&)> onNote,
                      std::string& error) {
        if (!hasComposite(display_, error)) return false;
        XWindowAttributes attributes;
        const Window frame = topLevelOf(window);
        if (!frame || !XGetWindowAttributes(display_, window, &attributes) ||
            attributes.map_state != IsViewable) {
            error = "window " + std::to_string(window) + " is not shown";
            return false;
        }
        window_ = window;
        frame_ = frame;
        border_ = attributes.border_width;
        frameWidth_ = windowWidth_ = attributes.width;
        frameHeight_ = windowHeight_ = attributes.height;
        visual_ = attributes.visual;
        takePixmapFormat(attributes.depth);
        onNote_ = std::move(onNote);
        XSelectInput(display_, window_, StructureNotifyMask);
        // A window manager may hide a window by unmapping its frame alone.
        if (frame_ != window_) XSelectInput(display_, frame_, StructureNotifyMask);
        XCompositeRedirectWindow(display_, window_, CompositeRedirectAutomatic);
        // The off-screen copy starts as the screen showed the window, other
        // windows over it included: the window is asked to paint itself anew.
        XClearArea(display_, window_, 0, 0, 0, 0, True);
        XSync(display_, False);
        // Gone between the question and the redirection.
        if (!XGetWindowAttributes(display_, window_, &attributes) ||
            attributes.map_state != IsViewable) {
            error = "window " + std::to_string(window) + " is not shown";
            return false;
        }
        return true;
    }

    int width() const override {
        std::lock_guard lock(mutex_);
        if (window_) return frameWidth_;
        followScreenChanges();
        return width_;
    }
    int height() const override {
        std::lock_guard lock(mutex_);
        if (window_) return frameHeight_;
        followScreenChanges();
        return height_;
    }

    bool targetClosed() override {
        std::lock_guard lock(mutex_);
        return closed_;
    }
    int bitsPerPixel() const override { return bitsPerPixel_; }

    ScreenRect primaryMonitor() override {
        const std::vector<Monitor> all = monitors();
        std::lock_guard lock(mutex_);
        if (window_) return {0, 0, frameWidth_, frameHeight_};
        if (all.empty()) return {0, 0, width_, height_};
        const Monitor* chosen = &all.front();
        for (const Monitor& monitor : all)
            if (monitor.primary) chosen = &monitor;
        return chosen->rect;
    }

    std::vector<Monitor> monitors() override {
        std::lock_guard lock(mutex_);
        std::vector<Monitor> result;
        if (window_) return result;
        followScreenChanges();
        if (!usable() || !hasMonitors_) return result;
        int count = 0;
        XRRMonitorInfo* found = XRRGetMonitors(display_, root_, True, &count);
        if (!found || lost_) return result;
        for (int i = 0; i < count; ++i) {
            const XRRMonitorInfo& m = found[i];
            // A monitor reaching past the screen counts only for its part on it.
            const int x0 = std::max(m.x, 0), y0 = std::max(m.y, 0);
            const int x1 = std::min(m.x + m.width, width_);
            const int y1 = std::min(m.y + m.height, height_);
            if (x1 <= x0 || y1 <= y0) continue;
            char* atom = XGetAtomName(display_, m.name);
            result.push_back({atom ? atom : "", {x0, y0, x1 - x0, y1 - y0}, m.primary != 0});
            if (atom) XFree(atom);
        }
        XRRFreeMonitors(found);
        return result;
    }

    bool grab(int left, int top, const DibRows& out) override {
        std::lock_guard lock(mutex_);
        if (!usable()) return false;
        if (window_) return grabWindow(left, top, out);
        followScreenChanges();
        if (grabClipped(left, top, out)) return true;
        // The screen may have shrunk since its last notification reached us:
        // ask for its size and try once more with the new edges.
        const int oldWidth = width_, oldHeight = height_;
        if (lost_ || !readScreenSize() || (width_ == oldWidth && height_ == oldHeight))
            return false;
        return grabClipped(left, top, out);
    }

    bool grabLent(int left, int top, int width, int height, DibRows& out) override {
        std::lock_guard lock(mutex_);
        if (!usable() || !useShm_ || width <= 0 || height <= 0) return false;
        Drawable source = root_;
        int x = left, y = top;
        if (window_) {
            // The window's own pixmap at its recorded size; a window grown
            // or shrunk since is cut or padded by grab(), and a closed one
            // is told there.
            if (!takeWindowPicture() || hidden_ || left != 0 || top != 0 ||
                width != pictureWidth_ || height != pictureHeight_)
                return false;
            source = pixmap_;
            x = y = pictureBorder_;  // the named pixmap holds the border too
        } else {
            followScreenChanges();
            if (left < 0 || top < 0 || std::int64_t(left) + width > width_ ||
                std::int64_t(top) + height > height_)
                return false;
        }
        if (visual_->c_class != TrueColor && visual_->c_class != DirectColor) return false;
        const int bytesPerLine = width * 4;
        if (!isStandardBgr0(sourceFormat(nullptr, width, height, bytesPerLine)) ||
            !attachShm(width, height))
            return false;
        if (!fetchShm(source, x, y, width, height, bytesPerLine, [](int, int) {})) return false;
        out = DibRows{};
        out.bits = static_cast<std::uint8_t*>(shmAddress_);
        out.width = width;
        out.height = height;
        out.bitCount = 32;
        out.topDown = true;
        return true;
    }

  private:
    bool checkFormats(const DibRows& out) {
        if (!isSupportedDibDepth(out.bitCount) || out.width <= 0 || out.height <= 0 || !out.bits) {
            error_ = "grab: unsupported DIB " + std::to_string(out.width) + "x" +
                     std::to_string(out.height) + "x" + std::to_string(out.bitCount);
            return false;
        }
        if (visual_->c_class != TrueColor && visual_->c_class != DirectColor) {
            error_ = "grab: the screen's visual is not TrueColor";
            return false;
        }
        return true;
    }

    bool grabClipped(int left, int top, const DibRows& out) {
        if (!checkFormats(out)) return false;
        const int x0 = std::max(left, 0), y0 = std::max(top, 0);
        const int x1 =
            static_cast<int>(std::min<std::int64_t>(std::int64_t(left) + out.width, width_));
        const int y1 =
            static_cast<int>(std::min<std::int64_t>(std::int64_t(top) + out.height, height_));
        if (out.bitCount == 8 && out.colorTable)
            copyToDib(PixelSource{}, 0, 0, 0, 0, out, 0, 0);  // the colour table alone
        if (x1 <= x0 || y1 <= y0) return true;                // wholly off the screen
        const int w = x1 - x0, h = y1 - y0;

        if (useShm_ && attachShm(w, h))
            return grabShm(root_, x0, y0, w, h, out, x0 - left, y0 - top);
        return grabPlain(x0, y0, w, h, out, x0 - left, y0 - top);
    }

    // The recording keeps the window's first size: of a larger window the
    // part past it is left out, a smaller one leaves black around it. While
    // the window is not shown its last picture stands in for it.
    bool grabWindow(int left, int top, const DibRows& out) {
        if (!takeWindowPicture()) {
            error_ = lost_ ? "the X server connection was lost" : "the recorded window was closed";
            return false;
        }
        if (!checkFormats(out)) return false;
        const int x0 = std::max(left, 0), y0 = std::max(top, 0);
        const int x1 =
            static_cast<int>(std::min<std::int64_t>(std::int64_t(left) + out.width, pictureWidth_));
        const int y1 = static_cast<int>(
            std::min<std::int64_t>(std::int64_t(top) + out.height, pictureHeight_));
        if (!pixmap_ || x0 > left || y0 > top || x1 - left < out.width || y1 - top < out.height)
            std::memset(out.bits, 0, static_cast<std::size_t>(out.stride()) * out.height);
        if (out.bitCount == 8 && out.colorTable) copyToDib(PixelSource{}, 0, 0, 0, 0, out, 0, 0);
        // Hidden before its first picture was taken: black until it shows.
        if (!pixmap_ || x1 <= x0 || y1 <= y0) return true;
        const int w = x1 - x0, h = y1 - y0;
        // The named pixmap holds the border too.
        const int b = pictureBorder_;
        const bool ok = useShm_ && attachShm(w, h)
                            ? grabShm(pixmap_, x0 + b, y0 + b, w, h, out, x0 - left, y0 - top)
                            : grabDrawable(pixmap_, x0 + b, y0 + b, w, h, out, x0 - left, y0 - top);
        if (ok || lost_) return ok;
        // Hidden or destroyed before its notification reached us: asked anew
        // at the next grab, and this frame is black.
        XFreePixmap(display_, pixmap_);
        pixmap_ = 0;
        stale_ = true;
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, window_, &attributes)) {
            closed_ = true;
            error_ = "the recorded window was closed";
            return false;
        }
        std::memset(out.bits, 0, static_cast<std::size_t>(out.stride()) * out.height);
        return true;
    }

    // Brings pixmap_ up to date with the window: a new storage once it has
    // been mapped again or resized, its last one (the last picture) while it
    // is not shown. False once the window is gone.
    bool takeWindowPicture() {
        followWindow();
        if (closed_ || lost_) return false;
        if (!stale_ && pixmap_) return true;
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, window_, &attributes) || lost_) {
            closed_ = true;
            return false;
        }
        // Asked again at each grab until it shows: the window manager may map
        // its frame after the window itself.
        if (attributes.map_state != IsViewable) {
            stale_ = true;
            if (!hiddenNoted_ && onNote_)
                onNote_(
                    "The recorded window is not shown (minimised, on another desktop or "
                    "withdrawn); the recording holds its last picture until it is shown "
                    "again.");
            hiddenNoted_ = true;
            hidden_ = true;
            return true;
        }
        if (pixmap_) XFreePixmap(display_, pixmap_);
        pixmap_ = XCompositeNameWindowPixmap(display_, window_);
        XSync(display_, False);
        pictureWidth_ = attributes.width;
        pictureHeight_ = attributes.height;
        pictureBorder_ = attributes.border_width;
        stale_ = hidden_ = false;
        return !lost_;
    }

    // The window's notifications received so far: a new size, a map or an
    // unmap (of the window or its frame) asks for its storage anew; only its
    // destruction ends the recording.
    void followWindow() {
        bool resized = false;
        while (!lost_ && XPending(display_) > 0 && !lost_) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.xany.window != window_ && event.xany.window != frame_) continue;
            if (event.type == MapNotify || event.type == UnmapNotify ||
                event.type == ReparentNotify)
                stale_ = true;
            if (event.xany.window != window_) continue;
            if (event.type == DestroyNotify) closed_ = true;
            if (event.type == ConfigureNotify && (event.xconfigure.width != windowWidth_ ||
                                                  event.xconfigure.height != windowHeight_ ||
                                                  event.xconfigure.border_width != border_)) {
                windowWidth_ = event.xconfigure.width;
                windowHeight_ = event.xconfigure.height;
                border_ = event.xconfigure.border_width;
                resized = true;
            }
        }
        if (!resized) return;
        stale_ = true;
        if (sizeNoted_ || (windowWidth_ == frameWidth_ && windowHeight_ == frameHeight_)) return;
        sizeNoted_ = true;
        if (onNote_)
            onNote_("The recorded window is now " + std::to_string(windowWidth_) + "x" +
                    std::to_string(windowHeight_) + "; the recording keeps its size of " +
                    std::to_string(frameWidth_) + "x" + std::to_string(frameHeight_) +
                    ", cutting off what is larger and filling what is smaller with black.");
    }

    // The child of the root that holds the window; 0 for the root or an
    // unknown window.
    Window topLevelOf(Window window) {
        Window current = window;
        for (int depth = 0; depth < 64; ++depth) {
            Window root = 0, parent = 0, *children = nullptr;
            unsigned count = 0;
            if (!XQueryTree(display_, current, &root, &parent, &children, &count) || lost_)
                return 0;
            if (children) XFree(children);
            if (current == root) return 0;
            if (parent == root) return current;
            current = parent;
        }
        return 0;
    }

    void takePixmapFormat(int depth) {
        int formats = 0;
        if (XPixmapFormatValues* list = XListPixmapFormats(display_, &formats)) {
            for (int i = 0; i < formats; ++i)
                if (list[i].depth == depth) {
                    serverBitsPerPixel_ = list[i].bits_per_pixel;
                    scanlinePad_ = list[i].scanline_pad;
                }
            XFree(list);
        }
    }

  public:
    bool cursorImage(CursorImage& out) override {
        std::lock_guard lock(mutex_);
        if (!usable() || !hasXFixes_) return false;
        // A window's picture takes the pointer where it is over the window
        // now, which follows the window's moves.
        int originX = 0, originY = 0;
        if (window_) {
            Window child;
            // Not drawn over the last picture of a hidden window.
            if (closed_ || hidden_ ||
                !XTranslateCoordinates(display_, window_, root_, 0, 0, &originX, &originY, &child))
                return false;
        }
        XFixesCursorImage* image = XFixesGetCursorImage(display_);
        if (!image || lost_) {
            error_ = "XFixesGetCursorImage failed";
            return false;
        }
        out.x = image->x - originX;
        out.y = image->y - originY;
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
    bool grabShm(Drawable source, int x, int y, int w, int h, const DibRows& out, int dstX,
                 int dstY) {
        if (!knownServerFormat()) return false;
        const int bytesPerLine = static_cast<int>(
            ((std::int64_t(w) * serverBitsPerPixel_ + scanlinePad_ - 1) / scanlinePad_) *
            (scanlinePad_ / 8));
        return fetchShm(source, x, y, w, h, bytesPerLine, [&](int top, int rows) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(shmAddress_) +
                               std::int64_t(top) * bytesPerLine;
            copyToDib(sourceFormat(data, w, rows, bytesPerLine), 0, 0, w, rows, out, dstX,
                      dstY + top);
        });
    }

    // Fills the segment with the rectangle, top-down at bytesPerLine, and
    // calls arrived(top, rows) as each band is in.
    template <class Arrived>
    bool fetchShm(Drawable source, int x, int y, int w, int h, int bytesPerLine, Arrived arrived) {
        const int bandRows = std::max(32, (h + kBands - 1) / kBands);
        xcb_shm_get_image_cookie_t cookies[kBands];
        int bands = 0;
        for (int top = 0; top < h; top += bandRows, ++bands) {
            const int rows = std::min(bandRows, h - top);
            cookies[bands] = xcb_shm_get_image(
                connection_, static_cast<xcb_drawable_t>(source), static_cast<std::int16_t>(x),
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
            if (ok) arrived(top, std::min(bandRows, h - top));
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
        return grabDrawable(root_, x, y, w, h, out, dstX, dstY);
    }

    bool grabDrawable(Drawable source, int x, int y, int w, int h, const DibRows& out, int dstX,
                      int dstY) {
        XImage* image = XGetImage(display_, source, x, y, static_cast<unsigned>(w),
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
    // Window mode: the recorded window and the child of the root holding it,
    // its size now and at the start (the recording's), and the named pixmap
    // the pictures come from with the size it was named at (0: none yet).
    Window window_ = 0, frame_ = 0;
    Pixmap pixmap_ = 0;
    int border_ = 0;
    int windowWidth_ = 0, windowHeight_ = 0;
    int frameWidth_ = 0, frameHeight_ = 0;
    int pictureWidth_ = 0, pictureHeight_ = 0, pictureBorder_ = 0;
    bool stale_ = true;    // the window may have a new storage: name it anew
    bool hidden_ = false;  // not shown: pixmap_ holds its last picture
    bool closed_ = false;
    bool sizeNoted_ = false, hiddenNoted_ = false;
    std::function<void(const std::string&)> onNote_;
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

bool x11WindowCaptureAvailable(std::string& reason) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        reason = "cannot open the X display";
        return false;
    }
    const bool available = hasComposite(display, reason);
    XCloseDisplay(display);
    return available;
}

std::unique_ptr<Desktop> openX11WindowDesktop(std::uint64_t window,
                                              std::function<void(const std::string&)> onNote,
                                              std::string* error) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (error) *error = "cannot open the X display";
        return nullptr;
    }
    auto desktop = std::make_unique<X11Desktop>(display);
    std::string why;
    if (!desktop->recordWindow(static_cast<Window>(window), std::move(onNote), why)) {
        if (error) *error = why;
        return nullptr;
    }
    return desktop;
}

}  // namespace velmora::platform
