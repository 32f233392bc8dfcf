#include "engine/vfw/CutShortAvi.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace velmora::vfw {
namespace {

// The muxer's placeholder in a size it writes at the end.
constexpr std::uint32_t kOpenSize = 0xFFFFFFFFu;
constexpr std::uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME
// Freed beyond the index's own size before a retry: file systems hand out
// whole blocks.
constexpr std::int64_t kBlockSlack = 4096;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ReadAt(int fd, std::int64_t at, void* into, std::size_t size) {
    return ::pread(fd, into, size, at) == static_cast<ssize_t>(size);
}

bool WriteLe32At(int fd, std::int64_t at, std::uint32_t value) {
    unsigned char b[4];
    PutLe32(b, value);
    const ssize_t written = ::pwrite(fd, b, 4, at);
    if (written >= 0 && written != 4) errno = EIO;  // a short write sets none
    return written == 4;
}

struct Chunk {
    std::int64_t at;  // of its id
    char id[4];
    std::uint32_t size;
    int stream;  // -1: no stream's (an index, junk)
};

struct StreamHeader {
    std::int64_t lengthAt;  // strh dwLength
    bool video;
    std::uint32_t sampleSize;
};

// "00dc", "01wb": the stream's number, else -1.
int StreamOf(const char* id) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(id[0]) || !digit(id[1])) return -1;
    return (id[0] - '0') * 10 + (id[1] - '0');
}

bool IsChunkId(const char* id) {
    for (int i = 0; i < 4; ++i)
        if (!((id[i] >= '0' && id[i] <= '9') || (id[i] >= 'a' && id[i] <= 'z') ||
              (id[i] >= 'A' && id[i] <= 'Z') || id[i] == ' '))
            return false;
    return true;
}

struct Layout {
    std::int64_t totalFramesAt = -1;  // avih dwTotalFrames
    std::int64_t odmlFramesAt = -1;   // dmlh dwTotalFrames
    std::vector<StreamHeader> streams;
    std::int64_t moviAt = -1;  // of the "movi" type, where index offsets count from
};

// The headers' fields the end fills in, and where the movi list begins.
bool ReadLayout(int fd, std::int64_t fileSize, Layout& layout) {
    unsigned char head[12];
    if (!ReadAt(fd, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "AVI ", 4) != 0)
        return false;
    std::int64_t at = 12;
    while (at + 12 <= fileSize) {
        unsigned char c[12];
        if (!ReadAt(fd, at, c, 12)) return false;
        const std::uint32_t size = Le32(c + 4);
        if (std::memcmp(c, "LIST", 4) == 0 && std::memcmp(c + 8, "movi", 4) == 0) {
            // Closed already: the muxer finished it, or moved on to a second
            // RIFF list with indexes of its own.
            if (size != kOpenSize) return false;
            layout.moviAt = at + 8;
            return true;
        }
        if (std::memcmp(c, "LIST", 4) == 0 && std::memcmp(c + 8, "hdrl", 4) == 0) {
            const std::int64_t end = at + 8 + size;
            std::int64_t in = at + 12;
            while (in + 8 <= end && in + 8 <= fileSize) {
                unsigned char h[12];
                if (!ReadAt(fd, in, h, 12)) return false;
                const std::uint32_t hsize = Le32(h + 4);
                if (std::memcmp(h, "avih", 4) == 0) layout.totalFramesAt = in + 8 + 16;
                if (std::memcmp(h, "LIST", 4) == 0 &&
                    (std::memcmp(h + 8, "strl", 4) == 0 || std::memcmp(h + 8, "odml", 4) == 0)) {
                    const std::int64_t listEnd = in + 8 + hsize;
                    for (std::int64_t s = in + 12; s + 8 <= listEnd;) {
                        unsigned char e[8];
                        if (!ReadAt(fd, s, e, 8)) return false;
                        const std::uint32_t esize = Le32(e + 4);
                        if (std::memcmp(e, "strh", 4) == 0 && esize >= 48) {
                            unsigned char strh[48];
                            if (!ReadAt(fd, s + 8, strh, 48)) return false;
                            layout.streams.push_back({s + 8 + 32, std::memcmp(strh, "vids", 4) == 0,
                                                      Le32(strh + 44)});
                        }
                        if (std::memcmp(e, "dmlh", 4) == 0 && esize >= 4) layout.odmlFramesAt = s + 8;
                        s += 8 + esize + (esize & 1);
                    }
                    in = listEnd + (hsize & 1);
                    continue;
                }
                in += 8 + hsize + (hsize & 1);
            }
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

// The chunks of the movi list that are whole in the file.
std::vector<Chunk> WholeChunks(int fd, std::int64_t moviAt, std::int64_t fileSize) {
    std::vector<Chunk> chunks;
    std::int64_t at = moviAt + 4;
    while (at + 8 <= fileSize) {
        unsigned char c[8];
        if (!ReadAt(fd, at, c, 8)) break;
        Chunk chunk{at, {}, Le32(c + 4), -1};
        std::memcpy(chunk.id, c, 4);
        if (!IsChunkId(chunk.id)) break;
        const std::int64_t end = at + 8 + chunk.size + (chunk.size & 1);
        if (end > fileSize) break;
        chunk.stream = StreamOf(chunk.id);
        chunks.push_back(chunk);
        at = end;
    }
    return chunks;
}

std::int64_t EndOf(const Chunk& c) {
    return c.at + 8 + c.size + (c.size & 1);
}

}  // namespace

CutShortResult FinishCutShortAvi(int fd, const std::vector<bool>& keyFrames) {
    CutShortResult result;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        result.error = errno;
        return result;
    }
    Layout layout;
    if (!ReadLayout(fd, st.st_size, layout)) {
        result.error = EINVAL;
        return result;
    }
    std::vector<Chunk> chunks = WholeChunks(fd, layout.moviAt, st.st_size);
    // The index goes right after the last chunk kept; while the disk cannot
    // take it, chunks from the end make room.
    std::string index;
    for (;;) {
        const std::int64_t indexAt = chunks.empty() ? layout.moviAt + 4 : EndOf(chunks.back());
        if (::ftruncate(fd, indexAt) != 0) {
            result.error = errno;
            return result;
        }
        index.assign(8 + 16 * chunks.size(), '\0');
        auto* p = reinterpret_cast<unsigned char*>(index.data());
        std::memcpy(p, "idx1", 4);
        PutLe32(p + 4, static_cast<std::uint32_t>(16 * chunks.size()));
        std::size_t nonEmpty = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const Chunk& c = chunks[i];
            unsigned char* e = p + 8 + 16 * i;
            std::uint32_t flags = 0;
            if (c.stream >= 0 && c.size > 0) {
                flags = nonEmpty < keyFrames.size() && !keyFrames[nonEmpty] ? 0 : kKeyFrame;
                ++nonEmpty;
            }
            std::memcpy(e, c.id, 4);
            PutLe32(e + 4, flags);
            PutLe32(e + 8, static_cast<std::uint32_t>(c.at - layout.moviAt));
            PutLe32(e + 12, c.size);
        }
        const ssize_t written = ::pwrite(fd, index.data(), index.size(), indexAt);
        if (written == static_cast<ssize_t>(index.size())) break;
        const int error = written < 0 ? errno : ENOSPC;
        if ((error != ENOSPC && error != EDQUOT) || chunks.empty()) {
            ::ftruncate(fd, indexAt);
            result.error = error;
            return result;
        }
        // Room for the index, and the blocks it will take.
        const std::int64_t wanted = static_cast<std::int64_t>(index.size()) + kBlockSlack;
        std::int64_t freed = 0;
        while (!chunks.empty() && freed < wanted) {
            freed += EndOf(chunks.back()) - chunks.back().at;
            chunks.pop_back();
        }
    }
    const std::int64_t moviEnd = chunks.empty() ? layout.moviAt + 4 : EndOf(chunks.back());
    const std::int64_t fileEnd = moviEnd + static_cast<std::int64_t>(index.size());

    // What each stream holds: frames for video, samples (or chunks) for sound.
    std::vector<std::uint64_t> lengths(layout.streams.size(), 0);
    for (const Chunk& c : chunks) {
        if (c.stream < 0 || static_cast<std::size_t>(c.stream) >= lengths.size()) continue;
        const StreamHeader& s = layout.streams[static_cast<std::size_t>(c.stream)];
        lengths[static_cast<std::size_t>(c.stream)] += !s.video && s.sampleSize ? c.size / s.sampleSize : 1;
    }
    std::uint64_t frames = 0;
    for (std::size_t i = 0; i < layout.streams.size(); ++i)
        if (layout.streams[i].video) {
            frames = lengths[i];
            break;
        }
    bool ok = WriteLe32At(fd, layout.moviAt - 4, static_cast<std::uint32_t>(moviEnd - layout.moviAt)) &&
              WriteLe32At(fd, 4, static_cast<std::uint32_t>(fileEnd - 8));
    if (layout.totalFramesAt >= 0)
        ok = ok && WriteLe32At(fd, layout.totalFramesAt, static_cast<std::uint32_t>(frames));
    if (layout.odmlFramesAt >= 0)
        ok = ok && WriteLe32At(fd, layout.odmlFramesAt, static_cast<std::uint32_t>(frames));
    for (std::size_t i = 0; i < layout.streams.size(); ++i)
        ok = ok && WriteLe32At(fd, layout.streams[i].lengthAt, static_cast<std::uint32_t>(lengths[i]));
    if (!ok || ::fsync(fd) != 0) {
        result.error = errno;
        return result;
    }
    result.finished = true;
    result.chunks = static_cast<std::int64_t>(chunks.size());
    return result;
}

}  // namespace velmora::vfw
