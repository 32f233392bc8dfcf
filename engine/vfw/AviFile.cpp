// AVIFile*/AVIStream* on libavformat's avi muxer and avi/wav demuxers.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "engine/vfw/AviObjects.h"
#include "engine/vfw/CutShortAvi.h"
#include "engine/encode/SoundEncoder.h"
#include "engine/mux/FileOutput.h"
#include "engine/vfw/RiffInfoLists.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

namespace velmora::vfw {

namespace {

std::mutex initMutex;
int initCount = 0;

// How the last file created at each path was finished.
std::mutex finishMutex;
std::map<std::string, HRESULT> finishResults;

thread_local int lastSystemError = 0;

void recordFinish(const std::string& path, HRESULT result) {
    std::lock_guard lock(finishMutex);
    finishResults[path] = result;
}

// The avi muxer refuses gaps longer than this in one step.
constexpr std::int64_t kMaxGapStep = 50000;

FOURCC fourccOfType(AVMediaType type) {
    switch (type) {
        case AVMEDIA_TYPE_VIDEO:
            return streamtypeVIDEO;
        case AVMEDIA_TYPE_AUDIO:
            return streamtypeAUDIO;
        default:
            return MakeFourCC('t', 'x', 't', 's');
    }
}

}  // namespace

HRESULT aviErrorFromOpen(int e) {
    if (e == AVERROR(ENOENT) || e == AVERROR(EACCES) || e == AVERROR(EPERM) ||
        e == AVERROR(EISDIR) || e == AVERROR(EROFS) || e == AVERROR(ENOTDIR) ||
        e == AVERROR(ENAMETOOLONG) || e == AVERROR(ELOOP) || e == AVERROR(EEXIST)) {
        return AVIERR_FILEOPEN;
    }
    if (e == AVERROR(ENOMEM)) return AVIERR_MEMORY;
    if (e == AVERROR(EIO)) return AVIERR_FILEREAD;
    if (e == AVERROR_INVALIDDATA || e == AVERROR_EOF || e == AVERROR_DEMUXER_NOT_FOUND) {
        return AVIERR_BADFORMAT;
    }
    return AVIERR_FILEOPEN;
}

void setLastSystemError(int error) {
    lastSystemError = error;
}

int systemErrorOf(int averror, int fallback) {
    const int error = averror < 0 ? AVUNERROR(averror) : 0;
    return error > 0 && error < 4096 ? error : fallback;
}

int AVIGetLastSystemError() {
    return lastSystemError;
}

HRESULT aviErrorFromWrite(int e) {
    if (e == AVERROR(ENOMEM)) return AVIERR_MEMORY;
    if (e == AVERROR(EINVAL)) return AVIERR_BADPARAM;
    return AVIERR_FILEWRITE;
}

// ---------------------------------------------------------------- AviFile

AviFile::~AviFile() {
    finish();
    if (readFd_ >= 0) ::close(readFd_);
}

int AviFile::outputError() const {
    return out_ ? out_->error() : 0;
}

void AviFile::flushIfDue() {
    if (out_) out_->flushIfDue();
}

DWORD AviFile::release() {
    DWORD left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT AviFile::openForWriting() {
    recordFinish(path_, AVIERR_OK);
    int e = avformat_alloc_output_context2(&ctx_, nullptr, "avi", path_.c_str());
    if (e < 0 || !ctx_) return AVIERR_MEMORY;
    // Opened by us: a link planted at the name is not followed, and nothing
    // existing is overwritten.
    out_ = std::make_unique<engine::FileOutput>();
    if (const int error = out_->create(path_)) {
        out_.reset();
        avformat_free_context(ctx_);
        ctx_ = nullptr;
        setLastSystemError(error);
        return error == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
    }
    ctx_->pb = out_->context();
    ctx_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return AVIERR_OK;
}

HRESULT AviFile::openForReading() {
    // Never through a link, never waiting on a FIFO or device: a folder
    // others can write may hold either under a recording's name.
    readFd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (readFd_ < 0 || ::fstat(readFd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        setLastSystemError(readFd_ < 0 ? errno : EINVAL);
        return AVIERR_FILEOPEN;
    }
    readName_ = "/proc/self/fd/" + std::to_string(readFd_);
    if (::access(readName_.c_str(), R_OK) != 0) readName_ = path_;  // no /proc
    if (!InfoListsFitFile(readName_)) return AVIERR_BADFORMAT;
    int e = avformat_open_input(&ctx_, readName_.c_str(), nullptr, nullptr);
    if (e < 0) {
        ctx_ = nullptr;
        setLastSystemError(systemErrorOf(e, 0));
        return aviErrorFromOpen(e);
    }
    const char* name = ctx_->iformat->name;
    if (std::strcmp(name, "avi") != 0 && std::strcmp(name, "wav") != 0) {
        avformat_close_input(&ctx_);
        return REGDB_E_CLASSNOTREG;
    }
    // A sound file's header may not know its length (a killed recorder, past
    // 4 GiB): the length comes from the file's size then.
    if (std::strcmp(name, "wav") == 0 && ctx_->nb_streams > 0 && ctx_->streams[0]->duration <= 0 &&
        avformat_find_stream_info(ctx_, nullptr) < 0) {
        avformat_close_input(&ctx_);
        return AVIERR_BADFORMAT;
    }
    return AVIERR_OK;
}

void AviFile::addMuxerOptions(const std::string& options) {
    if (options.empty()) return;
    if (!muxerOptions_.empty()) muxerOptions_ += ':';
    muxerOptions_ += options;
}

HRESULT AviFile::ensureHeader() {
    if (headerWritten_) return AVIERR_OK;
    if (failed_ || !ctx_ || !writing_) return AVIERR_FILEWRITE;
    for (unsigned i = 0; i < ctx_->nb_streams; ++i) {
        if (ctx_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_UNKNOWN) {
            return AVIERR_BADFORMAT;
        }
    }
    AVDictionary* opts = nullptr;
    if (!muxerOptions_.empty()) av_dict_parse_string(&opts, muxerOptions_.c_str(), "=", ":", 0);
    int e = avformat_write_header(ctx_, &opts);
    av_dict_free(&opts);
    if (e < 0) {
        failed_ = true;
        setLastSystemError(outputError() ? outputError() : systemErrorOf(e));
        return aviErrorFromWrite(e);
    }
    headerWritten_ = true;
    return AVIERR_OK;
}

void AviFile::finish() {
    if (!ctx_) return;
    if (writing_) {
        // A file nobody wrote a frame to still gets its headers, so it opens.
        if (!headerWritten_ && !failed_ && ctx_->nb_streams > 0) ensureHeader();
        // The index and the last buffered bytes go out here: a full disk shows
        // now, and a file without them is no complete recording.
        bool ok = !failed_;
        if (headerWritten_ && av_write_trailer(ctx_) < 0) ok = false;
        if (ctx_->pb && ctx_->pb->error < 0) ok = false;
        // A full disk left the file without its end: what is whole in it
        // gets an index and its counts, once the muxer has let go of it.
        const bool cutShort =
            headerWritten_ && (outputError() == ENOSPC || outputError() == EDQUOT);
        const int kept = cutShort ? out_->duplicate() : -1;
        const int error = out_ ? out_->close() : 0;
        if (kept >= 0) {
            FinishCutShortAvi(kept, keyFrames_);
            ::close(kept);
        }
        if (error) ok = false;
        ctx_->pb = nullptr;
        out_.reset();
        avformat_free_context(ctx_);
        if (!ok) setLastSystemError(error ? error : EIO);
        recordFinish(path_, ok ? AVIERR_OK : AVIERR_FILEWRITE);
    } else {
        avformat_close_input(&ctx_);
    }
    ctx_ = nullptr;
}

// ---------------------------------------------------------------- AviStream

AviStream::AviStream(AviFile* file, int index) : file_(file), index_(index) {
    file_->addRef();
}

AviStream::~AviStream() {
    compressor.reset();
    if (target) target->release();
    file_->release();
}

DWORD AviStream::release() {
    DWORD left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT AviStream::writePacket(AVPacket* pkt, std::int64_t index) {
    if (index < nextIndex) return AVIERR_BADPARAM;
    HRESULT hr = file_->ensureHeader();
    if (hr != AVIERR_OK) return hr;
    AVFormatContext* ctx = file_->context();
    AVStream* st = ctx->streams[index_];
    const bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;

    if (video && index > nextIndex) {
        // The muxer fills gaps with empty chunks only after a stream's first
        // chunk and only up to 60000 at once: store one empty chunk at the
        // start and every kMaxGapStep slots so the rest follows by itself.
        AVPacket* empty = av_packet_alloc();
        if (!empty) return AVIERR_MEMORY;
        std::int64_t at = nextIndex == 0 ? 0 : std::min(nextIndex + kMaxGapStep, index);
        while (at < index) {
            av_packet_unref(empty);
            empty->stream_index = index_;
            empty->pts = empty->dts = at;
            empty->duration = 1;
            int e = av_write_frame(ctx, empty);
            if (e < 0) {
                av_packet_free(&empty);
                setLastSystemError(file_->outputError() ? file_->outputError() : systemErrorOf(e));
                return aviErrorFromWrite(e);
            }
            nextIndex = at + 1;
            at = std::min(nextIndex + kMaxGapStep, index);
        }
        av_packet_free(&empty);
    }

    if (video && !palette.empty() && !paletteSent_) {
        auto* side = av_packet_new_side_data(pkt, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (!side) return AVIERR_MEMORY;
        std::memset(side, 0, AVPALETTE_SIZE);
        std::memcpy(side, palette.data(),
                    std::min<std::size_t>(palette.size() * 4, AVPALETTE_SIZE));
        paletteSent_ = true;
    }
    pkt->stream_index = index_;
    pkt->pts = pkt->dts = index;
    if (video) pkt->duration = 1;
    const std::int64_t samples = video ? 1 : (pkt->duration > 0 ? pkt->duration : 1);
    const bool key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    const bool empty = pkt->size == 0;
    int e = av_write_frame(ctx, pkt);
    if (!empty) file_->noteChunk(key);
    if (e < 0 || ctx->pb->error < 0) {  // e.g. the disk is full
        setLastSystemError(file_->outputError() ? file_->outputError()
                                                : systemErrorOf(e < 0 ? e : ctx->pb->error));
        return e < 0 ? aviErrorFromWrite(e) : AVIERR_FILEWRITE;
    }
    file_->flushIfDue();
    nextIndex = index + samples;
    return AVIERR_OK;
}

// ---------------------------------------------------------------- calls

void AVIFileInit() {
    std::lock_guard lock(initMutex);
    ++initCount;
}

void AVIFileExit() {
    std::lock_guard lock(initMutex);
    if (initCount > 0) --initCount;
}

HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, UINT uMode, const void*) {
    if (!ppfile) return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile || !*szFile) return AVIERR_BADPARAM;
    const bool write = (uMode & (OF_WRITE | OF_CREATE)) != 0;
    if (write && (uMode & OF_CREATE) == 0) return AVIERR_BADFLAGS;  // no editing in place
    auto* file = new (std::nothrow) AviFile(szFile, write);
    if (!file) return AVIERR_MEMORY;
    HRESULT hr = write ? file->openForWriting() : file->openForReading();
    if (hr != AVIERR_OK) {
        file->release();
        return hr;
    }
    *ppfile = file;
    return AVIERR_OK;
}

HRESULT AVIFileFinishResult(const char* szFile) {
    if (!szFile) return AVIERR_BADPARAM;
    std::lock_guard lock(finishMutex);
    const auto found = finishResults.find(szFile);
    return found == finishResults.end() ? AVIERR_OK : found->second;
}

DWORD AVIFileAddRef(PAVIFILE pfile) {
    return pfile ? pfile->addRef() : 0;
}
DWORD AVIFileRelease(PAVIFILE pfile) {
    return pfile ? pfile->release() : 0;
}
DWORD AVIStreamAddRef(PAVISTREAM pavi) {
    return pavi ? pavi->addRef() : 0;
}
DWORD AVIStreamRelease(PAVISTREAM pavi) {
    return pavi ? pavi->release() : 0;
}

HRESULT EditStreamSetName(PAVISTREAM pavi, const char* lpszName) {
    if (!pavi) return AVIERR_BADHANDLE;
    if (!lpszName) return AVIERR_BADPARAM;
    std::memset(pavi->info.szName, 0, sizeof pavi->info.szName);
    std::strncpy(pavi->info.szName, lpszName, sizeof pavi->info.szName - 1);
    return AVIERR_OK;
}

HRESULT AVIFileCreateStream(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFO* psi) {
    if (!ppavi) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!pfile) return AVIERR_BADHANDLE;
    if (!psi) return AVIERR_BADPARAM;
    if (!pfile->writing()) return AVIERR_READONLY;
    if (pfile->headerWritten()) return AVIERR_UNSUPPORTED;  // streams come before the data
    if (psi->fccType != streamtypeVIDEO && psi->fccType != streamtypeAUDIO) {
        return AVIERR_UNSUPPORTED;
    }
    if (psi->fccType == streamtypeVIDEO && (psi->dwRate == 0 || psi->dwScale == 0)) {
        return AVIERR_BADPARAM;
    }
    AVStream* st = avformat_new_stream(pfile->context(), nullptr);
    if (!st) return AVIERR_MEMORY;
    if (psi->fccType == streamtypeVIDEO) {
        st->time_base = AVRational{static_cast<int>(psi->dwScale), static_cast<int>(psi->dwRate)};
        st->avg_frame_rate =
            AVRational{static_cast<int>(psi->dwRate), static_cast<int>(psi->dwScale)};
    }
    char name[sizeof(psi->szName) + 1] = {};
    std::memcpy(name, psi->szName, sizeof(psi->szName));
    if (name[0]) av_dict_set(&st->metadata, "title", name, 0);

    auto* stream = new (std::nothrow) AviStream(pfile, st->index);
    if (!stream) return AVIERR_MEMORY;
    stream->info = *psi;
    stream->info.dwLength = 0;
    *ppavi = stream;
    return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam) {
    if (!ppavi) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!pfile || !pfile->context()) return AVIERR_BADHANDLE;
    if (pfile->writing()) return AVIERR_UNSUPPORTED;
    AVFormatContext* ctx = pfile->context();
    LONG seen = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream* st = ctx->streams[i];
        const FOURCC type = fourccOfType(st->codecpar->codec_type);
        if (fccType != 0 && type != fccType) continue;
        if (seen++ != lParam) continue;
        auto* stream = new (std::nothrow) AviStream(pfile, static_cast<int>(i));
        if (!stream) return AVIERR_MEMORY;
        AVISTREAMINFO& si = stream->info;
        si.fccType = type;
        si.fccHandler = st->codecpar->codec_tag;
        si.dwScale = static_cast<DWORD>(st->time_base.num);
        si.dwRate = static_cast<DWORD>(st->time_base.den);
        si.dwLength =
            st->duration > 0 ? static_cast<DWORD>(st->duration) : static_cast<DWORD>(st->nb_frames);
        si.dwSampleSize = type == streamtypeAUDIO ? st->codecpar->block_align : 0;
        si.rcFrame = RECT{0, 0, st->codecpar->width, st->codecpar->height};
        if (auto* t = av_dict_get(st->metadata, "title", nullptr, 0)) {
            std::strncpy(si.szName, t->value, sizeof(si.szName) - 1);
        }
        stream->formatSet = true;
        *ppavi = stream;
        return AVIERR_OK;
    }
    return AVIERR_NODATA;
}

HRESULT AVIMakeCompressedStream(PAVISTREAM* ppsCompressed, PAVISTREAM psSource,
                                const AVICOMPRESSOPTIONS* lpOptions, const void*) {
    if (!ppsCompressed) return AVIERR_BADPARAM;
    *ppsCompressed = nullptr;
    if (!psSource) return AVIERR_BADHANDLE;
    if (!lpOptions) return AVIERR_BADPARAM;
    if (!psSource->file()->writing() || psSource->target) return AVIERR_UNSUPPORTED;
    if (psSource->info.fccType != streamtypeVIDEO) return AVIERR_UNSUPPORTED;
    if (lpOptions->lpFormat != 0 || lpOptions->lpParms != 0) return AVIERR_BADPARAM;

    // Compress mode open: the driver must be installed now.
    HIC hic = ICOpen(ICTYPE_VIDEO, lpOptions->fccHandler, ICMODE_COMPRESS);
    if (!hic) return AVIERR_NOCOMPRESSOR;
    std::shared_ptr<ICDriver> driver = driverOfHandle(hic);
    ICClose(hic);

    auto* stream = new (std::nothrow) AviStream(psSource->file(), psSource->index());
    if (!stream) return AVIERR_MEMORY;
    stream->info = psSource->info;
    stream->info.fccHandler = lpOptions->fccHandler;
    stream->target = psSource;
    psSource->addRef();
    stream->driver = std::move(driver);
    stream->options = *lpOptions;
    *ppsCompressed = stream;
    return AVIERR_OK;
}

namespace {

// Format of a raw (file) stream: uncompressed DIB frames or PCM.
HRESULT setRawFormat(AviStream* s, const void* lpFormat, LONG cbFormat) {
    AVStream* st = s->file()->context()->streams[s->index()];
    AVCodecParameters* par = st->codecpar;
    if (s->info.fccType == streamtypeAUDIO) {
        if (cbFormat < 16) return AVIERR_BADSIZE;
        WAVEFORMATEX wf{};
        std::memcpy(&wf, lpFormat, std::min<std::size_t>(cbFormat, sizeof(wf)));
        AVCodecID id = engine::PcmCodecOf({1, 1, wf.wBitsPerSample});
        if (wf.wFormatTag != WAVE_FORMAT_PCM || id == AV_CODEC_ID_NONE || wf.nChannels == 0 ||
            wf.nSamplesPerSec == 0) {
            return AVIERR_BADFORMAT;
        }
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = id;
        par->codec_tag = WAVE_FORMAT_PCM;
        par->sample_rate = static_cast<int>(wf.nSamplesPerSec);
        av_channel_layout_default(&par->ch_layout, wf.nChannels);
        par->bits_per_coded_sample = wf.wBitsPerSample;
        par->block_align = wf.nChannels * wf.wBitsPerSample / 8;
        par->bit_rate = static_cast<std::int64_t>(par->block_align) * wf.nSamplesPerSec * 8;
        st->time_base = AVRational{1, par->sample_rate};
        s->frameBytes = par->block_align;
        s->info.dwScale = par->block_align;
        s->info.dwRate = wf.nAvgBytesPerSec;
        s->info.dwSampleSize = par->block_align;
        return AVIERR_OK;
    }
    if (cbFormat < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) return AVIERR_BADSIZE;
    BITMAPINFOHEADER bi{};
    std::memcpy(&bi, lpFormat, sizeof(bi));
    const int bits = bi.biBitCount;
    if (bi.biCompression != BI_RGB || bi.biWidth <= 0 || bi.biHeight <= 0 ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return AVIERR_BADFORMAT;
    }
    const std::int64_t stride = ((static_cast<std::int64_t>(bi.biWidth) * bits + 31) / 32) * 4;
    if (stride * bi.biHeight > (1 << 30)) return AVIERR_BADSIZE;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0;  // BI_RGB
    par->width = bi.biWidth;
    par->height = bi.biHeight;
    par->bits_per_coded_sample = bits;
    par->format = bits == 32   ? AV_PIX_FMT_BGR0
                  : bits == 24 ? AV_PIX_FMT_BGR24
                  : bits == 16 ? AV_PIX_FMT_RGB555LE
                               : AV_PIX_FMT_PAL8;
    s->frameBytes = static_cast<int>(stride * bi.biHeight);
    if (bits == 8) {
        const int colors =
            bi.biClrUsed ? static_cast<int>(std::min<DWORD>(bi.biClrUsed, 256)) : 256;
        const auto* table = static_cast<const std::uint8_t*>(lpFormat) + bi.biSize;
        const LONG have = (cbFormat - static_cast<LONG>(bi.biSize)) / 4;
        s->palette.assign(256, 0xFF000000u);
        for (int i = 0; i < colors && i < have; ++i) {
            std::uint32_t q;
            std::memcpy(&q, table + 4 * i, 4);
            s->palette[i] = 0xFF000000u | (q & 0x00FFFFFFu);
        }
    }
    // DIB rows are bottom-up, as AVI stores BI_RGB frames.
    s->file()->addMuxerOptions("flipped_raw_rgb=1");
    return AVIERR_OK;
}

}  // namespace

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat) {
    if (!pavi) return AVIERR_BADHANDLE;
    if (!lpFormat || cbFormat <= 0) return AVIERR_BADPARAM;
    if (!pavi->file()->writing()) return AVIERR_READONLY;
    if (lPos != 0 || pavi->formatSet) return AVIERR_UNSUPPORTED;  // no format changes

    if (!pavi->target) {
        HRESULT hr = setRawFormat(pavi, lpFormat, cbFormat);
        if (hr == AVIERR_OK) pavi->formatSet = true;
        return hr;
    }

    AviStream* target = pavi->target;
    if (target->formatSet || target->nextIndex > 0) return AVIERR_UNSUPPORTED;
    if (cbFormat < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) return AVIERR_BADSIZE;
    const auto* bi = static_cast<const BITMAPINFOHEADER*>(lpFormat);
    if (pavi->driver->compressQuery(static_cast<const BITMAPINFO*>(lpFormat), nullptr) !=
        ICERR_OK) {
        return AVIERR_BADFORMAT;
    }
    ICCOMPRESSSETUP setup;
    setup.input = bi;
    if (bi->biBitCount <= 8 && cbFormat > static_cast<LONG>(bi->biSize)) {
        setup.colors = reinterpret_cast<const RGBQUAD*>(static_cast<const std::uint8_t*>(lpFormat) +
                                                        bi->biSize);
        setup.colorCount = (cbFormat - static_cast<LONG>(bi->biSize)) / 4;
    }
    const AVICOMPRESSOPTIONS& o = pavi->options;
    setup.quality = std::min<DWORD>(o.dwQuality, 10000);
    setup.keyFrameEvery = (o.dwFlags & AVICOMPRESSF_KEYFRAMES) ? o.dwKeyFrameEvery : 0;
    setup.rate = pavi->info.dwRate;
    setup.scale = pavi->info.dwScale;
    HRESULT err = AVIERR_COMPRESSOR;
    pavi->compressor = pavi->driver->openCompressor(setup, &err);
    if (!pavi->compressor) return err == AVIERR_OK ? AVIERR_COMPRESSOR : err;

    AVStream* st = target->file()->context()->streams[target->index()];
    if (!pavi->compressor->describe(st->codecpar)) {
        pavi->compressor.reset();
        return AVIERR_COMPRESSOR;
    }
    target->file()->addMuxerOptions(pavi->compressor->muxerOptions());
    if (st->codecpar->codec_id == AV_CODEC_ID_RAWVIDEO && bi->biBitCount == 8) {
        // Full 8-bit frames carry their colour table into the file.
        target->palette.assign(256, 0xFF000000u);
        for (int i = 0; i < setup.colorCount && i < 256; ++i) {
            const RGBQUAD& q = setup.colors[i];
            target->palette[i] = 0xFF000000u | static_cast<std::uint32_t>(q.rgbRed) << 16 |
                                 static_cast<std::uint32_t>(q.rgbGreen) << 8 | q.rgbBlue;
        }
    }
    target->formatSet = true;
    target->frameBytes = static_cast<int>(bi->biSizeImage);
    pavi->formatSet = true;
    pavi->frameBytes = target->frameBytes;
    return AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer,
                       LONG cbBuffer, [[maybe_unused]] DWORD dwFlags, LONG* plSampWritten,
                       LONG* plBytesWritten) {
    if (plSampWritten) *plSampWritten = 0;
    if (plBytesWritten) *plBytesWritten = 0;
    if (!pavi) return AVIERR_BADHANDLE;
    if (!pavi->file()->writing()) return AVIERR_READONLY;
    if (!pavi->formatSet) return AVIERR_BADFORMAT;
    if (!lpBuffer || cbBuffer <= 0 || lSamples <= 0) return AVIERR_BADPARAM;

    AviStream* out = pavi->target ? pavi->target : pavi;
    const bool video = pavi->info.fccType == streamtypeVIDEO;
    std::int64_t start = lStart < 0 ? out->nextIndex : lStart;
    if (video && lSamples != 1) return AVIERR_BADPARAM;
    if (start < out->nextIndex) return AVIERR_BADPARAM;
    if (video && cbBuffer < pavi->frameBytes) return AVIERR_BUFFERTOOSMALL;
    if (!video && cbBuffer < lSamples * pavi->frameBytes) return AVIERR_BUFFERTOOSMALL;

    AVPacket* pkt = av_packet_alloc();
    if (!pkt) return AVIERR_MEMORY;
    HRESULT hr = AVIERR_OK;
    if (pavi->compressor) {
        hr = pavi->compressor->compress(lpBuffer, static_cast<std::size_t>(cbBuffer), pkt);
    } else {
        const int bytes = video ? pavi->frameBytes : lSamples * pavi->frameBytes;
        if (av_new_packet(pkt, bytes) < 0) {
            hr = AVIERR_MEMORY;
        } else {
            std::memcpy(pkt->data, lpBuffer, static_cast<std::size_t>(bytes));
            pkt->flags |= AV_PKT_FLAG_KEY;  // an uncompressed frame always stands alone
            if (!video) pkt->duration = lSamples;
        }
    }
    if (hr == AVIERR_OK) hr = out->writePacket(pkt, start);
    const int bytes = pkt->size;
    av_packet_free(&pkt);
    if (hr != AVIERR_OK) return hr;
    out->info.dwLength = static_cast<DWORD>(out->nextIndex);
    if (pavi != out) pavi->info.dwLength = out->info.dwLength;
    if (plSampWritten) *plSampWritten = lSamples;
    if (plBytesWritten) *plBytesWritten = bytes;
    return AVIERR_OK;
}

HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFO* psi, LONG lSize) {
    if (!pavi) return AVIERR_BADHANDLE;
    if (!psi || lSize < 0) return AVIERR_BADPARAM;
    std::memcpy(psi, &pavi->info, std::min<std::size_t>(lSize, sizeof(AVISTREAMINFO)));
    return AVIERR_OK;
}

HRESULT AVISaveOptionsFree(int nStreams, AVICOMPRESSOPTIONS** plpOptions) {
    if (nStreams < 0 || (nStreams > 0 && !plpOptions)) return AVIERR_BADPARAM;
    return AVIERR_OK;
}

}  // namespace velmora::vfw
