#pragma once
// Mouse buttons and motion as the X server reports them, in screen pixels.
// Qt hands its widgets positions rounded to its logical pixels, which are
// several screen pixels apart on a scaled screen; a window that must hit a
// single screen pixel reads the X events themselves: core events, or XInput 2
// device events where the toolkit selected those.

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace velmora::platform {

struct PointerEvent {
    enum Kind { Press, Release, Motion };
    Kind kind = Motion;
    std::uint32_t window = 0;  // the window the event was reported to
    int rootX = 0, rootY = 0;  // the pointer on the screen
};

// XInput's major opcode on the connection; 0 when the server has none.
int XInputOpcode(xcb_connection_t* connection);

// The event as a pointer event, or nothing for other events. Wheel "buttons"
// (4 to 7) are no presses. xinputOpcode: XInputOpcode of the event's
// connection.
std::optional<PointerEvent> PointerEventOf(const xcb_generic_event_t* event, int xinputOpcode);

}  // namespace velmora::platform
