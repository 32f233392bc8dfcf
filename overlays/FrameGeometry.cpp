#include "overlays/FrameGeometry.h"

namespace velmora {
namespace {
// Rectangles given by their edges, right and bottom excluded; an inverted
// one is empty.
QRect edges(int left, int top, int right, int bottom) {
    if (right <= left || bottom <= top) return {};
    return QRect(left, top, right - left, bottom - top);
}
}  // namespace

FrameGeometry ComputeFrameGeometry(int x, int y, int w, int h, bool cornersOnly, int tw, int th) {
    FrameGeometry g;
    const int ww = w + 6, wh = h + th + 6;
    g.window = QRect(x - 4, y - th - 4, ww, wh);
    g.frameRect = edges(0, th, ww, wh);
    QRegion shape(edges(0, 0, ww, wh));
    shape -= edges(tw, 0, ww, th);                 // the caption strip is only as wide as its text
    shape -= edges(2, th + 2, w + 4, th + h + 4);  // the opening over the recorded area
    if (cornersOnly) {
        shape -= edges(0, th + 20, ww, wh - 20);
        shape -= edges(20, th, ww - 20, wh);
    }
    g.shape = shape;
    return g;
}

}  // namespace velmora
