#pragma once
// Global hot keys on X11: a key grabbed on every root window, with the Caps
// Lock and Num Lock variants so the locks do not disable it, whatever window
// has the focus. The owner feeds every event of the connection to Filter,
// which recognises the presses. A key another client has grabbed cannot be
// registered; that is reported by the result and nothing else.
// All calls on the thread that reads the connection's events.

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace velmora::platform {

// Windows virtual-key codes of the keys the program grabs.
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkEscape = 0x1B;
inline constexpr int kVkF9 = 0x78;
inline constexpr int kVkF10 = 0x79;
inline constexpr int kVkF11 = 0x7A;

// The X keysym of a virtual key (F1-F24, Esc, Enter, space, digits, letters);
// 0 for others.
std::uint32_t KeysymForVirtualKey(int virtualKey);

struct HotKeyPress {
    int id;
    int virtualKey;
};

class HotKeys {
  public:
    // connection may be null (no X display): every registration then fails.
    explicit HotKeys(xcb_connection_t* connection);
    ~HotKeys();
    HotKeys(const HotKeys&) = delete;
    HotKeys& operator=(const HotKeys&) = delete;

    // Grabs the key without modifiers under id. False when the id is taken,
    // the key has no key code, or another client holds the key.
    bool Register(int id, int virtualKey);
    bool Unregister(int id);
    void UnregisterAll();

    // A press of a registered key, once per physical press (auto-repeat is
    // ignored). Presses and releases of registered keys are recognised as
    // consumed through *consumed when it is given.
    std::optional<HotKeyPress> Filter(const xcb_generic_event_t* event, bool* consumed = nullptr);

  private:
    struct Grab {
        int virtualKey;
        std::vector<xcb_keycode_t> keycodes;
        std::vector<std::uint16_t> variants;  // modifier sets grabbed
        bool down = false;
        xcb_timestamp_t releasedAt = 0;
    };
    std::vector<std::uint16_t> ModifierVariants();
    std::vector<xcb_keycode_t> KeycodesFor(std::uint32_t keysym);
    void Ungrab(const Grab& grab);
    Grab* GrabFor(xcb_keycode_t keycode, int* id);

    xcb_connection_t* connection_;
    std::vector<xcb_window_t> roots_;
    std::uint16_t ignoredMask_ = 0;  // Lock and Num Lock
    std::map<int, Grab> grabs_;
};

}  // namespace velmora::platform
