#pragma once
// Holds a program at a chosen moment from outside: the first open of a file
// in a folder whose name ends as given waits (a fanotify permission event)
// until Release(), every other open there goes on. Needs CAP_SYS_ADMIN (the
// test machines run as root); elsewhere Available() is false and Why() says
// why.

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace velmora::test {

class HeldOpen {
  public:
    HeldOpen(const std::filesystem::path& folder, std::string ending) : ending_(std::move(ending)) {
        fd_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
        if (fd_ < 0) {
            why_ = std::string("fanotify_init: ") + std::strerror(errno);
            return;
        }
        if (::fanotify_mark(fd_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                            folder.c_str()) != 0 ||
            ::pipe2(wake_, O_CLOEXEC) != 0) {
            why_ = std::string("fanotify_mark: ") + std::strerror(errno);
            ::close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~HeldOpen() {
        if (fd_ < 0) return;
        Release();
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], "x", 1);
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
        ::close(fd_);  // answers anything still waiting
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

    bool Available() const { return fd_ >= 0; }
    const std::string& Why() const { return why_; }

    // True once the open is being held.
    bool WaitHeld(std::chrono::milliseconds patience) const {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (held_ < 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return held_ >= 0;
    }
    // Lets the held open go on; later ones are not held.
    void Release() { release_ = true; }

  private:
    void Answer(int eventFd) {
        const fanotify_response response{eventFd, FAN_ALLOW};
        [[maybe_unused]] const ssize_t n = ::write(fd_, &response, sizeof response);
        ::close(eventFd);
    }
    bool Matches(int eventFd) const {
        std::error_code error;
        const std::string name =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(eventFd), error)
                .filename()
                .string();
        return !error && name.size() >= ending_.size() &&
               name.compare(name.size() - ending_.size(), ending_.size(), ending_) == 0;
    }
    void Serve() {
        for (;;) {
            if (held_ >= 0 && release_) Answer(held_.exchange(-2));
            pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(p, 2, 20) < 0 && errno != EINTR) return;
            if (p[1].revents) {
                if (held_ >= 0) Answer(held_);
                return;
            }
            if (!(p[0].revents & POLLIN)) continue;
            alignas(fanotify_event_metadata) char buffer[4096];
            const ssize_t length = ::read(fd_, buffer, sizeof buffer);
            if (length <= 0) continue;
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (ssize_t left = length; FAN_EVENT_OK(event, left);
                 event = FAN_EVENT_NEXT(event, left)) {
                if (event->fd < 0) continue;
                if (held_ == -1 && !release_ && Matches(event->fd))
                    held_ = event->fd;
                else
                    Answer(event->fd);
            }
        }
    }

    std::string ending_, why_;
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    std::atomic<int> held_{-1};  // -1 none yet, -2 released, else the event's descriptor
    std::atomic<bool> release_{false};
    std::thread thread_;
};

}  // namespace velmora::test
