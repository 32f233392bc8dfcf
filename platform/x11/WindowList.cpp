// The top-level windows from the X server's own tree: the root's children
// in stacking order, with the client window a window manager's frame holds
// found by its WM_STATE property, as xwininfo and xdotool find it.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

#include "platform/x11/WindowList.h"

namespace velmora::platform {
namespace {

struct DisplayHandle {
    Display* display = XOpenDisplay(nullptr);
    ~DisplayHandle() {
        if (display) XCloseDisplay(display);
    }
};

bool HasWmState(Display* display, Window window) {
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType,
                                          &type, &format, &items, &after, &data) == Success &&
                       type != 0;
    if (data) XFree(data);
    return found;
}

// The application's window in a frame: the first with WM_STATE, breadth
// first; the frame itself where none has it (no window manager).
Window ClientOf(Display* display, Window frame) {
    std::vector<Window> level{frame};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window window : level) {
            if (HasWmState(display, window)) return window;
            Window root, parent, *children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display, window, &root, &parent, &children, &count) && children) {
                next.insert(next.end(), children, children + count);
                XFree(children);
            }
        }
        level = std::move(next);
    }
    return frame;
}

std::string TitleOf(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items,
                           &after, &data) == Success &&
        data && type == utf8 && format == 8)
        title.assign(reinterpret_cast<const char*>(data), items);
    if (data) XFree(data);
    if (!title.empty()) return title;
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

std::string ClassOf(Display* display, Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) return {};
    std::string name = hint.res_class && *hint.res_class ? hint.res_class
                       : hint.res_name                   ? hint.res_name
                                                         : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return name;
}

std::vector<TopLevelWindow> ListWindows(Display* display) {
    std::vector<TopLevelWindow> windows;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return windows;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable || attributes.c_class != InputOutput)
            continue;
        TopLevelWindow window;
        window.frame = children[i];
        window.client = ClientOf(display, children[i]);
        window.title = TitleOf(display, static_cast<Window>(window.client));
        window.windowClass = ClassOf(display, static_cast<Window>(window.client));
        const int border = attributes.border_width;
        window.rect = {attributes.x, attributes.y, attributes.width + 2 * border,
                       attributes.height + 2 * border};
        window.area = window.rect;
        XWindowAttributes client;
        Window child;
        if (window.client != window.frame &&
            XGetWindowAttributes(display, static_cast<Window>(window.client), &client) &&
            XTranslateCoordinates(display, static_cast<Window>(window.client),
                                  DefaultRootWindow(display), 0, 0, &window.area.left,
                                  &window.area.top, &child))
            window.area = {window.area.left, window.area.top, client.width, client.height};
        windows.push_back(std::move(window));
    }
    if (children) XFree(children);
    return windows;
}

}  // namespace

std::vector<TopLevelWindow> listX11Windows(std::string* error) {
    DisplayHandle handle;
    if (!handle.display) {
        if (error) *error = "cannot open the X display";
        return {};
    }
    return ListWindows(handle.display);
}

std::optional<TopLevelWindow> windowAt(const std::vector<TopLevelWindow>& windows, int x, int y) {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (x >= it->rect.left && x < it->rect.right() && y >= it->rect.top &&
            y < it->rect.bottom())
            return *it;
    return std::nullopt;
}

std::optional<TopLevelWindow> findX11Window(const std::string& idOrTitle, std::string& error) {
    std::string listError;
    const std::vector<TopLevelWindow> windows = listX11Windows(&listError);
    if (!listError.empty()) {
        error = listError;
        return std::nullopt;
    }
    // An id as xwininfo (0x...) or xdotool (decimal) prints it.
    if (!idOrTitle.empty()) {
        char* end = nullptr;
        const unsigned long long id = std::strtoull(idOrTitle.c_str(), &end, 0);
        if (end && *end == '\0' && id != 0)
            for (const TopLevelWindow& window : windows)
                if (window.frame == id || window.client == id) return window;
    }
    // Topmost first, as the user sees them.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (!idOrTitle.empty() && it->title == idOrTitle) return *it;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (!idOrTitle.empty() && it->title.find(idOrTitle) != std::string::npos) return *it;
    error = "no window shown has the id or title \"" + idOrTitle + "\"";
    return std::nullopt;
}

}  // namespace velmora::platform
