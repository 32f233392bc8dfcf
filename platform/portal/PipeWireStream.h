#pragma once
// The portal's video stream: a PipeWire consumer on its own thread loop. Each
// buffer is taken as it comes and only the newest is kept, unread (shared
// memory, BGRx/BGRA/RGBx/RGBA); grabs read that buffer, so a grab never
// waits for the compositor once the first frame is in, and the compositor's
// thread never waits for a copy. A buffer a grab reads goes back to the
// compositor when the grab has ended.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/portal/StreamFrame.h"
#include "platform/x11/Desktop.h"

namespace velmora::platform::portal {

class PipeWireStream {
  public:
    PipeWireStream();
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Takes the remote's descriptor (closed by us in every case).
    bool Connect(int fd, std::uint32_t node, bool cursorMetadata, std::string& error);

    // Waits up to timeout for the first frame; false when none came or the
    // stream failed (error says which).
    bool WaitForFirstFrame(std::chrono::milliseconds timeout, std::string& error);

    // The newest frame's rectangle into the rows; false once the stream has
    // failed (the compositor ended the sharing, PipeWire went away).
    bool Grab(int left, int top, const DibRows& out, std::string& error);
    // The newest frame's rectangle lent in place (LentRows::Lend) until
    // EndLend(); the pixels under cursor (frame pixels; null: none) are put
    // back then. False where it cannot be lent or the stream has failed.
    // One grabbing thread at a time.
    bool Lend(int left, int top, int width, int height, const ScreenRect* cursor, DibRows& out);
    void EndLend();

    int width() const;
    int height() const;
    bool failed() const;
    // The pointer as the metadata last told it: false when hidden or unknown.
    bool Cursor(CursorImage& out) const;
    bool CursorPosition(int& x, int& y) const;

  private:
    struct Private;
    std::unique_ptr<Private> d_;
};

}  // namespace velmora::platform::portal
