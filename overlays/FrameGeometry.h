#pragma once
// Where the capture frame's window lies and which parts of it show, as pure
// arithmetic on the recorded rectangle and the caption's size.

#include <QRect>
#include <QRegion>

namespace velmora {

struct FrameGeometry {
    QRect window;     // screen coordinates
    QRect frameRect;  // window coordinates: the part painted red
    QRegion shape;    // window coordinates: what is visible
};

// x, y, width, height: the recorded rectangle on the screen. captionWidth and
// captionHeight: the caption text's extent. With cornersOnly the border keeps
// only four L-shaped corners with 20-pixel arms; otherwise the whole 2-pixel
// ring shows.
FrameGeometry ComputeFrameGeometry(int x, int y, int width, int height, bool cornersOnly,
                                   int captionWidth, int captionHeight);

}  // namespace velmora
