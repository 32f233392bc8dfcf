#pragma once
// The ScreenCast portal's handshake over D-Bus: CreateSession, SelectSources
// (one monitor, persist mode 2 with the kept restore token), Start and
// OpenPipeWireRemote. It runs in the calling thread: each Request's Response
// is awaited in a local event loop of that thread (user input excluded, so a
// window's handlers cannot run inside it), on a private bus connection that
// lives as long as the session; every wait is bounded.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform::portal {

// The text for a Request's Response other than 0 (1: the user cancelled,
// 2: the interaction ended otherwise, e.g. the permission was refused);
// empty for 0.
std::string PortalResponseError(const std::string& step, std::uint32_t response);

// Cursor modes of the portal (bit values of AvailableCursorModes).
enum CursorMode : std::uint32_t { kCursorHidden = 1, kCursorEmbedded = 2, kCursorMetadata = 4 };

// The mode we ask for. With the cursor: drawn into the frames where offered,
// else its metadata (we draw it), else none. Without: hidden where offered,
// else the metadata (which we then leave undrawn), else what there is.
std::uint32_t ChooseCursorMode(std::uint32_t available, bool cursor = true);

// Source types (bit values of AvailableSourceTypes).
enum SourceType : std::uint32_t { kSourceMonitor = 1, kSourceWindow = 2 };

// The source types the desktop's portal offers; 0 with error set when it
// cannot be asked. Needs the application object.
std::uint32_t AvailableSourceTypes(std::string& error,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));

struct PortalGrant {
    int pipeWireFd = -1;  // ours to close
    std::uint32_t node = 0;
    int width = 0, height = 0;  // the stream's size as Start gave it (0: not said)
    std::string restoreToken;   // the new token (empty: none handed)
    std::uint32_t cursorMode = kCursorHidden;
};

struct PortalTimeouts {
    std::chrono::milliseconds call{10000};     // each method call
    std::chrono::milliseconds request{10000};  // a Response without a dialog
    std::chrono::milliseconds start{120000};   // Start, where the user may be asked
};

class ScreenCastPortal {
  public:
    explicit ScreenCastPortal(PortalTimeouts timeouts = {});
    ~ScreenCastPortal();
    ScreenCastPortal(const ScreenCastPortal&) = delete;
    ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

    // False with error set when any step fails; the session is then closed.
    // cursor: whether the frames are to show the pointer. source: a monitor,
    // or a window the portal's own dialog lets the user pick.
    bool Open(const std::string& restoreToken, bool cursor, PortalGrant& grant, std::string& error,
              SourceType source = kSourceMonitor);
    // Ends the session (the compositor stops sharing); Open may follow.
    void Close();

  private:
    struct Private;
    std::unique_ptr<Private> d_;
};

}  // namespace velmora::platform::portal
