#include "engine/TempFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <regex>

#include "common/Functions.h"
#include "engine/mux/FileOutput.h"

namespace velmora::engine {

namespace {

// Copies the whole of an open file into a new one (never over an existing
// file) and syncs it; 0 or the errno of the failure. A partial copy is
// removed.
int CopyOpenFile(int in, const std::string& to) {
    // The user's alone, as the recording it copies.
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return errno;
    int error = 0;
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(in, buffer, sizeof buffer, at);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        at += got;
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR) error = errno;
            if (put == 0) error = ENOSPC;
            if (put > 0) done += put;
        }
        if (error) break;
    }
    // The source goes away next: the copy must be on the disk first.
    if (error == 0 && ::fsync(out) != 0) error = errno;
    if (::close(out) != 0 && error == 0) error = errno;
    if (error) ::unlink(to.c_str());
    return error;
}

int CopyToNewFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return errno;
    const int error = CopyOpenFile(in, to);
    ::close(in);
    return error;
}

}  // namespace

bool IsRecordingPartName(const std::string& name) {
    static const std::regex part(R"(.*VideoRecord_\d{8}_\d{6}.*\.(avi|mp4|mkv)\.part)");
    return std::regex_match(name, part);
}

HeldFile::~HeldFile() {
    Release();
}

void HeldFile::Hold(const std::string& path, const FileIdentity& identity) {
    Release();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    struct stat st;
    // Only the file the writer made, not one that took its name since.
    if (::fstat(fd, &st) != 0 || !identity.known || st.st_dev != identity.device ||
        st.st_ino != identity.inode) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

void HeldFile::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int HeldFile::CopyTo(const std::string& to) const {
    return fd_ < 0 ? EBADF : CopyOpenFile(fd_, to);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

LeftFile InspectLeftFile(const std::string& path, std::string* reason) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return LeftFile::Absent;
    std::string why = NotOwnRegularFile(st);
    if (why.empty()) {
        // For writing too: an exclusive flock over NFS needs it.
        const int fd =
            ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) return LeftFile::Absent;
        if (fd < 0) {
            why = std::string("it cannot be opened: ") + std::strerror(errno);
        } else {
            // The name may have been given to another file since the lstat.
            struct stat opened;
            why = ::fstat(fd, &opened) != 0 ? std::string("it cannot be read")
                                            : NotOwnRegularFile(opened);
            const bool locked = why.empty() && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            ::close(fd);
            if (locked) return LeftFile::Busy;
        }
    }
    if (why.empty()) return LeftFile::Usable;
    if (reason) *reason = why;
    return LeftFile::Foreign;
}

std::string LeftAloneText(const std::string& path, const std::string& reason) {
    return "Not taken for an interrupted recording and left alone: " + path + " (" + reason + ")";
}

std::string ClearTempName(const std::string& path) {
    std::string reason;
    switch (InspectLeftFile(path, &reason)) {
        case LeftFile::Absent:
            return {};
        case LeftFile::Busy:
            reason = "another recording writes it";
            break;
        case LeftFile::Foreign:
            reason += "; it is left alone";
            break;
        case LeftFile::Usable:
            if (RemoveTempFile(path)) return {};
            reason = "it cannot be deleted";
            break;
    }
    return path + " (" + reason + ")";
}

bool RemoveTempFile(const std::string& path) {
    return !IsFileLocked(path) && EraseFile(path);
}

FileIdentity IdentityOf(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, true};
}

bool IsSameFile(const std::string& path, const FileIdentity& identity) {
    if (!identity.known) return false;
    const FileIdentity now = IdentityOf(path);
    return now.known && now.device == identity.device && now.inode == identity.inode;
}

void RemoveOwnFile(const std::string& path, FileIdentity& identity) {
    if (IsSameFile(path, identity)) EraseFile(path);
    identity = {};
}

std::string BesideTarget(const std::string& target, const std::string& suffix) {
    const auto slash = target.find_last_of('/');
    const auto dot = target.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? target.substr(0, dot) : target) + suffix;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MoveWithoutReplacing(const std::string& from, const std::string& to) {
    const std::string stem = BesideTarget(to, "");
    const std::string extension = to.substr(stem.size());
    for (int n = 1; n <= 1000; ++n) {
        const std::string name = n == 1 ? to : stem + "_" + std::to_string(n) + extension;
        if (::link(from.c_str(), name.c_str()) == 0) {
            ::unlink(from.c_str());
            return name;
        }
        if (errno == EEXIST) continue;
        if (errno == EXDEV) {
            const int error = CopyToNewFile(from, name);
            if (error == EEXIST) continue;
            if (error != 0) return {};
            ::unlink(from.c_str());
            return name;
        }
        // A file system without hard links.
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return {};
        if (FileExists(name)) continue;
        return std::rename(from.c_str(), name.c_str()) == 0 ? name : std::string();
    }
    return {};
}

std::time_t RecordingStartTime(const std::string& path) {
    struct statx st;
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &st) != 0)
        return 0;
    if ((st.stx_mask & STATX_BTIME) && st.stx_btime.tv_sec > 0) return st.stx_btime.tv_sec;
    return st.stx_mtime.tv_sec;
}

std::string FreeFileName(const std::string& wanted) {
    const std::string stem = BesideTarget(wanted, "");
    const std::string extension = wanted.substr(stem.size());
    std::string name = wanted;
    for (int n = 2; FileExists(name); ++n) name = stem + "_" + std::to_string(n) + extension;
    return name;
}

std::string RecordingNameAt(const std::string& folder, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
    return folder + "VideoRecord_" + stamp + ".avi";
}

std::string DiskFullText(const std::string& folder) {
    return "The disk is full: " + folder;
}

std::string FileErrorReason(const std::string& folder, int error) {
    if (error == ENOSPC || error == EDQUOT) return DiskFullText(folder);
    return (folder.empty() ? std::string(".") : folder) + ": " + std::strerror(error);
}

}  // namespace velmora::engine
