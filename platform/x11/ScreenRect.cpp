#include "platform/x11/ScreenRect.h"

#include <algorithm>
#include <cctype>

#include "platform/x11/Desktop.h"

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

std::optional<ScreenRect> FullScreenRect(Desktop& desktop, const std::string& monitor) {
    if (monitor.empty()) return desktop.primaryMonitor();
    const auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    if (lower(monitor) == "all") return ScreenRect{0, 0, desktop.width(), desktop.height()};
    const std::vector<Monitor> all = desktop.monitors();
    for (const Monitor& m : all)
        if (m.name == monitor) return m.rect;
    for (const Monitor& m : all)
        if (lower(m.name) == lower(monitor)) return m.rect;
    return std::nullopt;
}

}  // namespace velmora::platform
