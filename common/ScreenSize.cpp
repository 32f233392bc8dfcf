#include <memory>

#include "common/Functions.h"
#include "platform/x11/Desktop.h"

namespace velmora {

// Asked anew each time: the screen may have changed size since the last call.
int GetScreenWidth() {
    auto desktop = platform::openX11Desktop();
    return desktop ? desktop->width() : 0;
}

int GetScreenHeight() {
    auto desktop = platform::openX11Desktop();
    return desktop ? desktop->height() : 0;
}

}  // namespace velmora
