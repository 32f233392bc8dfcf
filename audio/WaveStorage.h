#pragma once
// RIFF WAVE on any seekable stream: header, appended samples, and on
// completion odd data padded, the chunk sizes patched and the header read
// back.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "audio/WaveStreams.h"
#include "audio/WaveUtils.h"

namespace velmora::audio {

enum class TStreamOwnership : std::uint8_t { soReference = 0, soOwned = 1 };
enum class TWaveStreamState : std::uint8_t { wssNone = 0, wssReading = 1, wssWriting = 2 };

// The chunk record of RIFF chunk I/O.
struct MMCKINFO {
    std::uint32_t ckid = 0;
    std::uint32_t cksize = 0;
    std::uint32_t fccType = 0;
    std::uint32_t dwDataOffset = 0;
    std::uint32_t dwFlags = 0;
};

class TChunkIO;  // RIFF chunk reading and writing with its own position

class TWaveStreamAdapter {
  public:
    TWaveStreamAdapter(TStream* stream, TStreamOwnership ownership);
    virtual ~TWaveStreamAdapter();
    TWaveStreamAdapter(const TWaveStreamAdapter&) = delete;
    TWaveStreamAdapter& operator=(const TWaveStreamAdapter&) = delete;

    TStream* Stream() const { return stream_; }
    TStreamOwnership Ownership() const { return ownership_; }
    TWaveStreamState State() const { return state_; }

    bool Valid();
    std::uint32_t DataSize();
    std::uint32_t DataOffset();
    const WAVEFORMATEX* Format();  // nullptr when the header is not valid
    std::uint32_t Length();        // milliseconds of data

    virtual bool UpdateDetails();
    virtual void Changing();
    virtual void Changed();

    virtual bool BeginRewrite(const WAVEFORMATEX* format);
    // False when the pad byte or the final sizes could not be written;
    // WriteError says why.
    virtual bool EndRewrite();
    // The errno of the first failed write or finish of the last rewrite (ENOSPC:
    // the disk is full), 0 when none failed.
    int WriteError() const { return writeError_; }
    // Bytes appended, or -1 outside writing or on a stream failure.
    virtual std::int64_t Write(const void* data, std::int64_t count);
    virtual bool BeginRead();
    virtual bool EndRead();
    virtual std::int64_t Read(void* buffer, std::int64_t count);

    std::function<void(TWaveStreamAdapter*Sender)> OnChanging, OnChange;

  private:
    TStream* stream_;
    TStreamOwnership ownership_;
    bool dirty_ = true;
    bool valid_ = false;
    std::uint32_t dataSize_ = 0;
    std::uint32_t dataOffset_ = 0;
    std::vector<std::uint8_t> format_;  // empty: none
    TWaveStreamState state_ = TWaveStreamState::wssNone;
    MMCKINFO riffChunk_, dataChunk_;
    std::unique_ptr<TChunkIO> chunkIO_;
    // While writing: a second of sound in bytes, and where the sizes in the
    // header last reached.
    std::int64_t bytesPerSecond_ = 0;
    std::int64_t sizesWrittenAt_ = 0;
    int writeError_ = 0;
};

// Writes "RIFF"/"WAVE", the fmt chunk (18 + cbSize bytes) and opens "data".
bool WriteWaveHeader(TChunkIO& io, const WAVEFORMATEX* format, MMCKINFO& riff, MMCKINFO& data);
// Reads the header of a whole stream; the stream position is kept.
bool ReadWaveHeader(TStream* stream, std::vector<std::uint8_t>& format, std::uint32_t& dataSize,
                    std::uint32_t& dataOffset);

// Storage that hands out the stream of a wave by index. Referrers watch it:
// destruction tells each watcher to drop its reference.
class TCustomWaveStorage {
  public:
    virtual ~TCustomWaveStorage();
    virtual TStream* GetWaveStream(int index) = 0;
    virtual int GetWaveCount() = 0;

    using TRemoval = std::function<void(TCustomWaveStorage*)>;
    void AddWatcher(void* who, TRemoval onRemove);
    void RemoveWatcher(void* who);

  private:
    std::vector<std::pair<void*, TRemoval>> watchers_;
};

}  // namespace velmora::audio
