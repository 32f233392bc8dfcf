#pragma once
// The screen's geometry as the X server has it at the moment of the call, in
// X screen pixels (the root window's coordinates). Every position the engine,
// the settings and the panel hold is in these pixels; windows convert them to
// Qt's coordinates at the one place that places them (overlays/ScreenPixels).

#include <string>
#include <vector>

#include "platform/x11/ScreenRect.h"

namespace velmora {

using platform::ScreenRect;

// The primary monitor at its offset (RandR: the monitor marked primary, else
// the first one; the whole screen where RandR knows none). This is what
// "Full Screen" records. Empty when there is no display.
ScreenRect GetPrimaryScreenRect();

// The whole X screen, every monitor together. Empty when there is no display.
ScreenRect GetDesktopRect();

// Chooses the screen this run records, before the application object: the
// parameter "--screen=x11" or "--screen=portal", else VELMORA_SCREEN, else
// the session's type. Qt's windows follow the choice where QT_QPA_PLATFORM
// does not say otherwise (X11 on a Wayland session: through XWayland).
// Returns the line for the start log.
std::string ChooseScreen(const std::vector<std::string>& parameters);

}  // namespace velmora
