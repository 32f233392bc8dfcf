// Pointer events read from the X server's own event records: core button
// and motion events, and XInput 2 device events as xcb hands them over.

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/x11/PointerEvents.h"

using namespace velmora::platform;

namespace {

constexpr int kXInput = 131;  // the extension's major opcode in these records

// An XInput 2 device event as xcb delivers it: 32 bytes of wire event, the
// full sequence number, then the rest; positions in 16.16 fixed point.
std::array<std::uint8_t, 80> XI2Event(std::uint16_t type, std::uint32_t detail,
                                      std::uint32_t window, double rootX, double rootY) {
    std::array<std::uint8_t, 80> bytes{};
    bytes[0] = XCB_GE_GENERIC;
    bytes[1] = kXInput;
    std::memcpy(&bytes[8], &type, 2);
    std::memcpy(&bytes[16], &detail, 4);
    std::memcpy(&bytes[24], &window, 4);
    const std::int32_t x = static_cast<std::int32_t>(rootX * 65536);
    const std::int32_t y = static_cast<std::int32_t>(rootY * 65536);
    std::memcpy(&bytes[36], &x, 4);
    std::memcpy(&bytes[40], &y, 4);
    return bytes;
}

const xcb_generic_event_t* AsEvent(const void* bytes) {
    return static_cast<const xcb_generic_event_t*>(bytes);
}

TEST(PointerEventsTest, CoreEventsGiveTheRootPositionAndWheelsAreNoPresses) {
    xcb_button_press_event_t press{};
    press.response_type = XCB_BUTTON_PRESS;
    press.detail = 1;
    press.event = 0x400010;
    press.root_x = 101;
    press.root_y = 93;
    auto event = PointerEventOf(AsEvent(&press), kXInput);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Press);
    EXPECT_EQ(event->window, 0x400010u);
    EXPECT_EQ(event->rootX, 101);
    EXPECT_EQ(event->rootY, 93);

    press.response_type = XCB_BUTTON_RELEASE | 0x80;  // sent by another client
    press.detail = 3;
    event = PointerEventOf(AsEvent(&press), 0);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Release);

    press.response_type = XCB_BUTTON_PRESS;
    press.detail = 4;  // the wheel
    EXPECT_FALSE(PointerEventOf(AsEvent(&press), kXInput));

    xcb_motion_notify_event_t motion{};
    motion.response_type = XCB_MOTION_NOTIFY;
    motion.event = 7;
    motion.root_x = 1279;
    motion.root_y = 0;
    event = PointerEventOf(AsEvent(&motion), kXInput);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Motion);
    EXPECT_EQ(event->rootX, 1279);

    xcb_key_press_event_t key{};
    key.response_type = XCB_KEY_PRESS;
    EXPECT_FALSE(PointerEventOf(AsEvent(&key), kXInput));
    EXPECT_FALSE(PointerEventOf(nullptr, kXInput));
}

TEST(PointerEventsTest, XInput2EventsGiveThePixelThePositionLiesIn) {
    auto bytes = XI2Event(4, 1, 0x600010, 101.0, 93.0);  // XI_ButtonPress
    auto event = PointerEventOf(AsEvent(bytes.data()), kXInput);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Press);
    EXPECT_EQ(event->window, 0x600010u);
    EXPECT_EQ(event->rootX, 101);
    EXPECT_EQ(event->rootY, 93);

    bytes = XI2Event(6, 0, 5, 430.75, 269.5);  // XI_Motion, a sub-pixel device
    event = PointerEventOf(AsEvent(bytes.data()), kXInput);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Motion);
    EXPECT_EQ(event->rootX, 430);
    EXPECT_EQ(event->rootY, 269);

    bytes = XI2Event(5, 1, 5, 0, 0);  // XI_ButtonRelease
    event = PointerEventOf(AsEvent(bytes.data()), kXInput);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PointerEvent::Release);

    // Wheel clicks, other XInput events, another extension's events, and
    // XInput events where the server has no XInput are all left alone.
    EXPECT_FALSE(PointerEventOf(AsEvent(XI2Event(4, 5, 5, 0, 0).data()), kXInput));
    EXPECT_FALSE(PointerEventOf(AsEvent(XI2Event(7, 0, 5, 0, 0).data()), kXInput));  // enter
    EXPECT_FALSE(PointerEventOf(AsEvent(XI2Event(4, 1, 5, 0, 0).data()), kXInput + 1));
    EXPECT_FALSE(PointerEventOf(AsEvent(XI2Event(4, 1, 5, 0, 0).data()), 0));
}

}  // namespace
