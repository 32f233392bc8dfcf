#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/Functions.h"

namespace velmora {

bool IsFileLocked(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;
    // Our writers hold an exclusive flock on the files they are writing.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

bool EraseFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    // A name that is not there counts as erased, whatever unlink said of it
    // (a read-only disk says EROFS before it looks).
    struct stat st;
    return ::lstat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace velmora
