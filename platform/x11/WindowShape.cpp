#include "platform/x11/WindowShape.h"

#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <climits>

namespace velmora::platform {
namespace {
short Coordinate(int value) {
    return static_cast<short>(std::clamp(value, SHRT_MIN, SHRT_MAX));
}
unsigned short Length(int value) {
    return static_cast<unsigned short>(std::clamp(value, 0, USHRT_MAX));
}
}  // namespace

bool SetWindowShape(Display* display, unsigned long window, const std::vector<ScreenRect>& rects) {
    int eventBase = 0, errorBase = 0;
    if (!display || !XShapeQueryExtension(display, &eventBase, &errorBase)) return false;
    std::vector<XRectangle> list;
    list.reserve(rects.size());
    for (const ScreenRect& r : rects)
        if (!r.empty())
            list.push_back(
                {Coordinate(r.left), Coordinate(r.top), Length(r.width), Length(r.height)});
    XShapeCombineRectangles(display, window, ShapeBounding, 0, 0, list.data(),
                            static_cast<int>(list.size()), ShapeSet, Unsorted);
    XFlush(display);
    return true;
}

}  // namespace velmora::platform
