// The desktop of a Wayland session: one ScreenCast portal session shared by
// the engine and the area selector. It is opened by the first grab after a
// use began (Record, the selector) and closed when the last use has ended, so
// the desktop's "screen is being shared" indicator shows only then; the kept
// restore token makes the next opening silent where the portal allows. A
// failed opening is not tried again until the next use begins: one dialog per
// user action. Until a stream tells it, the screen's size is the output's as
// the toolkit sees it.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/portal/PipeWireStream.h"
#include "platform/portal/ScreenCastPortal.h"
#include "platform/x11/ScreenBackend.h"
#include "platform/x11/WindowList.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;

class PortalScreen {
  public:
    explicit PortalScreen(ScreenCastSource source) : source_(source) {}

    // Never destroyed: the bus and PipeWire must not be torn down after the
    // application object, and the process's end closes the session.
    static PortalScreen& Shared() {
        static PortalScreen* screen = new PortalScreen(ScreenCastSource::Monitor);
        return *screen;
    }
    // A recorded window's session: a window chosen in the portal's dialog,
    // kept by a token of its own.
    static PortalScreen& Windows() {
        static PortalScreen* screen = new PortalScreen(ScreenCastSource::Window);
        return *screen;
    }

    void Begin(bool cursor) {
        std::lock_guard lock(mutex_);
        ++users_;
        mayAsk_ = true;
        cursor_ = cursor;
    }

    void End() {
        std::unique_lock lock(mutex_);
        if (users_ > 0) --users_;
        if (users_ > 0) return;
        mayAsk_ = false;
        // A handshake under way closes what it opened when it sees no use
        // left; nobody waits for it here (End may come from the UI thread).
        if (busy_) return;
        busy_ = true;
        auto stream = std::move(stream_);
        lock.unlock();
        stream.reset();  // the stream goes before its session
        portal_.Close();
        lock.lock();
        busy_ = false;
        idle_.notify_all();
    }

    // The stream to grab from, opened now if a use has begun and has not
    // tried yet. A stream that has stopped is handed back as it is, so its
    // grab tells why, until the next use opens a new one.
    std::shared_ptr<portal::PipeWireStream> Ready(std::string& error) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stream_ && !stream_->failed()) return stream_;
            if (!busy_) break;
            idle_.wait(lock);  // another caller's handshake: one question for both
        }
        if (!mayAsk_) {
            if (stream_) return stream_;
            error = failure_.empty() ? "Screen capture has not been started" : failure_;
            return nullptr;
        }
        mayAsk_ = false;
        busy_ = true;
        auto stopped = std::move(stream_);
        const bool cursor = cursor_;
        lock.unlock();
        stopped.reset();  // a stopped stream goes before its session

        // No lock is held through the handshake, and its answers are awaited
        // in an event loop of a thread of its own: a caller on the UI thread
        // blocks, but runs none of its events inside the handshake.
        std::shared_ptr<portal::PipeWireStream> stream;
        std::string failure;
        std::thread([&] { stream = Open(cursor, failure); }).join();

        lock.lock();
        if (users_ == 0 && stream) {
            // Every use ended during the handshake.
            lock.unlock();
            stream.reset();
            portal_.Close();
            lock.lock();
            failure = "Screen capture has not been started";
        }
        failure_ = stream ? std::string() : failure;
        stream_ = stream;
        busy_ = false;
        idle_.notify_all();
        if (!stream) error = failure;
        return stream;
    }

    // The stream while it delivers; with stopped: also one that has stopped.
    std::shared_ptr<portal::PipeWireStream> Current(bool stopped) {
        std::lock_guard lock(mutex_);
        return stream_ && (stopped || !stream_->failed()) ? stream_ : nullptr;
    }

    std::uint32_t cursorMode() {
        std::lock_guard lock(mutex_);
        return cursorMode_;
    }

  private:
    // The handshake and the stream's first frame; only the busy thread.
    std::shared_ptr<portal::PipeWireStream> Open(bool cursor, std::string& error) {
        if (token_.empty()) {
            token_ = LoadScreenCastToken(source_);
        }
        portal::PortalGrant grant;
        if (!portal_.Open(token_, cursor, grant, error,
                          source_ == ScreenCastSource::Window ? portal::kSourceWindow
                                                              : portal::kSourceMonitor))
            return nullptr;
        if (!grant.restoreToken.empty()) {
            // Each Start hands a new token and the old one is spent.
            token_ = grant.restoreToken;
            SaveScreenCastToken(token_, source_);
        }
        auto stream = std::make_shared<portal::PipeWireStream>();
        if (!stream->Connect(grant.pipeWireFd, grant.node,
                             grant.cursorMode == portal::kCursorMetadata, error) ||
            !stream->WaitForFirstFrame(5s, error)) {
            stream.reset();
            portal_.Close();
            return nullptr;
        }
        std::lock_guard lock(mutex_);
        cursorMode_ = grant.cursorMode;
        return stream;
    }

    const ScreenCastSource source_;
    // The portal and the token belong to the one thread that set busy_.
    portal::ScreenCastPortal portal_;
    std::string token_;

    std::mutex mutex_;
    std::condition_variable idle_;  // busy_ went false
    bool busy_ = false;             // a handshake or a close is under way
    int users_ = 0;
    bool mayAsk_ = false;
    bool cursor_ = true;  // what the last use to begin asked for
    std::shared_ptr<portal::PipeWireStream> stream_;
    std::string failure_;
    std::uint32_t cursorMode_ = portal::kCursorHidden;
};

// One caller's view of the shared session, with its own error hook.
class PortalDesktop final : public Desktop {
  public:
    PortalDesktop(std::function<void(const std::string&)> onError, PortalScreen& screen)
        : onError_(std::move(onError)), screen_(screen) {}
    ~PortalDesktop() override { endLent(); }

    // Asks nobody: the stream's size while one runs, else the output's.
    int width() const override {
        auto stream = Shared().Current(false);
        return stream ? stream->width() : OutputSize().width;
    }
    int height() const override {
        auto stream = Shared().Current(false);
        return stream ? stream->height() : OutputSize().height;
    }
    // The portal shares one monitor: the stream is the whole "screen".
    int bitsPerPixel() const override { return 32; }

    bool grab(int left, int top, const DibRows& out) override {
        endLent();
        std::string error;
        auto stream = Shared().Ready(error);
        if (stream && stream->Grab(left, top, out, error)) return true;
        error_ = error;
        if (onError_) onError_(error);
        return false;
    }

    // The stream's buffer itself, converted in place: no copy of the frame.
    // The cursor to be drawn into it is the one of this moment, so that
    // exactly the pixels under it are put back.
    bool grabLent(int left, int top, int width, int height, DibRows& out) override {
        endLent();
        std::string error;
        auto stream = Shared().Ready(error);
        if (!stream) return false;  // grab() tells why
        lentCursor_.reset();
        CursorImage cursor;
        if (Shared().cursorMode() == portal::kCursorMetadata && stream->Cursor(cursor))
            lentCursor_ = std::move(cursor);
        ScreenRect under;
        if (lentCursor_)
            under = {lentCursor_->x - lentCursor_->xhot, lentCursor_->y - lentCursor_->yhot,
                     lentCursor_->width, lentCursor_->height};
        if (!stream->Lend(left, top, width, height, lentCursor_ ? &under : nullptr, out))
            return false;
        lentFrom_ = std::move(stream);
        return true;
    }

    void endLent() override {
        if (lentFrom_) lentFrom_->EndLend();
        lentFrom_.reset();
    }

    bool cursorImage(CursorImage& out) override {
        if (lentFrom_) {
            if (!lentCursor_) return false;
            out = *lentCursor_;
            return true;
        }
        // Embedded: the compositor has drawn it into the frames already;
        // hidden: there is none to draw.
        if (Shared().cursorMode() != portal::kCursorMetadata) return false;
        auto stream = Shared().Current(false);
        return stream && stream->Cursor(out);
    }

    ForeignCursor foreignCursor() override {
        ForeignCursor result;
        // Wayland tells no client where the pointer is; the metadata does.
        if (auto stream = Shared().Current(false)) stream->CursorPosition(result.x, result.y);
        return result;
    }

    std::string lastError() const override { return error_; }

    void beginCapture(bool cursor) override { Shared().Begin(cursor); }
    void endCapture() override { Shared().End(); }
    void prepareCapture() override {
        std::string ignored;  // the grab that follows tells it
        Shared().Ready(ignored);
    }

    // A window's stream that ran and has stopped: the window was closed
    // (or its sharing ended), and the recording ends as if stopped.
    bool targetClosed() override {
        if (&screen_ != &PortalScreen::Windows()) return false;
        auto stream = screen_.Current(true);
        return stream && stream->failed();
    }

  private:
    PortalScreen& Shared() const { return screen_; }
    std::function<void(const std::string&)> onError_;
    PortalScreen& screen_;
    mutable std::string error_;
    // The stream lending the rows of the last grabLent, and the cursor as
    // it was then.
    std::shared_ptr<portal::PipeWireStream> lentFrom_;
    std::optional<CursorImage> lentCursor_;
};

}  // namespace

std::unique_ptr<Desktop> OpenDesktop(std::function<void(const std::string&)> onError) {
    if (CurrentScreenBackend() == ScreenBackend::Portal)
        return std::make_unique<PortalDesktop>(std::move(onError), PortalScreen::Shared());
    std::string error;
    auto desktop = openX11Desktop(nullptr, &error);
    if (!desktop && onError) onError(error);
    return desktop;
}

bool WindowCaptureAvailable(std::string& reason) {
    if (CurrentScreenBackend() == ScreenBackend::X11) return x11WindowCaptureAvailable(reason);
    const std::uint32_t types = portal::AvailableSourceTypes(reason);
    if (types & portal::kSourceWindow) return true;
    if (reason.empty()) reason = "the desktop's ScreenCast portal offers no window source";
    return false;
}

std::unique_ptr<Desktop> OpenWindowDesktop(std::uint64_t window,
                                           std::function<void(const std::string&)> onNote,
                                           std::string& error) {
    // On Wayland no client names another's window: the portal's dialog
    // asks for it at the first grab.
    if (CurrentScreenBackend() == ScreenBackend::Portal)
        return std::make_unique<PortalDesktop>(std::move(onNote), PortalScreen::Windows());
    return openX11WindowDesktop(window, std::move(onNote), &error);
}

}  // namespace velmora::platform
