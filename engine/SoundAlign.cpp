#include "engine/SoundAlign.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora::engine {
namespace {

constexpr std::uint16_t kWaveFormatPcm = 1, kWaveFormatFloat = 3, kWaveFormatExtensible = 0xFFFE;
constexpr std::size_t kCopyChunk = 1 << 20;

std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

class File {
  public:
    explicit File(const std::string& name) : fd_(::open(name.c_str(), O_RDWR | O_NOFOLLOW)) {}
    ~File() {
        if (fd_ >= 0) ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool Good() const { return fd_ >= 0; }
    off_t Size() const { return ::lseek(fd_, 0, SEEK_END); }
    bool Read(off_t at, void* to, std::size_t n) const {
        return ::pread(fd_, to, n, at) == static_cast<ssize_t>(n);
    }
    bool Write(off_t at, const void* from, std::size_t n) const {
        return ::pwrite(fd_, from, n, at) == static_cast<ssize_t>(n);
    }
    bool WriteU32(off_t at, std::uint32_t v) const {
        const unsigned char b[4] = {
            static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        return Write(at, b, 4);
    }
    bool Truncate(off_t size) const { return ::ftruncate(fd_, size) == 0; }

  private:
    int fd_;
};

struct WaveLayout {
    std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    std::uint32_t samplesPerSec = 0;
    off_t dataSizeAt = 0;  // where the data chunk's size field is
    off_t dataOffset = 0;
    std::int64_t dataSize = 0;
};

// A RIFF size field: 0xFFFFFFFF stands for a size it cannot hold (over 4 GiB).
std::uint32_t SizeField(std::int64_t size) {
    return size > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

// dataLast: the data chunk must end the file, as a rewrite in place needs.
bool ReadLayout(const File& f, WaveLayout& w, std::string& error, bool dataLast = true) {
    const off_t size = f.Size();
    unsigned char head[12];
    if (size < 12 || !f.Read(0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        error = "not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (off_t at = 12; at + 8 <= size;) {
        unsigned char chunk[8];
        if (!f.Read(at, chunk, 8)) break;
        const std::uint32_t length = U32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16) {
            unsigned char fmt[16];
            if (!f.Read(at + 8, fmt, 16)) break;
            w.formatTag = U16(fmt);
            w.channels = U16(fmt + 2);
            w.samplesPerSec = U32(fmt + 4);
            w.blockAlign = U16(fmt + 12);
            w.bitsPerSample = U16(fmt + 14);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            w.dataSizeAt = at + 4;
            w.dataOffset = at + 8;
            // A writer that stopped short leaves a size larger than the file;
            // one that was killed, 0; past 4 GiB the field holds 0xFFFFFFFF.
            // The file's size tells then.
            const bool unknown = length == 0 || length == 0xFFFFFFFFu;
            w.dataSize =
                unknown ? size - w.dataOffset : std::min<std::int64_t>(length, size - w.dataOffset);
            if (dataLast &&
                w.dataOffset + static_cast<off_t>(w.dataSize) + (w.dataSize & 1) < size) {
                error = "chunks follow the sound data";
                return false;
            }
            if (!haveFormat || w.blockAlign == 0 || w.samplesPerSec == 0) {
                error = "no usable format chunk before the sound data";
                return false;
            }
            return true;
        }
        at += 8 + static_cast<off_t>(length) + (length & 1);
    }
    error = "no sound data";
    return false;
}

// The data chunk ends after newSize bytes: the file is cut there and the
// sizes follow, as the writer leaves them (odd data with its pad byte,
// counted in RIFF).
bool EndDataAt(File& f, const WaveLayout& w, std::int64_t newSize, std::string& error) {
    const std::int64_t pad = newSize & 1;
    const std::int64_t riffSize = w.dataOffset - 8 + newSize + pad;
    const char zero = 0;
    if (!f.Truncate(w.dataOffset + newSize) ||
        (pad && !f.Write(w.dataOffset + newSize, &zero, 1)) ||
        !f.WriteU32(w.dataSizeAt, SizeField(newSize)) || !f.WriteU32(4, SizeField(riffSize))) {
        error = "cannot rewrite the sound data";
        return false;
    }
    return true;
}

// Opens a file for a rewrite of its sound in place (its data chunk last).
bool OpenForRewrite(File& f, WaveLayout& w, std::string& error) {
    if (!f.Good()) {
        error = std::strerror(errno);
        return false;
    }
    return ReadLayout(f, w, error);
}

// The bytes of lengthMs of sound, whole sample frames.
std::int64_t DataSizeOf(const WaveLayout& w, std::int64_t lengthMs) {
    const std::int64_t frames =
        (std::max<std::int64_t>(lengthMs, 0) * static_cast<std::int64_t>(w.samplesPerSec) + 500) /
        1000;
    return frames * w.blockAlign;
}

// Writes `bytes` of silence at `at` in the sound data.
bool WriteSilence(File& f, const WaveLayout& w, std::int64_t at, std::int64_t bytes,
                  std::string& error) {
    if (w.formatTag != kWaveFormatPcm) {
        error = "silence is known only for PCM";
        return false;
    }
    // 8-bit PCM is unsigned: its silence is the middle value.
    const char silence = w.bitsPerSample == 8 ? '\x80' : '\0';
    std::vector<char> buffer;
    for (std::int64_t done = 0; done < bytes;) {
        const auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kCopyChunk), bytes - done));
        buffer.assign(n, silence);
        if (!f.Write(w.dataOffset + at + done, buffer.data(), n)) {
            error = "cannot rewrite the sound data";
            return false;
        }
        done += static_cast<std::int64_t>(n);
    }
    return true;
}

}  // namespace

std::string WaveFormatFault(const std::string& fileName) {
    File f(fileName);
    if (!f.Good()) return std::strerror(errno);
    WaveLayout w;
    std::string error;
    if (!ReadLayout(f, w, error, false)) return error;
    // More than any capture input delivers; the rates bounds of the same kind
    // (5512 Hz is the lowest a sound card runs at): a header claiming 1 Hz
    // kept a merge into MP4 busy for ever.
    constexpr std::uint16_t kMaxChannels = 64;
    constexpr std::uint32_t kMinRate = 5512, kMaxRate = 768000;
    if (w.channels == 0 || w.channels > kMaxChannels)
        return std::to_string(w.channels) + " channels";
    if (w.samplesPerSec < kMinRate || w.samplesPerSec > kMaxRate)
        return std::to_string(w.samplesPerSec) + " samples a second";
    const bool floating = w.formatTag == kWaveFormatFloat;
    if (w.formatTag != kWaveFormatPcm && !floating && w.formatTag != kWaveFormatExtensible)
        return "format " + std::to_string(w.formatTag);
    const std::uint16_t bits = w.bitsPerSample;
    if (floating && bits != 32 && bits != 64)
        return std::to_string(bits) + "-bit floating-point samples";
    if (!floating && (bits == 0 || bits % 8 != 0 || bits > 32))
        return std::to_string(bits) + " bits a sample";
    if (w.blockAlign != w.channels * (bits / 8))
        return "block align " + std::to_string(w.blockAlign) + " for " +
               std::to_string(w.channels) + " channels of " + std::to_string(bits) + " bits";
    return {};
}

bool ShiftWaveStart(const std::string& fileName, std::int64_t shiftMs, std::string& error) {
    File f(fileName);
    WaveLayout w;
    if (!OpenForRewrite(f, w, error)) return false;
    const std::int64_t frames =
        (std::llabs(shiftMs) * static_cast<std::int64_t>(w.samplesPerSec) + 500) / 1000;
    const std::int64_t bytes = frames * w.blockAlign;
    if (bytes == 0) return true;

    std::vector<char> buffer;
    std::int64_t newSize = 0;
    if (shiftMs < 0) {
        // Sound from before the first frame: move the rest forward over it.
        const std::int64_t drop = std::min<std::int64_t>(bytes, w.dataSize);
        newSize = w.dataSize - drop;
        for (std::int64_t done = 0; done < newSize;) {
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(kCopyChunk), newSize - done));
            buffer.resize(n);
            if (!f.Read(w.dataOffset + drop + done, buffer.data(), n) ||
                !f.Write(w.dataOffset + done, buffer.data(), n)) {
                error = "cannot rewrite the sound data";
                return false;
            }
            done += static_cast<std::int64_t>(n);
        }
    } else {
        if (w.formatTag != kWaveFormatPcm) {
            error = "silence is known only for PCM";
            return false;
        }
        newSize = w.dataSize + bytes;
        // From the end backwards, so nothing is overwritten before it moved.
        for (std::int64_t end = w.dataSize; end > 0;) {
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(kCopyChunk), end));
            const off_t from = w.dataOffset + end - static_cast<off_t>(n);
            buffer.resize(n);
            if (!f.Read(from, buffer.data(), n) || !f.Write(from + bytes, buffer.data(), n)) {
                error = "cannot rewrite the sound data";
                return false;
            }
            end -= static_cast<std::int64_t>(n);
        }
        if (!WriteSilence(f, w, 0, bytes, error)) return false;
    }
    return EndDataAt(f, w, newSize, error);
}

bool CutWaveEnd(const std::string& fileName, std::int64_t lengthMs, std::string& error) {
    File f(fileName);
    WaveLayout w;
    if (!OpenForRewrite(f, w, error)) return false;
    const std::int64_t newSize = DataSizeOf(w, lengthMs);
    return newSize >= w.dataSize || EndDataAt(f, w, newSize, error);
}

bool ExtendWaveEnd(const std::string& fileName, std::int64_t lengthMs, std::string& error) {
    File f(fileName);
    WaveLayout w;
    if (!OpenForRewrite(f, w, error)) return false;
    const std::int64_t newSize = DataSizeOf(w, lengthMs);
    if (newSize <= w.dataSize) return true;
    // Over the pad byte an odd size leaves, if any.
    return WriteSilence(f, w, w.dataSize, newSize - w.dataSize, error) &&
           EndDataAt(f, w, newSize, error);
}

bool ReadWaveData(const std::string& fileName, WaveData& data, std::string& error) {
    File f(fileName);
    if (!f.Good()) {
        error = std::strerror(errno);
        return false;
    }
    WaveLayout w;
    if (!ReadLayout(f, w, error, false)) return false;
    data.formatTag = w.formatTag;
    data.channels = w.channels;
    data.blockAlign = w.blockAlign;
    data.bitsPerSample = w.bitsPerSample;
    data.samplesPerSec = w.samplesPerSec;
    data.offset = w.dataOffset;
    data.size = w.dataSize;
    return true;
}

}  // namespace velmora::engine
