#pragma once
// A frame of the portal's PipeWire stream as the grabs read it, in the
// stream's own buffer, and the conversions into DIB rows and cursor images.
// No PipeWire types here, so all of it is checked without a session.

#include <cstdint>
#include <vector>

#include "platform/x11/Desktop.h"
#include "platform/x11/Dib.h"
#include "platform/x11/ScreenRect.h"

namespace velmora::platform::portal {

// The shared-memory formats we negotiate, named as PipeWire names them:
// bytes in memory order.
enum class StreamFormat { BGRx, BGRA, RGBx, RGBA };

// The picture of one buffer: its top-left pixel, rows top-down. It points
// into the buffer, which the stream keeps while the frame is read.
struct StreamFrame {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes from one row to the next
    StreamFormat format = StreamFormat::BGRx;
    std::uint64_t sequence = 0;  // 0: no frame yet

    bool empty() const { return sequence == 0 || !pixels || width <= 0 || height <= 0; }
};

// The picture in one buffer of the stream of width x height pixels, stride
// bytes a row: the crop region where the stream's metadata gives one (its
// part inside the buffer), else all of it. The sequence goes up by one.
// False, and frame left as it was, when the buffer is too small for the
// size and stride given or the crop lies wholly outside it.
bool FrameOfBuffer(const std::uint8_t* data, std::size_t size, int width, int height, int stride,
                   StreamFormat format, const ScreenRect* crop, StreamFrame& frame);

// The rectangle at (left, top) of the frame, out.width x out.height, into the
// rows; parts outside the frame are left as they are (zero in a new frame),
// as an X11 grab beyond the screen's edge leaves them.
void FrameToDib(const StreamFrame& frame, int left, int top, const DibRows& out);

// The frame's pixels lent for a conversion in place (Desktop::grabLent):
// the rows of a rectangle inside a B,G,R,x frame, and the pixels the cursor
// will be drawn over, put back at End() so the buffer goes back to the
// compositor as it came (it may fill only the changed parts of it again).
class LentRows {
  public:
    // False for a rectangle not wholly inside the frame or a frame in
    // another channel order. cursor: where the caller will draw, in frame
    // pixels (null: nowhere).
    bool Lend(const StreamFrame& frame, int left, int top, int width, int height,
              const ScreenRect* cursor, DibRows& out);
    // Puts back what was under the cursor; the rows are not read after it.
    void End();

  private:
    DibRows rows_;
    ScreenRect under_{};  // in the lent rows
    std::vector<std::uint8_t> saved_;
};

// A cursor bitmap of the stream's metadata (straight alpha in one of the
// formats above) as the premultiplied ARGB image drawCursor blends.
void CursorFromBitmap(const std::uint8_t* data, int width, int height, int stride,
                      StreamFormat format, CursorImage& out);

}  // namespace velmora::platform::portal
