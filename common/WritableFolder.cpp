#include "common/WritableFolder.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmora {

namespace {

std::string DirectoryOf(const std::string& folder) {
    const auto slash = folder.find_last_of('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : folder.substr(0, slash);
}

bool Within(const std::string& path, const std::string& dir) {
    return path == dir || path.starts_with(dir + "/");
}

}  // namespace

std::string SystemFolderReason(const std::string& folder) {
    const std::string dir = DirectoryOf(folder);
    struct statfs fs {};
    if (::statfs(dir.c_str(), &fs) != 0) return {};
    switch (fs.f_type) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case SELINUX_MAGIC:
        case SMACK_MAGIC:
        case BPF_FS_MAGIC:
        case PSTOREFS_MAGIC:
        case EFIVARFS_MAGIC:
        case BINFMTFS_MAGIC:
        case HUGETLBFS_MAGIC:
            return "Not a folder for files (a system folder)";
        default:
            break;
    }
    // The device folder is devtmpfs on a machine and a plain tmpfs in a
    // container: known by its place. Its shared-memory folder is for files.
    char* real = ::realpath(dir.c_str(), nullptr);
    if (!real) return {};
    const std::string path(real);
    std::free(real);
    if (Within(path, "/dev") && !Within(path, "/dev/shm"))
        return "Not a folder for files (a system folder)";
    return {};
}

std::string FolderUnusableReason(const std::string& folder) {
    const std::string dir = DirectoryOf(folder);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    // Root could write into some of them.
    if (std::string reason = SystemFolderReason(folder); !reason.empty()) return reason;
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
