#include "engine/WaveHeader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmora::engine {
namespace {

constexpr std::uint16_t kWaveFormatPcm = 1, kWaveFormatFloat = 3, kWaveFormatExtensible = 0xFFFE;

std::uint32_t U32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

class File {
  public:
    explicit File(const std::string& name)
        : fd_(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {}
    explicit File(int fd) : fd_(fd) {}
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

  private:
    int fd_;
};

struct WaveLayout {
    std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    std::uint32_t samplesPerSec = 0;
    off_t dataOffset = 0;
    std::int64_t dataSize = 0;
};

bool ReadLayout(const File& f, WaveLayout& w, std::string& error) {
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
            w.dataOffset = at + 8;
            // A writer that stopped short leaves a size larger than the file;
            // one that was killed, 0; past 4 GiB the field holds 0xFFFFFFFF.
            // The file's size tells then.
            const bool unknown = length == 0 || length == 0xFFFFFFFFu;
            w.dataSize =
                unknown ? size - w.dataOffset : std::min<std::int64_t>(length, size - w.dataOffset);
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

}  // namespace

std::string WaveFormatFault(const std::string& fileName) {
    File f(fileName);
    if (!f.Good()) return std::strerror(errno);
    WaveLayout w;
    std::string error;
    if (!ReadLayout(f, w, error)) return error;
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

namespace {

constexpr char kPlacingChunk[4] = {'v', 'l', 'p', 'l'};
constexpr std::uint32_t kPlacingBytes = 24;  // three little-endian 64-bit values

// Where the chunks after the sound data begin, or -1 when the data's size
// is not known (a writer that was killed): nothing may follow it then.
off_t EndOfData(const File& f, WaveLayout& w) {
    std::string error;
    if (!ReadLayout(f, w, error)) return -1;
    unsigned char field[4];
    if (!f.Read(w.dataOffset - 4, field, 4)) return -1;
    const std::uint32_t length = U32(field);
    if (length == 0 || length == 0xFFFFFFFFu || length != w.dataSize) return -1;
    return w.dataOffset + static_cast<off_t>(w.dataSize + (w.dataSize & 1));
}

}  // namespace

bool WriteWavePlacing(const std::string& fileName, const SoundPlacing& placing) {
    const int fd = ::open(fileName.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    File f(fd);
    WaveLayout w;
    const off_t end = EndOfData(f, w);
    if (end < 0 || f.Size() != end) return false;  // unfinished, or chunks follow already
    unsigned char chunk[8 + kPlacingBytes];
    std::memcpy(chunk, kPlacingChunk, 4);
    const auto put = [](unsigned char* at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put(chunk + 4, kPlacingBytes, 4);
    put(chunk + 8, static_cast<std::uint64_t>(placing.startMs), 8);
    put(chunk + 16, static_cast<std::uint64_t>(placing.cutAtMs), 8);
    put(chunk + 24, static_cast<std::uint64_t>(placing.padToMs), 8);
    unsigned char riff[4];
    const std::uint64_t riffSize = static_cast<std::uint64_t>(end) + sizeof chunk - 8;
    put(riff, riffSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : riffSize, 4);
    return ::pwrite(fd, chunk, sizeof chunk, end) == static_cast<ssize_t>(sizeof chunk) &&
           ::pwrite(fd, riff, 4, 4) == 4;
}

SoundPlacing ReadWavePlacing(const std::string& fileName) {
    File f(fileName);
    WaveLayout w;
    const off_t end = f.Good() ? EndOfData(f, w) : -1;
    if (end < 0) return {};
    const off_t size = f.Size();
    for (off_t at = end; at + 8 <= size;) {
        unsigned char head[8];
        if (!f.Read(at, head, 8)) break;
        const std::uint32_t length = U32(head + 4);
        if (std::memcmp(head, kPlacingChunk, 4) == 0 && length == kPlacingBytes) {
            unsigned char v[kPlacingBytes];
            if (!f.Read(at + 8, v, kPlacingBytes)) break;
            const auto get = [&](int i) {
                std::uint64_t x = 0;
                for (int b = 7; b >= 0; --b) x = x << 8 | v[8 * i + b];
                return static_cast<std::int64_t>(x);
            };
            return {get(0), get(1), get(2)};
        }
        at += 8 + static_cast<off_t>(length) + (length & 1);
    }
    return {};
}

bool ReadWaveData(const std::string& fileName, WaveData& data, std::string& error) {
    File f(fileName);
    if (!f.Good()) {
        error = std::strerror(errno);
        return false;
    }
    WaveLayout w;
    if (!ReadLayout(f, w, error)) return false;
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
