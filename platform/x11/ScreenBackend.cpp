// The choice of this run's screen and the portal's kept token: plain state,
// apart from the portal itself, so the settings code can use it alone.

#include <mutex>

#include "platform/x11/ScreenBackend.h"

namespace velmora::platform {
namespace {

ScreenBackend backend = ScreenBackend::X11;
std::mutex storeMutex;
ScreenCastTokenStore tokenStore;
ScreenRect outputSize;

}  // namespace

ScreenBackendChoice ChooseScreenBackend(const std::function<const char*(const char*)>& env,
                                        const std::string& override) {
    auto value = [&env](const char* name) {
        const char* v = env(name);
        return std::string(v ? v : "");
    };
    auto named = [](const std::string& name, ScreenBackend& out) {
        if (name == "x11")
            out = ScreenBackend::X11;
        else if (name == "portal")
            out = ScreenBackend::Portal;
        else
            return false;
        return true;
    };
    ScreenBackendChoice choice;
    if (named(override, choice.backend)) {
        choice.reason = "asked for on the command line";
        return choice;
    }
    const std::string asked = value("VELMORA_SCREEN");
    if (named(asked, choice.backend)) {
        choice.reason = "VELMORA_SCREEN=" + asked;
        return choice;
    }
    if (value("XDG_SESSION_TYPE") == "wayland") {
        choice = {ScreenBackend::Portal, "a Wayland session (XDG_SESSION_TYPE=wayland)"};
    } else if (!value("WAYLAND_DISPLAY").empty()) {
        choice = {ScreenBackend::Portal, "a Wayland session (WAYLAND_DISPLAY is set)"};
    } else {
        choice = {ScreenBackend::X11, "no Wayland session"};
    }
    if (!asked.empty()) choice.reason += "; VELMORA_SCREEN=" + asked + " is neither x11 nor portal";
    return choice;
}

void SetScreenBackend(ScreenBackend chosen) {
    backend = chosen;
}

ScreenBackend CurrentScreenBackend() {
    return backend;
}

void SetScreenCastTokenStore(ScreenCastTokenStore store) {
    std::lock_guard lock(storeMutex);
    tokenStore = std::move(store);
}

std::string LoadScreenCastToken(ScreenCastSource source) {
    std::lock_guard lock(storeMutex);
    return tokenStore.load ? tokenStore.load(source) : std::string();
}

void SaveScreenCastToken(const std::string& token, ScreenCastSource source) {
    std::lock_guard lock(storeMutex);
    if (tokenStore.store) tokenStore.store(token, source);
}

void SetOutputSize(ScreenRect size) {
    std::lock_guard lock(storeMutex);
    outputSize = size;
}

ScreenRect OutputSize() {
    std::lock_guard lock(storeMutex);
    return outputSize;
}

}  // namespace velmora::platform
