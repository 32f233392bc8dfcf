// The frame grabber: one screen rectangle into one PackedDib at the desktop's
// depth, with the cursor drawn at its hot spot.

#include <sys/resource.h>
#include <unistd.h>

#include <cstring>

#include "engine/ScreenCamera.h"
#include "engine/YuvGrab.h"
#include "platform/realtime/RealtimeThread.h"
#include "platform/x11/Dib.h"

namespace velmora::engine {
namespace {

// Nice values standing for idle, lowest, lower, normal, higher, highest and
// time critical. Raising above normal needs a privilege; without it the
// worker stays where it is.
constexpr int kNiceOfPriority[7] = {19, 10, 5, 0, -5, -10, -15};

}  // namespace

std::string RealtimeGrabsText(const TRealtimeGrabs& grabs) {
    if (grabs.granted)
        return "Frames are grabbed at real-time priority " + std::to_string(grabs.priority) +
               (grabs.byRealtimeKit ? " (granted by RealtimeKit)." : ".");
    return "Frames are grabbed at normal priority (no real-time scheduling: " + grabs.reason +
           "); while other programs keep the processors busy, a frame may be grabbed a few "
           "milliseconds late.";
}

void TScreenCamera::ApplyThreadPriority() {
    if (ThreadPriority > 6) return;
    const int priority = static_cast<int>(ThreadPriority);
    thread_local int applied = -1;  // per thread: the catalogue grabs on the UI thread too
    if (applied == priority) return;
    applied = priority;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceOfPriority[priority]);
}

bool TScreenCamera::EnterRealtimeGrabs() {
    // Only the real clock has moments to keep; below normal priority the
    // user asked the recorder to stay out of the way.
    if (clock_ != SystemClock() || ThreadPriority < 3 || ThreadPriority > 6) return false;
    const int priority = static_cast<int>(ThreadPriority) - 2;  // normal: the lowest
    const platform::RealtimeResult result = platform::MakeThreadRealtime(priority);
    const bool granted = result.grant != platform::RealtimeGrant::Refused;
    if (!realtimeLogged_) {
        realtimeLogged_ = true;
        TRealtimeGrabs grabs;
        grabs.granted = granted;
        grabs.priority = priority;
        grabs.byRealtimeKit = result.grant == platform::RealtimeGrant::RealtimeKit;
        grabs.reason = result.reason;
        if (OnRealtimeGrabs)
            OnRealtimeGrabs(this, grabs);
        else
            CameraError(RealtimeGrabsText(grabs));
    }
    return granted;
}

void TScreenCamera::LeaveRealtimeGrabs() {
    platform::EndThreadRealtime();
}

PackedDib TScreenCamera::BitmapToPackedDib(int width, int height, int bitsPerPixel) {
    return AllocatePackedDib(width, height, bitsPerPixel);
}

PackedDib TScreenCamera::GrabFrame(int left, int top, int width, int height) {
    PackedDib frame = BitmapToPackedDib(width, height, ScreenBitsPerPixel);
    if (!frame) return nullptr;
    if (!GrabInto(frame, left, top)) {
        FreePackedDib(frame);
        return nullptr;
    }
    return frame;
}

// A template, not a std::function: no allocation per grab.
template <class Use>
bool TScreenCamera::WithCaptureSource(Use use) {
    std::shared_ptr<platform::Desktop> desktop;
    {
        std::lock_guard lock(desktopLock_);
        desktop = CaptureSource();
    }
    // Outside the lock: the frame timer's pointer query must not wait for
    // the user answering the desktop's sharing dialog.
    if (desktop) desktop->prepareCapture();
    std::lock_guard lock(desktopLock_);
    return desktop && use(*desktop);
}

bool TScreenCamera::GrabInto(PackedDib frame, int left, int top) {
    if (Recording) ApplyThreadPriority();
    if (vfw::isYuvFormat(frame->biCompression)) return GrabIntoYuv(frame, left, top);
    if (!platform::isSupportedDibDepth(frame->biBitCount)) {
        // The rows cannot be converted to this depth; the frame is black
        // (a reused one too).
        CameraError("Error retrieving bitmap bits");
        std::memset(PackedDibBits(frame), 0, frame->biSizeImage);
        return true;
    }
    return WithCaptureSource(
        [&](platform::Desktop& desktop) { return GrabRows(desktop, frame, left, top); });
}

bool TScreenCamera::GrabIntoYuv(PackedDib frame, int left, int top) {
    if (!yuvGrab_ || !yuvGrab_->Fits(*frame, ScreenBitsPerPixel))
        yuvGrab_ = std::make_unique<YuvGrab>(*frame, ScreenBitsPerPixel);
    if (!yuvGrab_->Ready()) return false;
    return WithCaptureSource([&](platform::Desktop& desktop) {
        platform::DibRows lent;
        if (desktop.grabLent(left, top, frame->biWidth, frame->biHeight, lent)) {
            DrawCursor(desktop, lent, left, top);
            const bool converted = yuvGrab_->FromLent(lent, frame);
            desktop.endLent();
            return converted;
        }
        const PackedDib dib = yuvGrab_->Dib();
        return dib && GrabRows(desktop, dib, left, top) && yuvGrab_->FromDib(dib, frame);
    });
}

bool TScreenCamera::GrabRows(platform::Desktop& desktop, PackedDib frame, int left, int top) {
    platform::DibRows rows;
    rows.bits = PackedDibBits(frame);
    rows.width = frame->biWidth;
    rows.height = frame->biHeight;
    rows.bitCount = frame->biBitCount;
    rows.colorTable = rows.bitCount == 8 ? PackedDibColorTable(frame) : nullptr;
    // The grab leaves the part off the screen as it was: a frame used
    // before must not show an old picture there.
    if (left < 0 || top < 0 || std::int64_t(left) + rows.width > desktop.width() ||
        std::int64_t(top) + rows.height > desktop.height())
        std::memset(rows.bits, 0, frame->biSizeImage);
    if (!desktop.grab(left, top, rows)) return false;
    DrawCursor(desktop, rows, left, top);
    return true;
}

void TScreenCamera::DrawCursor(platform::Desktop& desktop, const platform::DibRows& rows, int left,
                               int top) {
    platform::CursorImage cursor;
    if (CaptureCursor && desktop.cursorImage(cursor))
        platform::drawCursor(cursor, cursor.x - cursor.xhot - left, cursor.y - cursor.yhot - top,
                             rows);
}

void TScreenCamera::FreeFrame(PackedDib& frame) {
    if (!frame) return;
    FreePackedDib(frame);
    frame = nullptr;
}

bool TScreenCamera::CaptureTargetClosed() {
    std::lock_guard lock(desktopLock_);
    const auto source = CaptureSource();
    return source && source->targetClosed();
}

platform::ForeignCursor TScreenCamera::QueryForeignCursor() {
    std::lock_guard lock(desktopLock_);
    return desktop_ ? desktop_->foreignCursor() : platform::ForeignCursor{};
}

}  // namespace velmora::engine
