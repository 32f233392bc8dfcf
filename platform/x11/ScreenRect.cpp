#include "platform/x11/ScreenRect.h"

#include <algorithm>

namespace velmora::platform {
namespace {
// One axis: the size at most the screen's, then the start moved inside.
void fit(int& start, int& size, int screenStart, int screenSize) {
    size = std::min(size, screenSize);
    start = std::clamp(start, screenStart, screenStart + screenSize - size);
}
}  // namespace

ScreenRect FitIntoScreen(ScreenRect area, const ScreenRect& screen) {
    if (screen.empty()) return area;
    fit(area.left, area.width, screen.left, screen.width);
    fit(area.top, area.height, screen.top, screen.height);
    return area;
}

}  // namespace velmora::platform
