#include "engine/vfw/RiffInfoLists.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace velmora::vfw {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::uint32_t ChunkSize(const unsigned char* p, bool bigEndian) {
    if (bigEndian) {
        return static_cast<std::uint32_t>(p[3]) | static_cast<std::uint32_t>(p[2]) << 8 |
               static_cast<std::uint32_t>(p[1]) << 16 | static_cast<std::uint32_t>(p[0]) << 24;
    }
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Past the end of the file by this much, a list is not worth refusing: it may
// have been cut short, and what it makes the demuxers allocate stays small.
constexpr std::int64_t kSlack = 1 << 20;

}  // namespace

bool InfoListsFitFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file || fseeko(file.get(), 0, SEEK_END) != 0) return true;
    const std::int64_t fileSize = ftello(file.get());
    unsigned char header[12];
    if (fileSize < 12 || fseeko(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, file.get()) != sizeof header) {
        return true;
    }
    const bool rf64 = std::memcmp(header, "RF64", 4) == 0;
    const bool rifx = std::memcmp(header, "RIFX", 4) == 0;  // big-endian sizes
    const bool riff = std::memcmp(header, "RIFF", 4) == 0 || rf64 || rifx;
    const bool wave = riff && std::memcmp(header + 8, "WAVE", 4) == 0;
    const bool avi = riff && std::memcmp(header + 8, "AVI ", 4) == 0;
    if (!wave && !avi) return true;

    // The chunks in the order the demuxers meet them: the wav demuxer skips
    // every chunk by its size to the end of the file; the avi demuxer goes
    // into every list up to the movie data.
    std::int64_t pos = 12;
    while (pos + 12 <= fileSize) {
        unsigned char chunk[12];
        if (fseeko(file.get(), pos, SEEK_SET) != 0 ||
            std::fread(chunk, 1, sizeof chunk, file.get()) != sizeof chunk) {
            return true;
        }
        const std::int64_t size = ChunkSize(chunk + 4, rifx);
        if (std::memcmp(chunk, "LIST", 4) == 0) {
            if (std::memcmp(chunk + 8, "INFO", 4) == 0 && pos + 8 + size > fileSize + kSlack)
                return false;
            if (avi && std::memcmp(chunk + 8, "movi", 4) == 0) return true;
            if (avi) {
                pos += 12;
                continue;
            }
        } else if (wave && std::memcmp(chunk, "data", 4) == 0 && (size == 0 || rf64)) {
            return true;  // the data runs to the end of the file
        }
        pos += 8 + size + (size & 1);
    }
    return true;
}

}  // namespace velmora::vfw
