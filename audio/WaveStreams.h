#pragma once
// Seekable byte streams for the wave writer: a file stream that is opened
// without following symbolic links and holds an exclusive lock while open,
// and an in-memory stream.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::audio {

class EStreamError : public std::runtime_error {
  public:
    explicit EStreamError(const std::string& what, int error = 0)
        : std::runtime_error(what), error_(error) {}
    // The errno behind the failure, 0 when none.
    int Error() const { return error_; }

  private:
    int error_;
};

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
  public:
    virtual ~TStream() = default;
    // Byte counts transferred; failures throw EStreamError.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;
    virtual void SetSize(std::int64_t size) = 0;
    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
};

class TFileStream : public TStream {
  public:
    // Creates or truncates `path` for reading and writing. Refuses symbolic
    // links and files another open holds locked (the lock is flock(LOCK_EX),
    // so IsFileLocked-style probes see it); throws EStreamError.
    static constexpr int fmCreate = 1;
    TFileStream(const std::string& path, int mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    void SetSize(std::int64_t size) override;
    const std::string& FileName() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

class TMemoryStream : public TStream {
  public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    void SetSize(std::int64_t size) override;
    std::vector<std::uint8_t>& Data() { return data_; }

    // Test hook: writes beyond this size fail, as a full disk does.
    std::int64_t WriteLimit = -1;

  private:
    std::vector<std::uint8_t> data_;
    std::int64_t position_ = 0;
};

}  // namespace velmora::audio
