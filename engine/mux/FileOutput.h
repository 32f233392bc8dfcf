#pragma once
// The output of libavformat on a file we create ourselves: always a new file
// (never through a symbolic link, never over an existing file), locked
// (flock) while it is open, with the
// system's reason of the first failure kept, and the buffered bytes handed to
// the system about four times a second so that a killed process leaves a readable
// file.

#include <chrono>
#include <cstdint>
#include <string>

struct AVIOContext;
struct stat;

namespace velmora::engine {

// Empty for a regular file of this user; else what the file is, e.g. "a
// named pipe, not a regular file": a file left in a folder others can write
// too is taken only when it is a recording's own.
std::string NotOwnRegularFile(const struct stat& st);

class FileOutput {
  public:
    FileOutput() = default;
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // Creates the file; 0 or the errno of the failure.
    int create(const std::string& path);
    AVIOContext* context() const { return pb_; }
    // The errno of the first failed write or seek, 0 while none failed.
    int error() const { return error_; }
    // Flushes the buffer when the last flush is a quarter of a second old.
    void flushIfDue();
    // Flushes, syncs and closes; 0 or the errno of the first failure.
    int close();
    // A second descriptor of the file (read and write, with the lock), -1
    // when none is open.
    int duplicate() const;

  private:
    static int writePacket(void* opaque, std::uint8_t* buf, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

    int fd_ = -1;
    int error_ = 0;
    AVIOContext* pb_ = nullptr;
    std::chrono::steady_clock::time_point lastFlush_{};
};

}  // namespace velmora::engine
