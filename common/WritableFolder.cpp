#include "common/WritableFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora {

std::string FolderUnusableReason(const std::string& folder) {
    const auto slash = folder.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".")
                            : slash == 0               ? std::string("/")
                                                       : folder.substr(0, slash);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    // The permission bits do not tell (root, read-only mounts, /proc): try.
    int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return std::strerror(errno);
    // A file system without unnamed files: a named one, removed at once.
    std::string pattern = dir + "/.velmora-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = ::mkstemp(name.data());
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    ::unlink(name.data());
    return {};
}

}  // namespace velmora
