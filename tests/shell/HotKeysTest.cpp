// Global hot keys on the private Xvfb, pressed by xdotool from another
// process as a user would press them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/x11/HotKeys.h"
#include "tests/support/TestEnv.h"

using namespace velmora::platform;
using velmora::test::display24;
using velmora::test::run;

namespace {

struct Connection {
    Connection() { c = xcb_connect(display24().c_str(), nullptr); }
    ~Connection() { xcb_disconnect(c); }
    xcb_connection_t* c;
};

// Events of the connection for a while, in arrival order.
std::vector<xcb_key_press_event_t> KeyEvents(xcb_connection_t* c, int milliseconds = 700) {
    std::vector<xcb_key_press_event_t> events;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            const int type = e->response_type & 0x7f;
            if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE)
                events.push_back(*reinterpret_cast<xcb_key_press_event_t*>(e));
            std::free(e);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return events;
}

std::vector<HotKeyPress> Presses(HotKeys& keys, const std::vector<xcb_key_press_event_t>& events) {
    std::vector<HotKeyPress> presses;
    for (const auto& e : events)
        if (auto p = keys.Filter(reinterpret_cast<const xcb_generic_event_t*>(&e)))
            presses.push_back(*p);
    return presses;
}

class HotKeysTest : public testing::Test {
  protected:
    void SetUp() override {
        if (display24().empty()) GTEST_SKIP() << "no test display";
        ASSERT_FALSE(xcb_connection_has_error(own.c));
    }
    Connection own;
};

TEST_F(HotKeysTest, PressesReachTheGrabberWithAndWithoutLockKeys) {
    HotKeys keys(own.c);
    ASSERT_TRUE(keys.Register(1, kVkF9));
    ASSERT_TRUE(keys.Register(2, kVkF10));
    ASSERT_EQ(run("xdotool key F9 key F10"), 0);
    auto presses = Presses(keys, KeyEvents(own.c));
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].id, 1);
    EXPECT_EQ(presses[0].virtualKey, kVkF9);
    EXPECT_EQ(presses[1].virtualKey, kVkF10);

    // Num Lock and Caps Lock on must not disable the keys.
    ASSERT_EQ(run("xdotool key Num_Lock key Caps_Lock key F9 key Num_Lock key Caps_Lock"), 0);
    presses = Presses(keys, KeyEvents(own.c));
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].virtualKey, kVkF9);

    // Once released, the key is no longer ours.
    ASSERT_TRUE(keys.Unregister(1));
    ASSERT_EQ(run("xdotool key F9"), 0);
    EXPECT_TRUE(Presses(keys, KeyEvents(own.c, 300)).empty());
}

TEST_F(HotKeysTest, KeyHeldByAnotherClientFailsQuietlyAndFreesOnUnregister) {
    Connection other;
    HotKeys theirs(other.c), mine(own.c);
    ASSERT_TRUE(theirs.Register(7, kVkF9));
    EXPECT_FALSE(mine.Register(1, kVkF9));
    EXPECT_TRUE(mine.Register(2, kVkF10));  // the other key is unaffected
    EXPECT_FALSE(mine.Register(2, kVkF10)) << "an id is registered once";
    theirs.UnregisterAll();
    EXPECT_TRUE(mine.Register(1, kVkF9));
    EXPECT_FALSE(HotKeys(nullptr).Register(1, kVkF9));
    EXPECT_FALSE(mine.Register(3, 0xFF)) << "a key without a keysym";
}

TEST_F(HotKeysTest, AutoRepeatAndModifiedPressesAreNotHotKeys) {
    HotKeys keys(own.c);
    ASSERT_TRUE(keys.Register(1, kVkF9));
    ASSERT_EQ(run("xdotool key F9"), 0);
    const auto real = KeyEvents(own.c);
    ASSERT_EQ(real.size(), 2u);
    const xcb_key_press_event_t press = real[0], release = real[1];
    ASSERT_EQ(press.response_type & 0x7f, XCB_KEY_PRESS);

    auto at = [](xcb_key_press_event_t e, xcb_timestamp_t time, std::uint16_t state = 0) {
        e.time = time;
        e.state = state;
        return e;
    };
    const std::vector<xcb_key_press_event_t> held{
        at(press, 1000),  // counts
        at(press, 1030),  // detectable auto-repeat: press while down
        at(release, 1060),
        at(press, 1060),  // classic auto-repeat: release and press at one time
        at(release, 1200),
        at(press, 1500),  // a new press counts
        at(release, 1600),
        at(press, 1700, XCB_MOD_MASK_SHIFT),  // Shift+F9 belongs to the focus window
        at(release, 1750, XCB_MOD_MASK_SHIFT),
        at(press, 1800, XCB_MOD_MASK_LOCK),  // Caps Lock is ignored
    };
    const auto presses = Presses(keys, held);
    ASSERT_EQ(presses.size(), 3u);

    // F9 let go while Shift is down still ends the press.
    const std::vector<xcb_key_press_event_t> shiftedRelease{
        at(release, 1900), at(press, 2000),                      // counts
        at(release, 2100, XCB_MOD_MASK_SHIFT), at(press, 2300),  // a new press, not a repeat
    };
    EXPECT_EQ(Presses(keys, shiftedRelease).size(), 2u);
}

TEST_F(HotKeysTest, ReleaseWithShiftDownDoesNotSwallowTheNextPress) {
    HotKeys keys(own.c);
    ASSERT_TRUE(keys.Register(1, kVkF9));
    ASSERT_EQ(run("xdotool keydown F9 keydown shift keyup F9 keyup shift"), 0);
    ASSERT_EQ(Presses(keys, KeyEvents(own.c)).size(), 1u);
    ASSERT_EQ(run("xdotool key F9"), 0);
    const auto presses = Presses(keys, KeyEvents(own.c));
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].virtualKey, kVkF9);
}

}  // namespace
