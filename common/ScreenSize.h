#pragma once
// The screen's geometry as the X server has it at the moment of the call, in
// X screen pixels (the root window's coordinates). Every position the engine,
// the settings and the panel hold is in these pixels; windows convert them to
// Qt's coordinates at the one place that places them (overlays/ScreenPixels).

#include <optional>
#include <string>
#include <vector>

#include "platform/x11/Desktop.h"
#include "platform/x11/ScreenRect.h"

namespace velmora {

using platform::ScreenRect;

// The primary monitor at its offset (RandR: the monitor marked primary, else
// the first one; the whole screen where RandR knows none). This is what
// "Full Screen" records. Empty when there is no display.
ScreenRect GetPrimaryScreenRect();

// What Full Screen records for a monitor choice (see platform::FullScreenRect);
// nothing when no monitor has that name, or there is no display.
std::optional<ScreenRect> GetFullScreenRect(const std::string& monitor);

// The monitors RandR knows now, in its order; empty without RandR or a display.
std::vector<platform::Monitor> GetMonitors();

// The whole X screen, every monitor together. Empty when there is no display.
ScreenRect GetDesktopRect();

// Chooses the screen this run records, before the application object: the
// parameter "--screen=x11" or "--screen=portal", else VELMORA_SCREEN, else
// the session's type. Qt's windows follow the choice where QT_QPA_PLATFORM
// does not say otherwise (X11 on a Wayland session: through XWayland).
// Returns the line for the start log.
std::string ChooseScreen(const std::vector<std::string>& parameters);

}  // namespace velmora
