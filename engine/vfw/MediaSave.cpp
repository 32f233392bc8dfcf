// AVISaveV and SaveMediaFile: the streams of opened files copied into a new
// AVI, MP4 or Matroska file through the recording's muxer, interleaved by
// time; the sound encoded on the way when asked.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/encode/SoundEncoder.h"
#include "engine/encode/SoundPlacement.h"
#include "engine/mux/Muxer.h"
#include "engine/vfw/AviObjects.h"
#include "engine/vfw/CodecDrivers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace velmora::vfw {

namespace {

struct Source {
    AVFormatContext* in = nullptr;
    AVStream* ist = nullptr;
    AVCodecParameters* par = nullptr;  // what the new file's stream holds
    AVPacket* next = nullptr;          // the packet to write next, or empty
    AVRational timeBase{};             // of next: the source's, or the encoder's
    std::unique_ptr<engine::SoundEncoder> encoder;
    engine::SoundPlacing placing;  // where its sound lies on the picture's timeline
    std::unique_ptr<engine::SoundPlacement> placement;
    std::vector<std::uint8_t> placed;  // what the placement made of the last packet
    AVPacket* raw = nullptr;           // the source's packet on its way into the encoder
    bool eof = false;         // the source is read to its end
    bool done = false;        // and the encoder has given its last packet
    bool started = false;
    bool bottomUp = false;       // raw rows kept bottom-up (AVI)
    int rowBytes = 0, rows = 0;  // bottom-up full frames to turn the right way up
    std::string name;            // the stream's name (szName), for the new file's stream
};

// Turns a bottom-up frame's rows top-down in place.
void FlipRows(std::uint8_t* bits, int rowBytes, int rows) {
    std::vector<std::uint8_t> spare(static_cast<std::size_t>(rowBytes));
    for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::uint8_t* a = bits + static_cast<std::ptrdiff_t>(top) * rowBytes;
        std::uint8_t* b = bits + static_cast<std::ptrdiff_t>(bottom) * rowBytes;
        std::memcpy(spare.data(), a, spare.size());
        std::memcpy(a, b, spare.size());
        std::memcpy(b, spare.data(), spare.size());
    }
}

// The codec setup (H.264 SPS/PPS, an MPEG-4 VOL) from a key frame, for a
// container that wants it in its header where AVI has it in the frames.
void TakeExtradataFrom(const AVPacket* frame, AVCodecParameters* par) {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("extract_extradata");
    AVBSFContext* bsf = nullptr;
    if (!filter || av_bsf_alloc(filter, &bsf) < 0) return;
    AVPacket* probe = av_packet_clone(frame);
    std::size_t size = 0;
    if (probe && avcodec_parameters_copy(bsf->par_in, par) >= 0 && av_bsf_init(bsf) >= 0 &&
        av_bsf_send_packet(bsf, probe) >= 0 && av_bsf_receive_packet(bsf, probe) >= 0) {
        const std::uint8_t* data = av_packet_get_side_data(probe, AV_PKT_DATA_NEW_EXTRADATA, &size);
        auto* copy =
            data ? static_cast<std::uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE))
                 : nullptr;
        if (copy) {
            std::memcpy(copy, data, size);
            av_freep(&par->extradata);
            par->extradata = copy;
            par->extradata_size = static_cast<int>(size);
        }
    }
    av_packet_free(&probe);
    av_bsf_free(&bsf);
}

class Save {
  public:
    ~Save() {
        if (muxer_) {
            muxer_->Abandon();
            ::unlink(muxer_->PartPath().c_str());
        }
        for (auto& s : sources_) {
            av_packet_free(&s.next);
            av_packet_free(&s.raw);
            avcodec_parameters_free(&s.par);
            avformat_close_input(&s.in);
        }
    }

    explicit Save(const MediaFileFormat& format) : format_(format) {}

    HRESULT run(const char* file, const SaveProgress& callback, int n, PAVISTREAM* streams,
                const engine::SoundPlacing* placing) {
        // Video first, otherwise in the caller's order.
        std::vector<PAVISTREAM> ordered;
        std::vector<engine::SoundPlacing> placings;
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < n; ++i) {
                const bool video = streams[i]->info.fccType == streamtypeVIDEO;
                if (video != (pass == 0)) continue;
                ordered.push_back(streams[i]);
                placings.push_back(placing && !video ? placing[i] : engine::SoundPlacing{});
            }
        }
        HRESULT hr = openSources(ordered, placings);
        if (hr != AVIERR_OK) return hr;
        hr = openOutput(file);
        if (hr == AVIERR_OK) hr = copy(callback);
        if (!muxer_) return hr;
        // A failed copy leaves nothing; a finished or aborted one (readable
        // up to where it stopped) takes its name.
        if (hr != AVIERR_OK && hr != AVIERR_USERABORT) {
            muxer_->Abandon();
            ::unlink(muxer_->PartPath().c_str());
            muxer_.reset();
            return hr;
        }
        if (!muxer_->Finish()) {
            const int error = muxer_->SystemError();
            setLastSystemError(error);
            if (error != EEXIST) ::unlink(muxer_->PartPath().c_str());
            muxer_.reset();
            return error == EEXIST ? AVIERR_FILEOPEN : AVIERR_FILEWRITE;
        }
        muxer_.reset();
        // Only once the file carries its name is the save complete.
        if (hr == AVIERR_OK && callback) callback(100);
        return hr;
    }

  private:
    HRESULT openSources(const std::vector<PAVISTREAM>& streams,
                        const std::vector<engine::SoundPlacing>& placings) {
        for (std::size_t i = 0; i < streams.size(); ++i) {
            PAVISTREAM s = streams[i];
            Source src;
            src.placing = placings[i];
            // Each stream reads its own file: two streams of one file then
            // never disturb each other's position.
            int e = avformat_open_input(&src.in, s->file()->readName().c_str(), nullptr, nullptr);
            if (e < 0) {
                src.in = nullptr;
                return AVIERR_FILEREAD;
            }
            src.next = av_packet_alloc();
            src.par = avcodec_parameters_alloc();
            const bool inRange = static_cast<unsigned>(s->index()) < src.in->nb_streams;
            Source& added = sources_.emplace_back(std::move(src));
            if (!added.next || !added.par) return AVIERR_MEMORY;
            if (!inRange) return AVIERR_BADHANDLE;
            for (unsigned i = 0; i < added.in->nb_streams; ++i) {
                added.in->streams[i]->discard =
                    static_cast<int>(i) == s->index() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
            }
            added.ist = added.in->streams[s->index()];
            added.name.assign(s->info.szName, strnlen(s->info.szName, sizeof s->info.szName));
            added.timeBase = added.ist->time_base;
        }
        return AVIERR_OK;
    }

    bool avi() const { return format_.container == OutputFormat::Avi; }

    // The sound of s goes through its placement and an encoder (PCM: a
    // passage): its packets come from there.
    HRESULT openEncoder(Source& s) {
        const AVCodecParameters* in = s.ist->codecpar;
        engine::PcmFormat pcm;
        pcm.samplesPerSecond = in->sample_rate;
        pcm.channels = in->ch_layout.nb_channels;
        pcm.bitsPerSample = in->bits_per_coded_sample;
        pcm.floating =
            in->codec_id == AV_CODEC_ID_PCM_F32LE || in->codec_id == AV_CODEC_ID_PCM_F64LE;
        std::string error;
        bool missing = false;
        s.encoder = engine::SoundEncoder::Open(format_.sound, pcm, !avi(), error, &missing);
        s.raw = av_packet_alloc();
        if (!s.raw) return AVIERR_MEMORY;
        if (!s.encoder) return missing ? AVIERR_NOCOMPRESSOR : AVIERR_COMPRESSOR;
        const bool unsigned8 = pcm.bitsPerSample == 8 && !pcm.floating;
        s.placement = std::make_unique<engine::SoundPlacement>(
            s.placing, pcm.samplesPerSecond, pcm.BytesPerFrame(), unsigned8 ? 0x80 : 0);
        s.timeBase = s.encoder->TimeBase();
        return avcodec_parameters_copy(s.par, s.encoder->Parameters()) < 0 ? AVIERR_MEMORY
                                                                           : AVIERR_OK;
    }

    // The new file's stream of a copied video or sound stream.
    HRESULT describeCopy(Source& s) {
        AVCodecParameters* par = s.par;
        if (avcodec_parameters_copy(par, s.ist->codecpar) < 0) return AVIERR_MEMORY;
        const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO;
        if (video && !avi()) {
            DescribeColours(par);
            HRESULT hr = AVIERR_OK;
            const bool setupInFrames =
                par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_MPEG4;
            if (setupInFrames && par->extradata_size == 0 && fill(s, hr))
                TakeExtradataFrom(s.next, par);
            if (hr != AVIERR_OK) return hr;
        }
        if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0 &&
            par->extradata_size >= 9 &&
            std::memcmp(par->extradata + par->extradata_size - 9, "BottomUp", 9) == 0) {
            // The reader's row-order marker: the rows stay bottom-up in
            // AVI; other containers keep full frames top-down.
            par->extradata_size -= 9;
            if (par->extradata_size == 0) av_freep(&par->extradata);
            s.bottomUp = avi();
            if (!avi()) {
                s.rowBytes = (par->width * par->bits_per_coded_sample + 31) / 32 * 4;
                s.rows = par->height;
            }
        }
        return AVIERR_OK;
    }

    HRESULT openOutput(const char* file) {
        std::vector<engine::MuxerStream> streams;
        for (auto& s : sources_) {
            const bool video = s.ist->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            // Sound that is no plain PCM (read from another program's file)
            // is copied as it is.
            const AVCodecParameters* in = s.ist->codecpar;
            const bool floating =
                in->codec_id == AV_CODEC_ID_PCM_F32LE || in->codec_id == AV_CODEC_ID_PCM_F64LE;
            const bool pcm =
                in->codec_id != AV_CODEC_ID_NONE &&
                in->codec_id == engine::PcmCodecOf({1, 1, in->bits_per_coded_sample, floating});
            const bool encode = !video && (pcm || format_.sound != SoundCodec::Pcm);
            if (const HRESULT hr = encode ? openEncoder(s) : describeCopy(s); hr != AVIERR_OK)
                return hr;
            engine::MuxerStream stream;
            stream.parameters = s.par;
            stream.timeBase = s.timeBase;
            stream.frameRate = video ? s.ist->avg_frame_rate : AVRational{};
            stream.delay = s.encoder ? s.encoder->Delay() : 0;
            // A sound stream keeps its name: several sound tracks of one
            // recording are told apart by it.
            if (!video) stream.title = s.name;
            stream.bottomUp = s.bottomUp;
            streams.push_back(stream);
        }
        if (::access(file, F_OK) == 0) {
            setLastSystemError(EEXIST);
            return AVIERR_FILEOPEN;
        }
        engine::MuxerFault fault;
        muxer_ = engine::Muxer::Create(file, format_.container, streams, fault);
        if (muxer_) return AVIERR_OK;
        setLastSystemError(fault.systemError);
        switch (fault.kind) {
            case engine::MuxerFault::Streams:
                return AVIERR_UNSUPPORTED;  // a stream the container cannot take
            case engine::MuxerFault::Create:
                return fault.systemError == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
            default:
                return fault.systemError == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEWRITE;
        }
    }

    double seconds(const Source& s, std::int64_t ts) const {
        return ts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(ts) * av_q2d(s.timeBase);
    }

    double totalSeconds() const {
        double total = 0;
        for (auto& s : sources_) {
            double d = s.ist->duration > 0
                           ? static_cast<double>(s.ist->duration) * av_q2d(s.ist->time_base)
                           : 0.0;
            if (d <= 0 && s.in->duration > 0) d = s.in->duration / double(AV_TIME_BASE);
            total = std::max(total, d);
        }
        return total;
    }

    // Reads the next non-empty packet of s's source into pkt; false at the end.
    bool read(Source& s, AVPacket* pkt, HRESULT& hr) {
        while (!s.eof && !pkt->data) {
            av_packet_unref(pkt);
            int e = av_read_frame(s.in, pkt);
            if (e == AVERROR_EOF) {
                s.eof = true;
            } else if (e < 0) {
                s.eof = true;
                setLastSystemError(systemErrorOf(e));
                hr = AVIERR_FILEREAD;
            } else if ((pkt->flags & AV_PKT_FLAG_CORRUPT) && pkt->stream_index == s.ist->index) {
                // The chunk a killed recording was writing: cut short, so
                // it ends the stream instead of a frame that cannot decode.
                av_packet_unref(pkt);
                s.eof = true;
            } else if (pkt->size == 0 || pkt->stream_index != s.ist->index) {
                av_packet_unref(pkt);  // empty slots come back from the timestamps
            }
        }
        return pkt->data != nullptr;
    }

    // Makes s.next the next packet to write; false at the end.
    bool fill(Source& s, HRESULT& hr) {
        if (!s.encoder) return s.next->data || read(s, s.next, hr);
        const AVCodecParameters* in = s.ist->codecpar;
        const int frameBytes = std::max(in->ch_layout.nb_channels * in->bits_per_coded_sample / 8, 1);
        while (!s.next->data && !s.done) {
            const int e = s.encoder->Receive(s.next);
            if (e == 0) break;
            if (e != AVERROR(EAGAIN)) {
                // The end, or an encoder that failed: no more sound.
                s.done = true;
                if (e != AVERROR_EOF) hr = AVIERR_COMPRESSOR;
                break;
            }
            const bool more = read(s, s.raw, hr);
            if (hr != AVIERR_OK) return false;
            s.placed.clear();
            if (more)
                s.placement->Push(s.raw->data, s.raw->size / frameBytes, s.placed);
            else
                s.placement->Finish(s.placed);
            av_packet_unref(s.raw);
            int sent = s.placed.empty() ? 0
                                        : s.encoder->Send(s.placed.data(),
                                                          static_cast<std::int64_t>(s.placed.size()) /
                                                              frameBytes);
            if (!more && sent >= 0) sent = s.encoder->Finish();
            if (sent < 0) {
                s.done = true;
                hr = AVIERR_COMPRESSOR;
            }
        }
        return s.next->data != nullptr;
    }

    HRESULT copy(const SaveProgress& callback) {
        using Clock = std::chrono::steady_clock;
        const double total = totalSeconds();
        int lastPercent = 0;
        auto lastCall = Clock::now();
        if (callback && callback(0) != 0) return AVIERR_USERABORT;

        for (;;) {
            HRESULT hr = AVIERR_OK;
            Source* pick = nullptr;
            double pickAt = 0;
            for (auto& s : sources_) {
                if (!fill(s, hr)) continue;
                const std::int64_t ts = s.next->dts != AV_NOPTS_VALUE ? s.next->dts : s.next->pts;
                const double at = seconds(s, ts);
                if (!pick || at < pickAt) {
                    pick = &s;
                    pickAt = at;
                }
            }
            if (hr != AVIERR_OK) return hr;
            if (!pick) break;

            HRESULT w = write(*pick);
            if (w != AVIERR_OK) return w;

            if (callback) {
                const int percent =
                    total > 0 ? std::clamp(static_cast<int>(pickAt * 100 / total), 0, 99) : 0;
                const auto now = Clock::now();
                if (percent == lastPercent && now - lastCall >= std::chrono::milliseconds(100)) {
                    lastCall = now;
                    if (callback(percent) != 0) return AVIERR_USERABORT;
                }
                // Every percent is reported, also when one packet spans several.
                while (lastPercent < percent) {
                    lastCall = now;
                    if (callback(++lastPercent) != 0) return AVIERR_USERABORT;
                }
            }
        }
        return AVIERR_OK;
    }

    HRESULT fail(int averror) {
        setLastSystemError(muxer_->SystemError() ? muxer_->SystemError() : systemErrorOf(averror));
        return aviErrorFromWrite(averror);
    }

    HRESULT write(Source& s) {
        const int index = static_cast<int>(&s - sources_.data());
        AVPacket* pkt = s.next;
        const bool video = s.ist->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        if (pkt->dts == AV_NOPTS_VALUE) pkt->dts = pkt->pts;
        if (video) {
            // No encoder of ours reorders frames: each is shown when decoded,
            // for one frame's time unless the next comes later.
            if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
            if (pkt->duration <= 0) pkt->duration = 1;
        }
        if (video && !s.started && pkt->dts > 0 && avi()) {
            // The muxer fills gaps only after a first chunk; keep the leading one.
            AVPacket* empty = av_packet_alloc();
            if (!empty) return AVIERR_MEMORY;
            empty->pts = empty->dts = 0;
            empty->duration = 1;
            const int e = muxer_->Write(index, empty);
            av_packet_free(&empty);
            if (e < 0) return fail(e);
        }
        s.started = true;
        if (s.rowBytes > 0 && pkt->size >= s.rowBytes * s.rows) {
            if (av_packet_make_writable(pkt) < 0) return AVIERR_MEMORY;
            FlipRows(pkt->data, s.rowBytes, s.rows);
        }
        const int e = muxer_->Write(index, pkt);  // takes the packet's data
        return e < 0 ? fail(e) : AVIERR_OK;
    }

    const MediaFileFormat format_;
    std::vector<Source> sources_;
    std::unique_ptr<engine::Muxer> muxer_;
};

}  // namespace

HRESULT AVISaveV(const char* szFile, const void*, AVISAVECALLBACK lpfnCallback, int nStreams,
                 PAVISTREAM* ppavi,
                 AVICOMPRESSOPTIONS** /*plpOptions: streams are always copied*/) {
    return SaveMediaFile(szFile, MediaFileFormat{},
                         lpfnCallback ? SaveProgress(lpfnCallback) : SaveProgress(), nStreams,
                         ppavi);
}

HRESULT SaveMediaFile(const char* szFile, const MediaFileFormat& format,
                      const SaveProgress& progress, int nStreams, PAVISTREAM* ppavi,
                      const engine::SoundPlacing* placing) {
    if (!szFile || !*szFile || nStreams <= 0 || !ppavi) return AVIERR_BADPARAM;
    for (int i = 0; i < nStreams; ++i) {
        if (!ppavi[i]) return AVIERR_BADHANDLE;
        if (ppavi[i]->file()->writing())
            return AVIERR_UNSUPPORTED;  // sources must be finished files
    }
    Save save(format);
    return save.run(szFile, progress, nStreams, ppavi, placing);
}

}  // namespace velmora::vfw
