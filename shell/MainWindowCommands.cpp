// What reaches the main window from outside it: the global hot keys (X11
// grabs, or the desktop portal's shortcuts on Wayland) and the commands
// another copy of the program sends over the instance socket.

#include <QShortcut>
#include <QSocketNotifier>
#include <tuple>

#include "engine/ScreenCamera.h"
#include "overlays/AreaSelector.h"
#include "platform/instance/SingleInstance.h"
#include "platform/x11/HotKeys.h"
#include "shell/GlobalShortcuts.h"
#include "shell/HotKeyFilter.h"
#include "shell/MainWindow.h"

namespace velmora {
namespace {

// Identifiers of the global hot keys.
constexpr int kStartCapturing = 1;
constexpr int kStopCapturing = 2;
constexpr int kPauseCapturing = 3;

}  // namespace

void MainWindow::RegisterHotKeys() {
    hotKeys_ = std::make_unique<HotKeyFilter>([this](int vk) { HotKeyPressed(vk); });
    // Another program may own a key: the buttons still work, so no message.
    const bool f9 = hotKeys_->Register(kStartCapturing, platform::kVkF9);
    const bool f10 = hotKeys_->Register(kStopCapturing, platform::kVkF10);
    const bool f11 = hotKeys_->Register(kPauseCapturing, platform::kVkF11);
    hotKeysRegistered_ = f9 && f10;
    // A key whose grab is not ours (Wayland, or another program holds it)
    // still works while one of our windows has the focus.
    for (const auto& [grabbed, key, vk] : {std::tuple{f9, Qt::Key_F9, platform::kVkF9},
                                           std::tuple{f10, Qt::Key_F10, platform::kVkF10},
                                           std::tuple{f11, Qt::Key_F11, platform::kVkF11}}) {
        if (grabbed) continue;
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, vk = vk] { HotKeyPressed(vk); });
    }
    // On Wayland the grabs above see only X windows, if any.
    if (GlobalShortcuts::WaylandSession())
        (new GlobalShortcuts([this](int vk) { HotKeyPressed(vk); }, this))->Start();
}

void MainWindow::HotKeyPressed(int virtualKey) {
    switch (virtualKey) {
        // The selector holds these keys only while it shows; a press still
        // queued when it has closed is dropped.
        case platform::kVkEscape:
            if (StartPending())
                StopCapture();
            else if (selector_ && selector_->IsShowing())
                selector_->CloseSelector();
            break;
        case platform::kVkReturn:
            if (selector_ && selector_->IsShowing()) selector_->AcceptSelection();
            break;
        case platform::kVkF9:
            if (camera_ && !camera_->Recording) StartCapture();
            break;
        case platform::kVkF10:
            if (camera_ && (camera_->Recording || StartPending())) StopCapture();
            break;
        case platform::kVkF11:
            if (camera_ && camera_->Recording) TogglePause();
            break;
        default:
            break;
    }
}

void MainWindow::RemoteCommand(const std::string& command,
                               const std::vector<std::string>& arguments,
                               std::shared_ptr<platform::InstanceReply> reply) {
    const bool wasRecording = camera_ && (camera_->Recording || StartPending());
    RunCommand(command, arguments);
    if (!reply) return;
    if (camera_ && (camera_->Recording || StartPending())) {
        if (wasRecording) return reply->Answer({});
        // Answered when the capture loop starts or the run ends.
        startReplies_.push_back(std::move(reply));
        FollowEngine();
        return;
    }
    const std::string errors = RunErrorsText();
    reply->Answer(errors.empty() ? std::string("the recording did not start") : errors);
}

void MainWindow::RunCommand(const std::string& command, const std::vector<std::string>& arguments) {
    if (command == "start" && !arguments.empty()) {
        // A recording still running or being merged keeps its folder and
        // time limit; StartCapture says why nothing starts.
        if (!camera_ || camera_->Recording || StartPending() || quitting_) return;
        if (camera_->WorkerRunning()) {
            StartCapture();
        } else if (ReadParameters(arguments)) {
            handedCommandLineStart_ = true;
            StartCapture();
        }
    } else if (command == "start")
        HotKeyPressed(platform::kVkF9);
    else if (command == "stop")
        HotKeyPressed(platform::kVkF10);
    else if (command == "toggle")
        HotKeyPressed(camera_ && (camera_->Recording || StartPending()) ? platform::kVkF10
                                                                        : platform::kVkF9);
    else if (command == "pause")
        PauseCapture();
    else if (command == "resume")
        ResumeCapture();
    else if (command == "pause-toggle")
        HotKeyPressed(platform::kVkF11);
}

std::string MainWindow::CommandRefusal() const {
    if (quitting_) return "the program is closing";
    // The merge owns the temporary files and the controls until it ends:
    // nothing can start, and nothing is left to stop.
    if (camera_ && !camera_->Recording && camera_->WorkerRunning())
        return "a recording is being saved";
    return {};
}

void MainWindow::ListenForCommands(platform::InstanceLock& lock) {
    if (!lock.held() || commands_) return;
    commands_ = new QSocketNotifier(lock.fd(), QSocketNotifier::Read, this);
    connect(commands_, &QSocketNotifier::activated, this, [this, &lock] {
        // Run from the event loop, as a hot key's press is: starting may
        // open dialogs.
        // Decided when the command comes, so that its sender learns it.
        // A command that starts a recording is answered once it runs or has
        // failed, so a script learns that nothing is being recorded.
        const auto startsRecording = [this](const platform::InstanceCommand& c) {
            return c.name == "start" ||
                   (c.name == "toggle" && !(camera_ && (camera_->Recording || StartPending())));
        };
        if (auto command = lock.ReceiveCommand([this](const auto&) { return CommandRefusal(); },
                                               startsRecording))
            QMetaObject::invokeMethod(
                this,
                [this, c = std::move(*command)] { RemoteCommand(c.name, c.arguments, c.reply); },
                Qt::QueuedConnection);
    });
}

}  // namespace velmora
