#include "engine/mux/FileOutput.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/profile/OwnFiles.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace velmora::engine {

std::string NotOwnRegularFile(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return "a symbolic link, not a regular file";
    if (S_ISFIFO(st.st_mode)) return "a named pipe, not a regular file";
    if (S_ISDIR(st.st_mode)) return "a folder, not a regular file";
    if (S_ISSOCK(st.st_mode)) return "a socket, not a regular file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device, not a regular file";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_uid != ::geteuid())
        return "a file of " + platform::UserName(st.st_uid) + ", not of this user";
    return {};
}

namespace {
constexpr int kBufferSize = 1 << 16;
// Often enough that a kill loses well under a second; a few writes a second
// cost nothing beside the encoding.
constexpr auto kFlushEvery = std::chrono::milliseconds(250);
}  // namespace

FileOutput::~FileOutput() {
    close();
}

int FileOutput::create(const std::string& path) {
    // The user's alone, whatever the umask: a screen recording may show
    // passwords and mail.
    // Readable too: a file the disk cut short is finished from what it holds.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return errno;
    // Held while the file is written, so that what a killed process left is
    // told apart from a file still being written (the lock dies with it).
    (void)::flock(fd_, LOCK_EX | LOCK_NB);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    if (buffer)
        pb_ = avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, &FileOutput::writePacket,
                                 &FileOutput::seek);
    if (!pb_) {
        av_free(buffer);
        ::close(fd_);
        fd_ = -1;
        ::unlink(path.c_str());
        return ENOMEM;
    }
    return 0;
}

int FileOutput::writePacket(void* opaque, std::uint8_t* buf, int size) {
    auto* self = static_cast<FileOutput*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, buf + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (!self->error_) self->error_ = error;
            return AVERROR(error);
        }
        done += static_cast<int>(n);
    }
    return size;
}

std::int64_t FileOutput::seek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<FileOutput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        if (::fstat(self->fd_, &st) != 0) return AVERROR(errno);
        return st.st_size;
    }
    const off_t at = ::lseek(self->fd_, offset, whence & ~AVSEEK_FORCE);
    if (at < 0) {
        if (!self->error_) self->error_ = errno;
        return AVERROR(errno);
    }
    return at;
}

void FileOutput::flushIfDue() {
    if (!pb_) return;
    const auto now = std::chrono::steady_clock::now();
    // The clock starts with the first data, not with the file's creation.
    if (lastFlush_ == std::chrono::steady_clock::time_point{}) lastFlush_ = now;
    if (now - lastFlush_ < kFlushEvery) return;
    lastFlush_ = now;
    avio_flush(pb_);
}

int FileOutput::duplicate() const {
    return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

int FileOutput::close() {
    if (pb_) {
        avio_flush(pb_);
        av_freep(&pb_->buffer);
        avio_context_free(&pb_);
    }
    if (fd_ >= 0) {
        // A recording is worth the wait: it is on the disk before it is called finished.
        if (::fsync(fd_) != 0 && !error_ && errno != EINVAL) error_ = errno;
        if (::close(fd_) != 0 && !error_ && errno != EINTR) error_ = errno;
        fd_ = -1;
    }
    return error_;
}

}  // namespace velmora::engine
