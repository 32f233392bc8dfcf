#include "platform/x11/PointerEvents.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace velmora::platform {
namespace {

// The start of an XInput 2 device event (XIDeviceEvent) as xcb delivers it:
// xcb puts the full sequence number after the first 32 bytes of the wire
// event. Positions are 16.16 fixed point.
struct XI2DeviceEvent {
    std::uint8_t response_type;
    std::uint8_t extension;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint16_t event_type;
    std::uint16_t deviceid;
    std::uint32_t time;
    std::uint32_t detail;
    std::uint32_t root;
    std::uint32_t event;
    std::uint32_t child;
    std::uint32_t full_sequence;
    std::int32_t root_x;
    std::int32_t root_y;
};
static_assert(offsetof(XI2DeviceEvent, root_x) == 36);

constexpr std::uint16_t kXIButtonPress = 4;
constexpr std::uint16_t kXIButtonRelease = 5;
constexpr std::uint16_t kXIMotion = 6;

bool IsWheel(std::uint32_t button) {
    return button >= 4 && button <= 7;
}

int WholePixel(std::int32_t fixed1616) {
    return fixed1616 >> 16;  // floor: the pixel the position lies in
}

}  // namespace

int XInputOpcode(xcb_connection_t* connection) {
    if (!connection) return 0;
    constexpr const char* name = "XInputExtension";
    std::unique_ptr<xcb_query_extension_reply_t, decltype(&std::free)> reply(
        xcb_query_extension_reply(
            connection,
            xcb_query_extension(connection, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr),
        &std::free);
    return reply && reply->present ? reply->major_opcode : 0;
}

std::optional<PointerEvent> PointerEventOf(const xcb_generic_event_t* event, int xinputOpcode) {
    if (!event) return std::nullopt;
    const int type = event->response_type & 0x7f;
    if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
        const auto* e = reinterpret_cast<const xcb_button_press_event_t*>(event);
        if (IsWheel(e->detail)) return std::nullopt;
        return PointerEvent{type == XCB_BUTTON_PRESS ? PointerEvent::Press : PointerEvent::Release,
                            e->event, e->root_x, e->root_y};
    }
    if (type == XCB_MOTION_NOTIFY) {
        const auto* e = reinterpret_cast<const xcb_motion_notify_event_t*>(event);
        return PointerEvent{PointerEvent::Motion, e->event, e->root_x, e->root_y};
    }
    if (type != XCB_GE_GENERIC || xinputOpcode == 0) return std::nullopt;
    const auto* e = reinterpret_cast<const XI2DeviceEvent*>(event);
    if (e->extension != xinputOpcode) return std::nullopt;
    PointerEvent result{PointerEvent::Motion, e->event, WholePixel(e->root_x),
                        WholePixel(e->root_y)};
    switch (e->event_type) {
        case kXIButtonPress:
            result.kind = PointerEvent::Press;
            break;
        case kXIButtonRelease:
            result.kind = PointerEvent::Release;
            break;
        case kXIMotion:
            return result;
        default:
            return std::nullopt;
    }
    if (IsWheel(e->detail)) return std::nullopt;
    return result;
}

}  // namespace velmora::platform
