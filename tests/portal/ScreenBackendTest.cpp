// The backend chosen from the environment, the portal's answers as errors,
// and a portal that cannot be reached reported through the grab's error hook
// rather than hanging.

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/portal/ScreenCastPortal.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora::platform {
namespace {

ScreenBackendChoice Choose(std::map<std::string, std::string> env, const std::string& arg = {}) {
    return ChooseScreenBackend(
        [&env](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        },
        arg);
}

TEST(ScreenBackend, SessionTypeOverridesAndCommandLine) {
    EXPECT_EQ(Choose({}).backend, ScreenBackend::X11);
    EXPECT_EQ(Choose({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}).backend, ScreenBackend::X11);
    EXPECT_EQ(Choose({{"XDG_SESSION_TYPE", "wayland"}}).backend, ScreenBackend::Portal);
    // Some launchers leave XDG_SESSION_TYPE unset (or "tty") on Wayland.
    EXPECT_EQ(Choose({{"XDG_SESSION_TYPE", "tty"}, {"WAYLAND_DISPLAY", "wayland-0"}}).backend,
              ScreenBackend::Portal);
    EXPECT_EQ(Choose({{"WAYLAND_DISPLAY", ""}}).backend, ScreenBackend::X11);
    // XWayland on request, and the portal on an X11 session for tests.
    EXPECT_EQ(Choose({{"XDG_SESSION_TYPE", "wayland"}, {"VELMORA_SCREEN", "x11"}}).backend,
              ScreenBackend::X11);
    EXPECT_EQ(Choose({{"VELMORA_SCREEN", "portal"}}).backend, ScreenBackend::Portal);
    // The command line wins over the environment.
    EXPECT_EQ(Choose({{"VELMORA_SCREEN", "portal"}}, "x11").backend, ScreenBackend::X11);
    const auto unknown = Choose({{"WAYLAND_DISPLAY", "w"}, {"VELMORA_SCREEN", "pipewire"}}, "gdi");
    EXPECT_EQ(unknown.backend, ScreenBackend::Portal);
    EXPECT_NE(unknown.reason.find("VELMORA_SCREEN=pipewire"), std::string::npos) << unknown.reason;
}

TEST(PortalAnswers, RefusalAndCancelAreErrorsNotSuccess) {
    EXPECT_EQ(portal::PortalResponseError("Start", 0), "");
    const std::string cancelled = portal::PortalResponseError("Start", 1);
    const std::string refused = portal::PortalResponseError("Start", 2);
    EXPECT_NE(cancelled.find("cancelled"), std::string::npos) << cancelled;
    EXPECT_NE(refused.find("refused"), std::string::npos) << refused;
    EXPECT_FALSE(portal::PortalResponseError("SelectSources", 7).empty());
}

TEST(PortalAnswers, CursorDrawnByTheCompositorWhereOffered) {
    using namespace portal;
    EXPECT_EQ(ChooseCursorMode(kCursorHidden | kCursorEmbedded | kCursorMetadata), kCursorEmbedded);
    EXPECT_EQ(ChooseCursorMode(kCursorHidden | kCursorMetadata), kCursorMetadata);
    EXPECT_EQ(ChooseCursorMode(kCursorHidden), kCursorHidden);
    EXPECT_EQ(ChooseCursorMode(0), kCursorHidden);
    // "Record cursor" off: none in the frames, or at most its metadata,
    // which is then left undrawn.
    EXPECT_EQ(ChooseCursorMode(kCursorHidden | kCursorEmbedded | kCursorMetadata, false),
              kCursorHidden);
    EXPECT_EQ(ChooseCursorMode(kCursorEmbedded | kCursorMetadata, false), kCursorMetadata);
}

// No bus at all: the grab fails at once with the reason, through the hook
// the engine turns into OnCameraError; the size asks do not retry.
TEST(PortalDesktop, NoSessionBusIsAnErrorThroughTheHook) {
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velmora-test-bus", 1);
    SetScreenBackend(ScreenBackend::Portal);
    std::vector<std::string> errors;
    auto desktop = OpenDesktop([&errors](const std::string& e) { errors.push_back(e); });
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(desktop->width(), 0);
    std::vector<std::uint8_t> bits(16 * 16 * 4);
    DibRows rows;
    rows.bits = bits.data();
    rows.width = rows.height = 16;
    desktop->beginCapture(true);
    EXPECT_FALSE(desktop->grab(0, 0, rows));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("D-Bus"), std::string::npos) << errors[0];
    EXPECT_EQ(desktop->lastError(), errors[0]);
    CursorImage cursor;
    EXPECT_FALSE(desktop->cursorImage(cursor));
    desktop->endCapture();
    SetScreenBackend(ScreenBackend::X11);
}

}  // namespace
}  // namespace velmora::platform
