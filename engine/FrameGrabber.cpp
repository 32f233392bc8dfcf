// The frame grabber: one screen rectangle into one PackedDib at the desktop's
// depth, with the cursor drawn at its hot spot.

#include <sys/resource.h>
#include <unistd.h>

#include "engine/ScreenCamera.h"
#include "platform/x11/Dib.h"

namespace velmora::engine {
namespace {

// Nice values standing for idle, lowest, lower, normal, higher, highest and
// time critical. Raising above normal needs a privilege; without it the
// worker stays where it is.
constexpr int kNiceOfPriority[7] = {19, 10, 5, 0, -5, -10, -15};

}  // namespace

void TScreenCamera::ApplyThreadPriority() {
    if (ThreadPriority > 6) return;
    const int priority = static_cast<int>(ThreadPriority);
    thread_local int applied = -1;  // per thread: the catalogue grabs on the UI thread too
    if (applied == priority) return;
    applied = priority;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceOfPriority[priority]);
}

PackedDib TScreenCamera::BitmapToPackedDib(int width, int height, int bitsPerPixel) {
    return AllocatePackedDib(width, height, bitsPerPixel);
}

PackedDib TScreenCamera::GrabFrame(int left, int top, int width, int height) {
    if (Recording) ApplyThreadPriority();
    PackedDib frame = BitmapToPackedDib(width, height, ScreenBitsPerPixel);
    if (!frame) return nullptr;

    platform::DibRows rows;
    rows.bits = PackedDibBits(frame);
    rows.width = width;
    rows.height = height;
    rows.bitCount = ScreenBitsPerPixel;
    rows.colorTable = ScreenBitsPerPixel == 8 ? PackedDibColorTable(frame) : nullptr;

    if (!platform::isSupportedDibDepth(ScreenBitsPerPixel)) {
        // The rows cannot be converted to this depth; the frame stays black.
        CameraError("Error retrieving bitmap bits");
        return frame;
    }
    std::lock_guard lock(desktopLock_);
    if (!desktop_ || !desktop_->grab(left, top, rows)) {
        FreePackedDib(frame);
        return nullptr;
    }
    platform::CursorImage cursor;
    if (CaptureCursor && desktop_->cursorImage(cursor))
        platform::drawCursor(cursor, cursor.x - cursor.xhot - left, cursor.y - cursor.yhot - top,
                             rows);
    return frame;
}

void TScreenCamera::FreeFrame(PackedDib& frame) {
    if (!frame) return;
    FreePackedDib(frame);
    frame = nullptr;
}

platform::ForeignCursor TScreenCamera::QueryForeignCursor() {
    std::lock_guard lock(desktopLock_);
    return desktop_ ? desktop_->foreignCursor() : platform::ForeignCursor{};
}

}  // namespace velmora::engine
