#include "audio/WaveStorage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmora::audio {
namespace {

constexpr std::uint32_t fourCC(const char (&s)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24;
}
constexpr std::uint32_t kRIFF = fourCC("RIFF"), kWAVE = fourCC("WAVE"), kFmt = fourCC("fmt "),
                        kData = fourCC("data");

// A chunk size field: 0xFFFFFFFF stands for a size it cannot hold (sound
// past 4 GiB); readers take the length from the file then.
std::uint32_t SizeField(std::int64_t size) {
    return size > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

}  // namespace

// Keeps its own position, so every chunk operation lands where the previous
// one ended whatever else moved the stream meanwhile. Stream exceptions
// become failures (-1 / false), never propagate.
class TChunkIO {
  public:
    explicit TChunkIO(TStream* stream) : stream_(stream) {}

    bool Open() {
        if (stream_ == nullptr) return false;
        try {
            stream_->Seek(0, TSeekOrigin::soBeginning);
        } catch (const std::exception&) {
            return false;
        }
        pos_ = 0;
        return true;
    }

    std::int64_t Read(void* buffer, std::int64_t count) {
        try {
            stream_->Seek(pos_, TSeekOrigin::soBeginning);
            const std::int64_t n = stream_->Read(buffer, count);
            pos_ = stream_->Position();
            return n;
        } catch (const std::exception&) {
            return -1;
        }
    }

    std::int64_t Write(const void* buffer, std::int64_t count) {
        try {
            stream_->Seek(pos_, TSeekOrigin::soBeginning);
            const std::int64_t n = stream_->Write(buffer, count);
            pos_ = stream_->Position();
            if (n != count) Failed(0);
            return n;
        } catch (const EStreamError& e) {
            Failed(e.Error());
        } catch (const std::exception&) {
            Failed(0);
        }
        return -1;
    }

    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) {
        try {
            if (origin == TSeekOrigin::soCurrent) stream_->Seek(pos_, TSeekOrigin::soBeginning);
            pos_ = stream_->Seek(offset, origin);
            return pos_;
        } catch (const EStreamError& e) {
            Failed(e.Error());
        } catch (const std::exception&) {
            Failed(0);
        }
        return -1;
    }

    std::int64_t Position() const { return pos_; }
    // The errno of the first failed write or seek (EIO when the stream gave
    // none), 0 while none failed.
    int Error() const { return error_; }

    bool CreateChunk(MMCKINFO& ck, bool riff) {
        std::uint32_t header[3] = {riff ? kRIFF : ck.ckid, ck.cksize, ck.fccType};
        if (riff) ck.ckid = kRIFF;
        const std::int64_t size = riff ? 12 : 8;
        ck.dwDataOffset = static_cast<std::uint32_t>(pos_ + 8);
        return Write(header, size) == size;
    }

    // Ends a created chunk at the current position: pads odd data with a
    // zero byte and rewrites the size when it changed.
    bool Ascend(MMCKINFO& ck) {
        const std::int64_t end = pos_;
        const std::int64_t length = end - ck.dwDataOffset;
        if (length % 2 != 0) {
            const std::uint8_t pad = 0;
            if (Write(&pad, 1) != 1) return false;
        }
        const std::int64_t after = pos_;
        if (SizeField(length) != ck.cksize) {
            ck.cksize = SizeField(length);
            if (Seek(ck.dwDataOffset - 4, TSeekOrigin::soBeginning) < 0) return false;
            if (Write(&ck.cksize, 4) != 4) return false;
        }
        return Seek(after, TSeekOrigin::soBeginning) >= 0;
    }

    // Searches from the current position, inside `parent` when given.
    bool Descend(MMCKINFO& ck, const MMCKINFO* parent, bool findRiff) {
        const std::int64_t limit =
            parent ? static_cast<std::int64_t>(parent->dwDataOffset) + parent->cksize : INT64_MAX;
        const std::uint32_t wanted = findRiff ? kRIFF : ck.ckid;
        while (pos_ + 8 <= limit) {
            std::uint32_t header[2];
            if (Read(header, 8) != 8) return false;
            const std::int64_t dataStart = pos_;
            if (header[0] == wanted) {
                if (!findRiff) {
                    ck.cksize = header[1];
                    ck.dwDataOffset = static_cast<std::uint32_t>(dataStart);
                    return true;
                }
                std::uint32_t form;
                if (Read(&form, 4) != 4) return false;
                if (form == ck.fccType) {
                    ck.ckid = kRIFF;
                    ck.cksize = header[1];
                    ck.dwDataOffset = static_cast<std::uint32_t>(dataStart);
                    return true;
                }
            }
            const std::int64_t next = dataStart + header[1] + (header[1] & 1);
            if (Seek(next, TSeekOrigin::soBeginning) < 0) return false;
        }
        return false;
    }

  private:
    void Failed(int error) {
        if (!error_) error_ = error ? error : EIO;
    }

    TStream* stream_;
    std::int64_t pos_ = 0;
    int error_ = 0;
};

bool WriteWaveHeader(TChunkIO& io, const WAVEFORMATEX* format, MMCKINFO& riff, MMCKINFO& data) {
    if (format == nullptr) return false;
    if (io.Seek(0, TSeekOrigin::soBeginning) != 0) return false;
    riff = MMCKINFO{};
    riff.fccType = kWAVE;
    if (!io.CreateChunk(riff, true)) return false;
    MMCKINFO fmt{};
    fmt.ckid = kFmt;
    if (!io.CreateChunk(fmt, false)) return false;
    const std::int64_t size = 18 + format->cbSize;
    if (io.Write(format, size) != size) return false;
    if (!io.Ascend(fmt)) return false;
    data = MMCKINFO{};
    data.ckid = kData;
    return io.CreateChunk(data, false);
}

bool ReadWaveHeader(TStream* stream, std::vector<std::uint8_t>& format, std::uint32_t& dataSize,
                    std::uint32_t& dataOffset) {
    format.clear();
    std::int64_t remembered = 0, size = 0;
    try {
        if (stream == nullptr || (size = stream->Size()) == 0) return false;
        remembered = stream->Position();
    } catch (const std::exception&) {
        return false;
    }
    TChunkIO io(stream);
    bool valid = false;
    if (io.Open()) {
        MMCKINFO riff{}, fmt{}, data{};
        riff.fccType = kWAVE;
        fmt.ckid = kFmt;
        data.ckid = kData;
        // A fmt chunk larger than the file is a damaged header, not a reason
        // to allocate gigabytes.
        if (io.Descend(riff, nullptr, true) && io.Descend(fmt, &riff, false) && fmt.cksize >= 14 &&
            fmt.dwDataOffset + static_cast<std::int64_t>(fmt.cksize) <= size) {
            format.assign(std::max<std::uint32_t>(fmt.cksize, 18), 0);
            if (io.Read(format.data(), fmt.cksize) == fmt.cksize) {
                // The fmt chunk may be odd-sized; the next chunk starts even.
                io.Seek(fmt.dwDataOffset + fmt.cksize + (fmt.cksize & 1), TSeekOrigin::soBeginning);
                if (io.Descend(data, &riff, false)) {
                    dataSize = data.cksize;
                    dataOffset = data.dwDataOffset;
                    valid = true;
                }
            }
        }
    }
    if (!valid) format.clear();
    try {
        stream->Seek(remembered, TSeekOrigin::soBeginning);
    } catch (const std::exception&) {
    }
    return valid;
}

TWaveStreamAdapter::TWaveStreamAdapter(TStream* stream, TStreamOwnership ownership)
    : stream_(stream), ownership_(ownership) {}

TWaveStreamAdapter::~TWaveStreamAdapter() {
    if (state_ == TWaveStreamState::wssReading) EndRead();
    if (state_ == TWaveStreamState::wssWriting) EndRewrite();
    if (ownership_ == TStreamOwnership::soOwned) delete stream_;
}

bool TWaveStreamAdapter::Valid() {
    return UpdateDetails();
}
std::uint32_t TWaveStreamAdapter::DataSize() {
    return UpdateDetails() ? dataSize_ : 0;
}
std::uint32_t TWaveStreamAdapter::DataOffset() {
    return UpdateDetails() ? dataOffset_ : 0;
}
const WAVEFORMATEX* TWaveStreamAdapter::Format() {
    return UpdateDetails() ? reinterpret_cast<const WAVEFORMATEX*>(format_.data()) : nullptr;
}
std::uint32_t TWaveStreamAdapter::Length() {
    return UpdateDetails() ? DurationForBytes(*Format(), dataSize_) : 0;
}

bool TWaveStreamAdapter::UpdateDetails() {
    if (dirty_ && state_ != TWaveStreamState::wssWriting) {
        dirty_ = false;
        valid_ = ReadWaveHeader(stream_, format_, dataSize_, dataOffset_);
        Changed();
    }
    return valid_;
}

void TWaveStreamAdapter::Changing() {
    if (dirty_) return;
    valid_ = false;
    dirty_ = true;
    if (OnChanging) OnChanging(this);
}

void TWaveStreamAdapter::Changed() {
    if (OnChange) OnChange(this);
}

bool TWaveStreamAdapter::BeginRewrite(const WAVEFORMATEX* format) {
    if (state_ != TWaveStreamState::wssNone) return false;
    auto io = std::make_unique<TChunkIO>(stream_);
    if (!io->Open()) return false;
    try {
        stream_->SetSize(0);
    } catch (const std::exception&) {
        return false;
    }
    if (!WriteWaveHeader(*io, format, riffChunk_, dataChunk_)) return false;
    chunkIO_ = std::move(io);
    state_ = TWaveStreamState::wssWriting;
    dataOffset_ = static_cast<std::uint32_t>(chunkIO_->Position());
    bytesPerSecond_ = format->nAvgBytesPerSec;
    sizesWrittenAt_ = dataOffset_;
    writeError_ = 0;
    Changing();
    return true;
}

std::int64_t TWaveStreamAdapter::Write(const void* data, std::int64_t count) {
    if (state_ != TWaveStreamState::wssWriting) return -1;
    const std::int64_t written = chunkIO_->Write(data, count);
    if (written != count && !writeError_) writeError_ = chunkIO_->Error() ? chunkIO_->Error() : EIO;
    // About every tenth of a second of sound the sizes cover what is stored,
    // so a file left by a killed process reads to there.
    const std::int64_t end = chunkIO_->Position();
    if (written > 0 && end - sizesWrittenAt_ >= std::max<std::int64_t>(bytesPerSecond_ / 10, 1)) {
        sizesWrittenAt_ = end;
        const std::uint32_t dataSize = SizeField(end - dataChunk_.dwDataOffset);
        const std::uint32_t riffSize = SizeField(end - riffChunk_.dwDataOffset);
        if (chunkIO_->Seek(dataChunk_.dwDataOffset - 4, TSeekOrigin::soBeginning) >= 0)
            chunkIO_->Write(&dataSize, 4);
        if (chunkIO_->Seek(riffChunk_.dwDataOffset - 4, TSeekOrigin::soBeginning) >= 0)
            chunkIO_->Write(&riffSize, 4);
        chunkIO_->Seek(end, TSeekOrigin::soBeginning);
    }
    return written;
}

bool TWaveStreamAdapter::EndRewrite() {
    if (state_ != TWaveStreamState::wssWriting) return false;
    // The pad byte of odd data stays in the stream: the RIFF size counts it,
    // so the header and the file agree.
    const bool finished = chunkIO_->Ascend(dataChunk_) && chunkIO_->Ascend(riffChunk_);
    if (!finished) writeError_ = chunkIO_->Error() ? chunkIO_->Error() : EIO;
    chunkIO_.reset();
    state_ = TWaveStreamState::wssNone;
    UpdateDetails();
    return finished;
}

bool TWaveStreamAdapter::BeginRead() {
    if (!Valid() || state_ != TWaveStreamState::wssNone) return false;
    auto io = std::make_unique<TChunkIO>(stream_);
    if (!io->Open() || io->Seek(dataOffset_, TSeekOrigin::soBeginning) < 0) return false;
    chunkIO_ = std::move(io);
    state_ = TWaveStreamState::wssReading;
    return true;
}

std::int64_t TWaveStreamAdapter::Read(void* buffer, std::int64_t count) {
    if (state_ != TWaveStreamState::wssReading) return -1;
    return chunkIO_->Read(buffer, count);
}

bool TWaveStreamAdapter::EndRead() {
    if (state_ != TWaveStreamState::wssReading) return false;
    chunkIO_.reset();
    state_ = TWaveStreamState::wssNone;
    return true;
}

TCustomWaveStorage::~TCustomWaveStorage() {
    auto watchers = std::move(watchers_);
    for (auto& [who, onRemove] : watchers) onRemove(this);
}

void TCustomWaveStorage::AddWatcher(void* who, TRemoval onRemove) {
    watchers_.emplace_back(who, std::move(onRemove));
}

void TCustomWaveStorage::RemoveWatcher(void* who) {
    std::erase_if(watchers_, [who](const auto& w) { return w.first == who; });
}

}  // namespace velmora::audio
