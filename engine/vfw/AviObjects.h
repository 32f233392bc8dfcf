#pragma once
// The objects behind PAVIFILE and PAVISTREAM. Private to engine/vfw.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/Compressors.h"
#include "engine/mux/FileOutput.h"
#include "engine/vfw/Vfw.h"

struct AVFormatContext;
struct AVPacket;

namespace velmora::vfw {

// libavformat error -> AVIERR_* of an open for reading or writing.
HRESULT aviErrorFromOpen(int averror);
// The driver behind an open compressor handle.
std::shared_ptr<ICDriver> driverOfHandle(HIC hic);

// libavformat error -> AVIERR_* of a write.
HRESULT aviErrorFromWrite(int averror);

// What AVIGetLastSystemError answers on this thread: the errno behind a
// failure (a libavformat error that is one, else fallback).
void setLastSystemError(int error);
int systemErrorOf(int averror, int fallback = EIO);

class AviFile {
  public:
    explicit AviFile(std::string path, bool writing) : path_(std::move(path)), writing_(writing) {}
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    DWORD addRef() { return ++refs_; }
    DWORD release();

    HRESULT openForWriting();
    HRESULT openForReading();

    const std::string& path() const { return path_; }
    // What libavformat opens to read the file: the file opened and checked
    // at openForReading, by its descriptor's name, so that a link or FIFO
    // put in its place since is never read.
    const std::string& readName() const { return readName_; }
    bool writing() const { return writing_; }
    AVFormatContext* context() const { return ctx_; }

    // Muxer options collected from the streams' compressors ("a=1:b=2").
    void addMuxerOptions(const std::string& options);
    // Writes the header once every stream has its format.
    HRESULT ensureHeader();
    bool headerWritten() const { return headerWritten_; }
    // The reason of the first failed write to the file, 0 while none failed.
    int outputError() const;
    // Hands what was written to the system about once a second.
    void flushIfDue();
    // A non-empty chunk handed to the muxer, in order: what a file the disk
    // cut short cannot tell of itself.
    void noteChunk(bool keyFrame) { keyFrames_.push_back(keyFrame); }

  private:
    void finish();

    std::unique_ptr<engine::FileOutput> out_;

    std::atomic<DWORD> refs_{1};
    std::string path_;
    int readFd_ = -1;
    std::string readName_;
    bool writing_;
    AVFormatContext* ctx_ = nullptr;
    std::string muxerOptions_;
    bool headerWritten_ = false;
    bool failed_ = false;
    std::vector<bool> keyFrames_;
};

class AviStream {
  public:
    AviStream(AviFile* file, int index);  // takes a reference on file
    ~AviStream();
    AviStream(const AviStream&) = delete;
    AviStream& operator=(const AviStream&) = delete;

    DWORD addRef() { return ++refs_; }
    DWORD release();

    AviFile* file() const { return file_; }
    int index() const { return index_; }

    AVISTREAMINFO info{};
    bool formatSet = false;

    // Compressed stream: what it writes into, its driver and options.
    AviStream* target = nullptr;  // holds a reference
    std::shared_ptr<ICDriver> driver;
    AVICOMPRESSOPTIONS options{};
    std::unique_ptr<ICCompressor> compressor;

    // Raw streams: the palette of 8-bit frames, sent with the first frame.
    std::vector<std::uint32_t> palette;
    int frameBytes = 0;  // bytes of one raw video frame; audio: block align

    // Stores a packet of this (file) stream at sample index `index`; takes
    // the packet's data and key flag, sets the rest.
    HRESULT writePacket(AVPacket* pkt, std::int64_t index);

    std::int64_t nextIndex = 0;  // the first index not yet stored

  private:
    std::atomic<DWORD> refs_{1};
    AviFile* file_;
    int index_;
    bool paletteSent_ = false;
};

}  // namespace velmora::vfw
