#include "platform/x11/HotKeys.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace velmora::platform {
namespace {

constexpr std::uint32_t kXkNumLock = 0xff7f;
constexpr std::uint16_t kKeyModifiers = 0xff;  // Shift, Lock, Control, Mod1-Mod5

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

}  // namespace

std::uint32_t KeysymForVirtualKey(int vk) {
    if (vk >= 0x70 && vk <= 0x87) return 0xffbe + static_cast<std::uint32_t>(vk - 0x70);  // F1..
    if (vk == kVkEscape) return 0xff1b;
    if (vk == kVkReturn) return 0xff0d;
    if (vk == 0x20) return 0x20;
    if (vk >= '0' && vk <= '9') return static_cast<std::uint32_t>(vk);
    if (vk >= 'A' && vk <= 'Z') return static_cast<std::uint32_t>(vk - 'A' + 'a');
    return 0;
}

HotKeys::HotKeys(xcb_connection_t* connection) : connection_(connection) {
    if (!connection_ || xcb_connection_has_error(connection_)) {
        connection_ = nullptr;
        return;
    }
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem;
         xcb_screen_next(&it))
        roots_.push_back(it.data->root);
}

HotKeys::~HotKeys() {
    UnregisterAll();
}

std::vector<xcb_keycode_t> HotKeys::KeycodesFor(std::uint32_t keysym) {
    std::vector<xcb_keycode_t> result;
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection_,
        xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr));
    if (!mapping) return result;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    for (int code = 0; code < count; ++code)
        // The unshifted and shifted symbols: what the key types without modifiers.
        for (int column = 0; column < std::min(perCode, 2); ++column)
            if (syms[code * perCode + column] == keysym) {
                result.push_back(static_cast<xcb_keycode_t>(setup->min_keycode + code));
                break;
            }
    return result;
}

std::vector<std::uint16_t> HotKeys::ModifierVariants() {
    std::uint16_t numLock = 0;
    const auto numLockCodes = KeycodesFor(kXkNumLock);
    Reply<xcb_get_modifier_mapping_reply_t> modifiers(xcb_get_modifier_mapping_reply(
        connection_, xcb_get_modifier_mapping(connection_), nullptr));
    if (modifiers) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const int perModifier = modifiers->keycodes_per_modifier;
        for (int m = 0; m < 8 && !numLock; ++m)
            for (int k = 0; k < perModifier; ++k)
                for (const auto code : numLockCodes)
                    if (code != 0 && codes[m * perModifier + k] == code)
                        numLock = static_cast<std::uint16_t>(1u << m);
    }
    ignoredMask_ = static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLock);
    std::vector<std::uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (numLock) {
        variants.push_back(numLock);
        variants.push_back(static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

bool HotKeys::Register(int id, int virtualKey) {
    if (!connection_ || grabs_.count(id)) return false;
    const std::uint32_t keysym = KeysymForVirtualKey(virtualKey);
    if (!keysym) return false;
    Grab grab{virtualKey, KeycodesFor(keysym), ModifierVariants()};
    if (grab.keycodes.empty()) return false;
    std::vector<xcb_void_cookie_t> cookies;
    for (const xcb_window_t root : roots_)
        for (const std::uint16_t mods : grab.variants)
            for (const xcb_keycode_t code : grab.keycodes)
                cookies.push_back(xcb_grab_key_checked(connection_, 0, root, mods, code,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool ok = true;
    for (const auto cookie : cookies)
        // BadAccess: another client holds the key with these modifiers.
        if (Reply<xcb_generic_error_t> error{xcb_request_check(connection_, cookie)}) ok = false;
    if (!ok) {
        Ungrab(grab);
        return false;
    }
    grabs_.emplace(id, std::move(grab));
    return true;
}

void HotKeys::Ungrab(const Grab& grab) {
    for (const xcb_window_t root : roots_)
        for (const std::uint16_t mods : grab.variants)
            for (const xcb_keycode_t code : grab.keycodes)
                xcb_ungrab_key(connection_, code, root, mods);
    xcb_flush(connection_);
}

bool HotKeys::Unregister(int id) {
    const auto it = grabs_.find(id);
    if (it == grabs_.end()) return false;
    Ungrab(it->second);
    grabs_.erase(it);
    return true;
}

void HotKeys::UnregisterAll() {
    while (!grabs_.empty()) Unregister(grabs_.begin()->first);
}

HotKeys::Grab* HotKeys::GrabFor(xcb_keycode_t keycode, int* id) {
    for (auto& [key, grab] : grabs_)
        for (const auto code : grab.keycodes)
            if (code == keycode) {
                *id = key;
                return &grab;
            }
    return nullptr;
}

std::optional<HotKeyPress> HotKeys::Filter(const xcb_generic_event_t* event, bool* consumed) {
    if (consumed) *consumed = false;
    if (!event) return std::nullopt;
    const int type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return std::nullopt;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    int id = 0;
    Grab* grab = GrabFor(key->detail, &id);
    if (!grab) return std::nullopt;
    // A release always ends the press, even with Shift or Ctrl pressed since:
    // otherwise the next press would pass for auto-repeat.
    if (type == XCB_KEY_RELEASE) {
        if (consumed) *consumed = true;
        grab->down = false;
        grab->releasedAt = key->time;
        return std::nullopt;
    }
    // Only the bare key is ours; with Shift or Ctrl it belongs to the focus window.
    if ((key->state & kKeyModifiers & ~ignoredMask_) != 0) return std::nullopt;
    if (consumed) *consumed = true;
    // A held key repeats its press; without detectable auto-repeat each
    // repeat comes as a release and a press with the same time stamp.
    const bool repeat = grab->down || (grab->releasedAt != 0 && key->time == grab->releasedAt);
    grab->down = true;
    if (repeat) return std::nullopt;
    return HotKeyPress{id, grab->virtualKey};
}

}  // namespace velmora::platform
