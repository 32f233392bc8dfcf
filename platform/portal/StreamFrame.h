#pragma once
// A frame of the portal's PipeWire stream as we keep it between its arrival
// and the grabs that read it, and the conversions into DIB rows and cursor
// images. No PipeWire types here, so all of it is checked without a session.

#include <cstdint>
#include <vector>

#include "platform/x11/Desktop.h"
#include "platform/x11/Dib.h"

namespace velmora::platform::portal {

// The shared-memory formats we negotiate, named as PipeWire names them:
// bytes in memory order.
enum class StreamFormat { BGRx, BGRA, RGBx, RGBA };

struct StreamFrame {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes from one row to the next, rows top-down
    StreamFormat format = StreamFormat::BGRx;
    std::vector<std::uint8_t> pixels;
    std::uint64_t sequence = 0;  // 0: no frame yet

    bool empty() const { return sequence == 0 || width <= 0 || height <= 0; }
};

// Copies one buffer of the stream into frame (its pixels reused). False when
// the buffer is too small for the size and stride given.
bool StoreStreamBuffer(const std::uint8_t* data, std::size_t size, int width, int height,
                       int stride, StreamFormat format, StreamFrame& frame);

// The rectangle at (left, top) of the frame, out.width x out.height, into the
// rows; parts outside the frame are left as they are (zero in a new frame),
// as an X11 grab beyond the screen's edge leaves them.
void FrameToDib(const StreamFrame& frame, int left, int top, const DibRows& out);

// A cursor bitmap of the stream's metadata (straight alpha in one of the
// formats above) as the premultiplied ARGB image drawCursor blends.
void CursorFromBitmap(const std::uint8_t* data, int width, int height, int stride,
                      StreamFormat format, CursorImage& out);

}  // namespace velmora::platform::portal
