// AVISaveV and SaveMediaFile: the streams of opened files copied into a new
// AVI, MP4 or Matroska file, interleaved by time; the sound encoded on the
// way when asked.

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/vfw/AviObjects.h"
#include "engine/vfw/CodecDrivers.h"
#include "engine/vfw/FileOutput.h"
#include "engine/vfw/SoundEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace velmora::vfw {

namespace {

// Gives a finished file its name, never replacing one there; 0 or the errno.
int NameWithoutReplacing(const std::string& from, const char* to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link refuses to replace too.
    if (::link(from.c_str(), to) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

struct Source {
    AVFormatContext* in = nullptr;
    AVStream* ist = nullptr;
    AVStream* ost = nullptr;
    AVPacket* next = nullptr;  // the packet to write next, or empty
    AVRational timeBase{};     // of next: the source's, or the encoder's
    std::unique_ptr<SoundEncoder> encoder;
    AVPacket* raw = nullptr;      // the source's packet on its way into the encoder
    std::int64_t delayShift = 0;  // added to the encoder's times, in its time base
    bool eof = false;             // the source is read to its end
    bool done = false;            // and the encoder has given its last packet
    bool started = false;
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
        finish();
        for (auto& s : sources_) {
            av_packet_free(&s.next);
            av_packet_free(&s.raw);
            avformat_close_input(&s.in);
        }
    }

    // Writes the index and closes the file, also after an abort: what was
    // copied stays readable. AVIERR_FILEWRITE when that fails.
    HRESULT finish() {
        if (!out_) return AVIERR_OK;
        bool failed = false;
        if (headerWritten_) failed = av_write_trailer(out_) < 0;
        if (out_->pb) failed = out_->pb->error < 0 || failed;
        const int error = file_ ? file_->close() : 0;
        failed = failed || error != 0;
        out_->pb = nullptr;
        file_.reset();
        avformat_free_context(out_);
        out_ = nullptr;
        if (failed) setLastSystemError(error ? error : EIO);
        return failed && headerWritten_ ? AVIERR_FILEWRITE : AVIERR_OK;
    }

    explicit Save(const MediaFileFormat& format) : format_(format) {}

    HRESULT run(const char* file, AVISAVECALLBACK callback, int n, PAVISTREAM* streams) {
        // Video first, otherwise in the caller's order.
        std::vector<PAVISTREAM> ordered;
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < n; ++i) {
                const bool video = streams[i]->info.fccType == streamtypeVIDEO;
                if (video == (pass == 0)) ordered.push_back(streams[i]);
            }
        }
        HRESULT hr = openSources(ordered);
        if (hr != AVIERR_OK) return hr;
        part_ = std::string(file) + ".part";
        hr = openOutput(file);
        if (hr == AVIERR_OK) hr = copy(callback);
        const HRESULT closed = finish();
        if (hr == AVIERR_OK) hr = closed;
        // A failed copy leaves nothing; a finished or aborted one (readable
        // up to where it stopped) takes its name.
        if ((hr == AVIERR_OK || hr == AVIERR_USERABORT) && created_) {
            if (const int error = NameWithoutReplacing(part_, file)) {
                setLastSystemError(error);
                hr = AVIERR_FILEOPEN;
            }
        }
        if (hr != AVIERR_OK && hr != AVIERR_USERABORT && created_) ::unlink(part_.c_str());
        // Only once the file carries its name is the save complete.
        if (hr == AVIERR_OK && callback) callback(100);
        return hr;
    }

  private:
    HRESULT openSources(const std::vector<PAVISTREAM>& streams) {
        for (PAVISTREAM s : streams) {
            Source src;
            // Each stream reads its own file: two streams of one file then
            // never disturb each other's position.
            int e = avformat_open_input(&src.in, s->file()->path().c_str(), nullptr, nullptr);
            if (e < 0) {
                src.in = nullptr;
                return AVIERR_FILEREAD;
            }
            src.next = av_packet_alloc();
            const bool inRange = static_cast<unsigned>(s->index()) < src.in->nb_streams;
            Source& added = sources_.emplace_back(std::move(src));
            if (!added.next) return AVIERR_MEMORY;
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

    bool avi() const { return std::strcmp(format_.container, "avi") == 0; }

    // The sound of s goes through an encoder: its packets come from there.
    HRESULT openEncoder(Source& s) {
        s.encoder = std::make_unique<SoundEncoder>();
        s.raw = av_packet_alloc();
        if (!s.raw) return AVIERR_MEMORY;
        const bool globalHeader = out_->oformat->flags & AVFMT_GLOBALHEADER;
        const int e = s.encoder->open(s.ist->codecpar, format_.soundEncoder, format_.soundBitRate,
                                      globalHeader);
        if (e == AVERROR_ENCODER_NOT_FOUND) return AVIERR_NOCOMPRESSOR;
        if (e == AVERROR(ENOMEM)) return AVIERR_MEMORY;
        if (e < 0 || s.encoder->describe(s.ost->codecpar) < 0) return AVIERR_COMPRESSOR;
        s.timeBase = AVRational{s.encoder->timeBaseNum(), s.encoder->timeBaseDen()};
        s.ost->time_base = s.timeBase;
        // The encoder's first packet starts before the first sample by its
        // delay. Matroska holds an Opus delay in its header (CodecDelay) and
        // counts it off every block's time: there the packets are written
        // from 0, so the sound's first sample lands on the picture's first
        // frame, not the whole file a delay later.
        if (std::strcmp(format_.container, "matroska") == 0 &&
            s.ost->codecpar->codec_id == AV_CODEC_ID_OPUS) {
            s.delayShift = s.ost->codecpar->initial_padding;
        }
        return AVIERR_OK;
    }

    // A sound stream keeps its name (several sound tracks of one recording
    // are told apart by it) as the container keeps one: the title (AVI's
    // strn, Matroska's track name), and the handler's name, MP4's name of a
    // track. The picture keeps the title it had.
    static void nameStream(Source& s) {
        if (s.name.empty() || s.ist->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) return;
        av_dict_set(&s.ost->metadata, "title", s.name.c_str(), 0);
        av_dict_set(&s.ost->metadata, "handler_name", s.name.c_str(), 0);
    }

    HRESULT openOutput(const char* file) {
        const int allocated =
            avformat_alloc_output_context2(&out_, nullptr, format_.container, part_.c_str());
        if (allocated == AVERROR(ENOMEM)) return AVIERR_MEMORY;
        if (allocated < 0 || !out_) return AVIERR_BADPARAM;
        bool flipped = false;
        for (auto& s : sources_) {
            s.ost = avformat_new_stream(out_, nullptr);
            if (!s.ost) return AVIERR_MEMORY;
            AVCodecParameters* par = s.ost->codecpar;
            const bool video = s.ist->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            if (!video && format_.soundEncoder) {
                if (const HRESULT hr = openEncoder(s); hr != AVIERR_OK) return hr;
                av_dict_copy(&s.ost->metadata, s.ist->metadata, 0);
                nameStream(s);
                continue;
            }
            if (avcodec_parameters_copy(par, s.ist->codecpar) < 0) return AVIERR_MEMORY;
            // Keep the fourcc when AVI knows it for this codec.
            const unsigned tag = par->codec_tag;
            unsigned known = 0;
            if (tag && av_codec_get_id(out_->oformat->codec_tag, tag) != par->codec_id &&
                av_codec_get_tag2(out_->oformat->codec_tag, par->codec_id, &known)) {
                par->codec_tag = 0;
            }
            if (!avi()) {
                // Other containers name the codec their own way.
                par->codec_tag = 0;
                if (video) {
                    DescribeColours(par);
                    HRESULT hr = AVIERR_OK;
                    const bool setupInFrames =
                        par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_MPEG4;
                    if (setupInFrames && par->extradata_size == 0 && fill(s, hr))
                        TakeExtradataFrom(s.next, par);
                    if (hr != AVIERR_OK) return hr;
                }
            }
            if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0 &&
                par->extradata_size >= 9 &&
                std::memcmp(par->extradata + par->extradata_size - 9, "BottomUp", 9) == 0) {
                // The reader's row-order marker: the rows stay bottom-up in
                // AVI; other containers keep full frames top-down.
                par->extradata_size -= 9;
                if (par->extradata_size == 0) av_freep(&par->extradata);
                flipped = true;
                if (!avi()) {
                    s.rowBytes = (par->width * par->bits_per_coded_sample + 31) / 32 * 4;
                    s.rows = par->height;
                }
            }
            s.ost->time_base = s.ist->time_base;
            s.ost->avg_frame_rate = s.ist->avg_frame_rate;
            s.ost->r_frame_rate = s.ist->r_frame_rate;
            av_dict_copy(&s.ost->metadata, s.ist->metadata, 0);
            nameStream(s);
        }
        if (::access(file, F_OK) == 0) {
            setLastSystemError(EEXIST);
            return AVIERR_FILEOPEN;
        }
        file_ = std::make_unique<FileOutput>();
        if (const int error = file_->create(part_)) {
            file_.reset();
            setLastSystemError(error);
            return error == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
        }
        created_ = true;
        out_->pb = file_->context();
        out_->flags |= AVFMT_FLAG_CUSTOM_IO;
        int e = 0;
        AVDictionary* opts = nullptr;
        if (flipped && avi()) av_dict_set(&opts, "flipped_raw_rgb", "1", 0);
        // Matroska keeps full frames as Video for Windows does, header and all.
        if (std::strcmp(format_.container, "matroska") == 0)
            av_dict_set(&opts, "allow_raw_vfw", "1", 0);
        // Fragmented, as GNOME's recorder and Kooha write it: the header a
        // browser needs comes first without a second pass over the file at
        // the end, and what an abort leaves plays up to its last fragment.
        if (std::strcmp(format_.container, "mp4") == 0) {
            av_dict_set(&opts, "movflags", "+delay_moov+default_base_moof+frag_keyframe", 0);
            av_dict_set(&opts, "frag_duration", "1000000", 0);
        }
        e = avformat_write_header(out_, &opts);
        av_dict_free(&opts);
        if (e < 0) {
            if (!file_->error() &&
                (e == AVERROR(EINVAL) || e == AVERROR_EXPERIMENTAL || e == AVERROR_PATCHWELCOME)) {
                return AVIERR_UNSUPPORTED;  // a stream the container cannot take
            }
            setLastSystemError(file_->error() ? file_->error() : systemErrorOf(e));
            return aviErrorFromWrite(e);
        }
        headerWritten_ = true;
        return AVIERR_OK;
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
        while (!s.next->data && !s.done) {
            const int e = s.encoder->receive(s.next);
            if (e == 0) break;
            if (e != AVERROR(EAGAIN)) {
                // The end, or an encoder that failed: no more sound.
                s.done = true;
                if (e != AVERROR_EOF) hr = AVIERR_COMPRESSOR;
                break;
            }
            const bool more = read(s, s.raw, hr);
            if (hr != AVIERR_OK) return false;
            const int sent = s.encoder->send(more ? s.raw : nullptr);
            av_packet_unref(s.raw);
            if (sent < 0) {
                s.done = true;
                hr = AVIERR_COMPRESSOR;
            }
        }
        return s.next->data != nullptr;
    }

    HRESULT copy(AVISAVECALLBACK callback) {
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

    HRESULT write(Source& s) {
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
            empty->stream_index = s.ost->index;
            empty->pts = empty->dts = 0;
            empty->duration = 1;
            av_packet_rescale_ts(empty, s.ist->time_base, s.ost->time_base);
            int e = av_interleaved_write_frame(out_, empty);
            av_packet_free(&empty);
            if (e < 0) return aviErrorFromWrite(e);
        }
        s.started = true;
        pkt->stream_index = s.ost->index;
        pkt->pos = -1;
        if (s.rowBytes > 0 && pkt->size >= s.rowBytes * s.rows) {
            if (av_packet_make_writable(pkt) < 0) return AVIERR_MEMORY;
            FlipRows(pkt->data, s.rowBytes, s.rows);
        }
        if (s.delayShift) {
            pkt->pts += s.delayShift;
            pkt->dts += s.delayShift;
        }
        av_packet_rescale_ts(pkt, s.timeBase, s.ost->time_base);
        int e = av_interleaved_write_frame(out_, pkt);  // takes the packet's data
        av_packet_unref(pkt);
        if (e < 0 || out_->pb->error < 0) {
            setLastSystemError(file_->error() ? file_->error()
                                              : systemErrorOf(e < 0 ? e : out_->pb->error));
            return e < 0 ? aviErrorFromWrite(e) : AVIERR_FILEWRITE;
        }
        return AVIERR_OK;
    }

    const MediaFileFormat format_;
    std::vector<Source> sources_;
    std::unique_ptr<FileOutput> file_;
    std::string part_;
    bool created_ = false;
    AVFormatContext* out_ = nullptr;
    bool headerWritten_ = false;
};

}  // namespace

HRESULT AVISaveV(const char* szFile, const void*, AVISAVECALLBACK lpfnCallback, int nStreams,
                 PAVISTREAM* ppavi,
                 AVICOMPRESSOPTIONS** /*plpOptions: streams are always copied*/) {
    return SaveMediaFile(szFile, MediaFileFormat{}, lpfnCallback, nStreams, ppavi);
}

HRESULT SaveMediaFile(const char* szFile, const MediaFileFormat& format,
                      AVISAVECALLBACK lpfnCallback, int nStreams, PAVISTREAM* ppavi) {
    if (!szFile || !*szFile || nStreams <= 0 || !ppavi || !format.container) return AVIERR_BADPARAM;
    for (int i = 0; i < nStreams; ++i) {
        if (!ppavi[i]) return AVIERR_BADHANDLE;
        if (ppavi[i]->file()->writing())
            return AVIERR_UNSUPPORTED;  // sources must be finished files
    }
    Save save(format);
    return save.run(szFile, lpfnCallback, nStreams, ppavi);
}

}  // namespace velmora::vfw
