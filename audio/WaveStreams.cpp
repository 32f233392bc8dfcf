#include "audio/WaveStreams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmora::audio {
namespace {
[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw EStreamError(what + " \"" + path + "\". " + std::strerror(err));
}
}  // namespace

TFileStream::TFileStream(const std::string& path, int mode) : path_(path) {
    (void)mode;  // only creation is needed here
    // Not O_TRUNC: a file another recording still holds must survive the
    // failed attempt, so truncate only once the lock is ours. The user's
    // alone, as the recording it belongs to.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) fail("Cannot create file", path, errno);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        fail("Cannot create file", path, err == EWOULDBLOCK ? EBUSY : err);
    }
    if (::ftruncate(fd_, 0) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        fail("Cannot create file", path, err);
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);  // also drops the lock
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EStreamError(std::string("Read error: ") + std::strerror(errno));
        if (n == 0) break;
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // Also after a part was written: the caller must learn why (a full disk).
            const int error = errno;
            throw EStreamError(std::string("Write error: ") + std::strerror(error), error);
        }
        done += n;
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    const off_t r = ::lseek(fd_, offset, whence);
    if (r < 0) throw EStreamError(std::string("Seek error: ") + std::strerror(errno));
    return r;
}

std::int64_t TFileStream::Size() {
    const off_t here = ::lseek(fd_, 0, SEEK_CUR);
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    ::lseek(fd_, here, SEEK_SET);
    if (end < 0) throw EStreamError(std::string("Seek error: ") + std::strerror(errno));
    return end;
}

void TFileStream::SetSize(std::int64_t size) {
    if (::ftruncate(fd_, size) != 0)
        throw EStreamError(std::string("Cannot set file size: ") + std::strerror(errno));
    if (Position() > size) Seek(size, TSeekOrigin::soBeginning);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n = std::max<std::int64_t>(0, std::min(count, Size() - position_));
    if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    std::int64_t n = count;
    if (WriteLimit >= 0) n = std::max<std::int64_t>(0, std::min(count, WriteLimit - position_));
    if (n == 0 && count > 0) throw EStreamError("Write error: limit reached");
    if (position_ + n > Size()) data_.resize(static_cast<std::size_t>(position_ + n));
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                              : origin == TSeekOrigin::soCurrent ? position_
                                                                 : Size();
    if (base + offset < 0) throw EStreamError("Seek error");
    position_ = base + offset;
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    data_.resize(static_cast<std::size_t>(size));
    position_ = std::min(position_, size);
}

}  // namespace velmora::audio
