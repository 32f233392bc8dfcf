#pragma once
// Which screen this run records: the X server, or the desktop's ScreenCast
// portal (org.freedesktop.portal.ScreenCast with a PipeWire stream) on a
// Wayland session, where X11 grabs see only XWayland's windows. Chosen once
// at start; every part of the program then opens its desktop here.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/x11/Desktop.h"

namespace velmora::platform {

enum class ScreenBackend { X11, Portal };

struct ScreenBackendChoice {
    ScreenBackend backend = ScreenBackend::X11;
    std::string reason;  // for the start log line
};

// override: "x11" or "portal" from the command line, else empty. Then
// VELMORA_SCREEN=x11|portal, then XDG_SESSION_TYPE=wayland or a set
// WAYLAND_DISPLAY choose the portal; anything else X11. env stands for
// getenv, so the choice can be checked without touching the process's own.
ScreenBackendChoice ChooseScreenBackend(const std::function<const char*(const char*)>& env,
                                        const std::string& override = {});

// The backend of this run; X11 until set.
void SetScreenBackend(ScreenBackend backend);
ScreenBackend CurrentScreenBackend();

// What a portal session shares: one monitor, or one window. Each keeps a
// restore token of its own.
enum class ScreenCastSource { Monitor, Window };

// Where the portal's restore tokens live between runs. load gives the kept
// token (empty: none); store keeps a new one. Either may be unset.
struct ScreenCastTokenStore {
    std::function<std::string(ScreenCastSource)> load;
    std::function<void(const std::string&, ScreenCastSource)> store;
};
void SetScreenCastTokenStore(ScreenCastTokenStore store);
// The kept token (empty: none or no store) and keeping a new one.
std::string LoadScreenCastToken(ScreenCastSource source = ScreenCastSource::Monitor);
void SaveScreenCastToken(const std::string& token,
                         ScreenCastSource source = ScreenCastSource::Monitor);

// The screen as the toolkit sees it (on Wayland: the output, in pixels),
// kept up to date by the windows' side: the portal's desktop reports it
// until a stream tells the real size. Unset: empty.
void SetOutputSize(ScreenRect size);
ScreenRect OutputSize();

// The desktop of this run's backend; nullptr when X11 has no display. On the
// portal every desktop shares one session, opened by the first grab after a
// beginCapture and closed when the last use has ended; onError hears why a
// grab failed (a refused permission, no portal, a timeout, the sharing
// stopped), on the grabbing thread.
std::unique_ptr<Desktop> OpenDesktop(std::function<void(const std::string&)> onError = {});

// Whether single windows can be recorded on this run's screen: the X
// server's Composite extension, or a portal that offers window sources.
// False with reason set when not.
bool WindowCaptureAvailable(std::string& reason);

// The window to record (its X window id) as a desktop of its own; onNote
// hears what the log is to tell about it. nullptr with error set when it
// cannot be recorded.
std::unique_ptr<Desktop> OpenWindowDesktop(std::uint64_t window,
                                           std::function<void(const std::string&)> onNote,
                                           std::string& error);

}  // namespace velmora::platform
