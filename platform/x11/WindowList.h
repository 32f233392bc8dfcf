#pragma once
// The windows of the X screen as a user names them: the top-level windows
// shown now, their place and their titles, found by a title or an id, and
// the one to record opened as a desktop of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/Desktop.h"
#include "platform/x11/ScreenRect.h"

namespace velmora::platform {

struct TopLevelWindow {
    // The child of the root (a window manager's frame where one runs), and
    // the application's own window in it (the same where no frame is).
    std::uint64_t frame = 0;
    std::uint64_t client = 0;
    std::string title;  // the client's _NET_WM_NAME, else WM_NAME; may be empty
    std::string windowClass;  // the class of its WM_CLASS ("XTerm"); may be empty
    ScreenRect rect;    // the frame on the screen, its border included
    ScreenRect area;    // the client on the screen: what a recording of it holds
};

// The top-level windows shown now, bottom first as they are stacked. Empty
// when the display cannot be opened (error says why).
std::vector<TopLevelWindow> listX11Windows(std::string* error = nullptr);

// The topmost of windows (bottom first) that holds the screen pixel.
std::optional<TopLevelWindow> windowAt(const std::vector<TopLevelWindow>& windows, int x, int y);

// A window shown now, given by its id (decimal, or hexadecimal with 0x as
// xwininfo and xdotool print it; a frame or a client) or its title: the
// exact title first, else the first title that contains the text. Nothing
// (error says why) when none is shown.
std::optional<TopLevelWindow> findX11Window(const std::string& idOrTitle, std::string& error);

// Whether the X server can give windows' own contents (Composite 0.2 or
// later); false with reason set when not.
bool x11WindowCaptureAvailable(std::string& reason);

// The window's own contents as a desktop whose screen is the window at the
// size it has now (a client without its window manager's frame), whatever covers it or wherever it
// stands; the cursor is given in the window's coordinates. A size change later is cut or filled
// with black, and told once through onNote; while the window is not shown
// (minimised, on another desktop) its last picture stands, told once too,
// and only its destruction ends the grabs. nullptr (error says why) when
// the window is not shown or the server has no Composite extension.
std::unique_ptr<Desktop> openX11WindowDesktop(std::uint64_t window,
                                              std::function<void(const std::string&)> onNote,
                                              std::string* error);

}  // namespace velmora::platform
