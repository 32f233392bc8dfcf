#include "common/ScreenSize.h"

#include <cstdlib>
#include <memory>

#include "common/Functions.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora {

// Asked anew each time: monitors come and go and the screen may have changed
// size since the last call.
ScreenRect GetPrimaryScreenRect() {
    auto desktop = platform::OpenDesktop();
    return desktop ? desktop->primaryMonitor() : ScreenRect{};
}

std::optional<ScreenRect> GetFullScreenRect(const std::string& monitor) {
    auto desktop = platform::OpenDesktop();
    if (!desktop) return std::nullopt;
    return platform::FullScreenRect(*desktop, monitor);
}

std::vector<platform::Monitor> GetMonitors() {
    auto desktop = platform::OpenDesktop();
    return desktop ? desktop->monitors() : std::vector<platform::Monitor>{};
}

ScreenRect GetDesktopRect() {
    auto desktop = platform::OpenDesktop();
    return desktop ? ScreenRect{0, 0, desktop->width(), desktop->height()} : ScreenRect{};
}

std::string ChooseScreen(const std::vector<std::string>& parameters) {
    std::string asked;
    for (const std::string& parameter : parameters)
        if (parameter.starts_with("--screen=")) asked = parameter.substr(9);
    const platform::ScreenBackendChoice choice =
        platform::ChooseScreenBackend([](const char* name) { return std::getenv(name); }, asked);
    platform::SetScreenBackend(choice.backend);
    const bool portal = choice.backend == platform::ScreenBackend::Portal;
    // The area selector and the frame must be windows of the display that
    // is recorded.
    if (!std::getenv("QT_QPA_PLATFORM") &&
        (portal ? std::getenv("WAYLAND_DISPLAY") != nullptr : std::getenv("DISPLAY") != nullptr))
        setenv("QT_QPA_PLATFORM", portal ? "wayland" : "xcb", 0);
    return std::string("Screen: ") +
           (portal ? "the desktop's ScreenCast portal (PipeWire)" : "the X server") + ", " +
           choice.reason;
}

int GetScreenWidth() {
    return GetPrimaryScreenRect().width;
}

int GetScreenHeight() {
    return GetPrimaryScreenRect().height;
}

}  // namespace velmora
