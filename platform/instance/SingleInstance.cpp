#include "platform/instance/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace velmora::platform {

InstanceLock::~InstanceLock() {
    Release();
}

std::string InstanceLock::NameFor(const std::string& title, unsigned uid,
                                  const std::string& display) {
    // Drop the screen number: the grabs and the windows belong to the display.
    std::string host = display;
    const auto colon = host.rfind(':');
    if (colon != std::string::npos) {
        const auto dot = host.find('.', colon);
        if (dot != std::string::npos) host.erase(dot);
    }
    return "velmora-instance/" + std::to_string(uid) + "/" + host + "/" + title;
}

bool InstanceLock::Acquire(const std::string& title) {
    if (fd_ >= 0) return true;
    const char* display = std::getenv("DISPLAY");
    const std::string name = NameFor(title, ::getuid(), display ? display : "");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract namespace: a leading NUL, then the name (cut to fit).
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    // Only a name in use means another copy. Any other failure (no
    // descriptors left, sockets forbidden) must not keep the program from
    // starting: it then runs without the lock.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(fd);
        return !taken;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool AcquireSingleInstance(const std::string& title) {
    static InstanceLock lock;  // held until the process ends
    return lock.Acquire(title);
}

}  // namespace velmora::platform
