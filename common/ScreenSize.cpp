#include "common/ScreenSize.h"

#include <memory>

#include "common/Functions.h"
#include "platform/x11/Desktop.h"

namespace velmora {

// Asked anew each time: monitors come and go and the screen may have changed
// size since the last call.
ScreenRect GetPrimaryScreenRect() {
    auto desktop = platform::openX11Desktop();
    return desktop ? desktop->primaryMonitor() : ScreenRect{};
}

ScreenRect GetDesktopRect() {
    auto desktop = platform::openX11Desktop();
    return desktop ? ScreenRect{0, 0, desktop->width(), desktop->height()} : ScreenRect{};
}

int GetScreenWidth() {
    return GetPrimaryScreenRect().width;
}

int GetScreenHeight() {
    return GetPrimaryScreenRect().height;
}

}  // namespace velmora
