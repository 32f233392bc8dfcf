#pragma once
// The screen as the recorder sees it: its size and depth as a Windows DIB of
// the screen would report them, rectangle copies into DIB rows, and the
// mouse cursor. The X11 implementation talks to a real server; tests use an
// in-memory one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/Dib.h"
#include "platform/x11/ScreenRect.h"

namespace velmora::platform {

// The cursor as the pointer shows it now.
struct CursorImage {
    int x = 0, y = 0;        // pointer position on the screen
    int xhot = 0, yhot = 0;  // hot spot inside the image
    int width = 0, height = 0;
    std::vector<std::uint32_t> argb;  // premultiplied ARGB, rows top-down
};

// One monitor: RandR's name for it ("DP-1", "HDMI-A-0") and its pixels.
struct Monitor {
    std::string name;
    ScreenRect rect;
    bool primary = false;
    bool operator==(const Monitor&) const = default;
};

// The pointer and the cursor shown by whatever window lies under it.
struct ForeignCursor {
    std::uint64_t cursor = 0;  // 0: none found
    int x = 0, y = 0;
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    // The whole X screen (every monitor) as it is now: a resolution change
    // while the program runs shows here.
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The primary monitor, in screen pixels at its offset: the monitor marked
    // primary, else the first one; the whole screen where none is known.
    virtual ScreenRect primaryMonitor() { return {0, 0, width(), height()}; }
    // Every monitor RandR knows, in its order, each cut to the screen; empty
    // where none is known (no RandR, a recorded window, the portal).
    virtual std::vector<Monitor> monitors() { return {}; }
    // 32 for 24- and 32-bit visuals, 16 for 15/16-bit ones, 8 for 8-bit.
    virtual int bitsPerPixel() const = 0;

    // Copies the rectangle into the DIB rows (width and height of the rows are
    // the rectangle's). The part of the rectangle outside the screen is not
    // written, so the caller's zero-filled rows stay zero there. Safe to call
    // from any one thread at a time per object.
    virtual bool grab(int left, int top, const DibRows& out) = 0;

    // The rectangle as the screen shows it now, in the desktop's own buffer,
    // for a caller that converts the rows at once: no copy into DIB rows.
    // The rows are top-down B,G,R,x pixels, width x 4 bytes each, stride()
    // bytes apart, and stay valid (and writable, to draw the cursor in)
    // until endLent() or the next grab from this object. False where the
    // desktop cannot lend this rectangle (off the screen or past a recorded
    // window's size, another pixel format, no shared memory): grab() then.
    virtual bool grabLent(int /*left*/, int /*top*/, int /*width*/, int /*height*/,
                          DibRows& /*out*/) {
        return false;
    }
    // The lent rows are no longer read: where they lie in a buffer the
    // screen's producer fills again, it gets the buffer back as it was
    // (without the cursor drawn in). cursorImage() between grabLent() and
    // this tells the cursor as it was at the grab.
    virtual void endLent() {}

    // False when no cursor shows on this screen or its image cannot be read.
    virtual bool cursorImage(CursorImage& out) = 0;

    // Pointer position and the cursor of the window under it.
    virtual ForeignCursor foreignCursor() = 0;

    // Why the last call failed, for the log.
    virtual std::string lastError() const = 0;

    // A use of the screen the user started (a recording, the area selector):
    // where seeing the screen needs the desktop's permission, the first grab
    // after it may ask once, and the sharing ends when the last use has
    // ended. cursor: whether the pictures are to show the pointer, where the
    // desktop draws it into them. Any thread; nothing to do where the screen
    // is always readable.
    virtual void beginCapture(bool /*cursor*/) {}
    virtual void endCapture() {}
    // Makes the screen ready for the grabs of a use that has begun: where
    // the desktop must be asked, this asks (which may wait for the user for
    // minutes) and the next grab tells how it went. Any thread, holding no
    // lock another thread waits for; nothing to do elsewhere.
    virtual void prepareCapture() {}

    // The recorded thing has gone (a recorded window was destroyed; one
    // merely hidden is not gone): grabs fail from now on, and the recording
    // ends as if it had been stopped.
    virtual bool targetClosed() { return false; }
};

// Opens the X display named (nullptr: $DISPLAY). Returns nullptr and sets
// *error when there is no usable display.
std::unique_ptr<Desktop> openX11Desktop(const char* displayName = nullptr,
                                        std::string* error = nullptr);

// Blends the cursor image into the rows with its top-left at picture position
// (originX, originY); pixels falling outside the rows are skipped.
void drawCursor(const CursorImage& cursor, int originX, int originY, const DibRows& out);

// What Full Screen records for a monitor choice: "" the primary monitor,
// "all" the whole screen, else the monitor of that name (letter case aside
// where no name matches exactly). Nothing when no monitor has that name.
std::optional<ScreenRect> FullScreenRect(Desktop& desktop, const std::string& monitor);

}  // namespace velmora::platform
