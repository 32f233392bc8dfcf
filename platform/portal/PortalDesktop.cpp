// The desktop of a Wayland session: one ScreenCast portal session for the
// whole run, shared by the engine, the area selector and the screen-size
// helpers. It is opened at the first need (the engine's start-up reads the
// size) and kept: recordings then start at once on a running stream, and the
// permission is asked at most once per run (never, with a kept restore
// token). After a failure only a grab tries again, so a refused dialog is not
// shown anew each time something asks for the screen's size.

#include <chrono>
#include <mutex>

#include "platform/portal/PipeWireStream.h"
#include "platform/portal/ScreenCastPortal.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;

class PortalScreen {
  public:
    static PortalScreen& Shared() {
        // Never destroyed: the bus and PipeWire must not be torn down after
        // the application object, and the process's end closes the session.
        static PortalScreen* screen = new PortalScreen;
        return *screen;
    }

    // The stream running, opened now if need be. retry: also after an
    // earlier attempt failed.
    std::shared_ptr<portal::PipeWireStream> Ready(bool retry, std::string& error) {
        if (auto stream = Running()) return stream;
        // A handshake waits in a local event loop; anything that loop runs
        // and asks for the screen again must not wait for itself.
        thread_local bool opening = false;
        if (opening) {
            error = "Screen capture is still being set up";
            return nullptr;
        }
        std::lock_guard open(openMutex_);
        if (auto stream = Running()) return stream;
        if (attempted_ && !retry) {
            error = failure_;
            return nullptr;
        }
        attempted_ = true;
        opening = true;
        auto stream = Open(error);
        opening = false;
        std::lock_guard lock(mutex_);
        failure_ = stream ? std::string() : error;
        stream_ = stream;
        return stream;
    }

    std::shared_ptr<portal::PipeWireStream> Running() {
        std::lock_guard lock(mutex_);
        return stream_ && !stream_->failed() ? stream_ : nullptr;
    }

    std::uint32_t cursorMode() {
        std::lock_guard lock(mutex_);
        return cursorMode_;
    }

  private:
    std::shared_ptr<portal::PipeWireStream> Open(std::string& error) {
        {
            std::lock_guard lock(mutex_);
            stream_.reset();  // a failed stream goes before its session
        }
        if (token_.empty()) {
            token_ = LoadScreenCastToken();
        }
        portal::PortalGrant grant;
        if (!portal_.Open(token_, grant, error)) return nullptr;
        if (!grant.restoreToken.empty()) {
            // Each Start hands a new token and the old one is spent.
            token_ = grant.restoreToken;
            SaveScreenCastToken(token_);
        }
        auto stream = std::make_shared<portal::PipeWireStream>();
        if (!stream->Connect(grant.pipeWireFd, grant.node,
                             grant.cursorMode == portal::kCursorMetadata, error) ||
            !stream->WaitForFirstFrame(5s, error)) {
            portal_.Close();
            return nullptr;
        }
        std::lock_guard lock(mutex_);
        cursorMode_ = grant.cursorMode;
        return stream;
    }

    std::mutex openMutex_;  // one handshake at a time
    portal::ScreenCastPortal portal_;
    std::string token_;
    bool attempted_ = false;

    std::mutex mutex_;
    std::shared_ptr<portal::PipeWireStream> stream_;
    std::string failure_;
    std::uint32_t cursorMode_ = portal::kCursorHidden;
};

// One caller's view of the shared session, with its own error hook.
class PortalDesktop final : public Desktop {
  public:
    explicit PortalDesktop(std::function<void(const std::string&)> onError)
        : onError_(std::move(onError)) {}

    int width() const override {
        auto stream = Shared().Ready(false, error_);
        return stream ? stream->width() : 0;
    }
    int height() const override {
        auto stream = Shared().Ready(false, error_);
        return stream ? stream->height() : 0;
    }
    // The portal shares one monitor: the stream is the whole "screen".
    int bitsPerPixel() const override { return 32; }

    bool grab(int left, int top, const DibRows& out) override {
        std::string error;
        auto stream = Shared().Ready(true, error);
        if (stream && stream->Grab(left, top, out, error)) return true;
        error_ = error;
        if (onError_) onError_(error);
        return false;
    }

    bool cursorImage(CursorImage& out) override {
        // Embedded: the compositor has drawn it into the frames already.
        if (Shared().cursorMode() != portal::kCursorMetadata) return false;
        auto stream = Shared().Running();
        return stream && stream->Cursor(out);
    }

    ForeignCursor foreignCursor() override {
        ForeignCursor result;
        // Wayland tells no client where the pointer is; the metadata does.
        if (auto stream = Shared().Running()) stream->CursorPosition(result.x, result.y);
        return result;
    }

    std::string lastError() const override { return error_; }

  private:
    static PortalScreen& Shared() { return PortalScreen::Shared(); }
    std::function<void(const std::string&)> onError_;
    mutable std::string error_;
};

}  // namespace

std::unique_ptr<Desktop> OpenDesktop(std::function<void(const std::string&)> onError) {
    if (CurrentScreenBackend() == ScreenBackend::Portal)
        return std::make_unique<PortalDesktop>(std::move(onError));
    std::string error;
    auto desktop = openX11Desktop(nullptr, &error);
    if (!desktop && onError) onError(error);
    return desktop;
}

}  // namespace velmora::platform
