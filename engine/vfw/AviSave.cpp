// AVISaveV: the streams of opened files copied (not recompressed) into a
// new AVI, interleaved by time.

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
#include "engine/vfw/FileOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
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
    bool eof = false;
    bool started = false;
};

class Save {
  public:
    ~Save() {
        finish();
        for (auto& s : sources_) {
            av_packet_free(&s.next);
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
            sources_.push_back(src);
            if (!sources_.back().next) return AVIERR_MEMORY;
            if (!inRange) return AVIERR_BADHANDLE;
            for (unsigned i = 0; i < src.in->nb_streams; ++i) {
                src.in->streams[i]->discard =
                    static_cast<int>(i) == s->index() ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
            }
            sources_.back().ist = src.in->streams[s->index()];
        }
        return AVIERR_OK;
    }

    HRESULT openOutput(const char* file) {
        if (avformat_alloc_output_context2(&out_, nullptr, "avi", file) < 0 || !out_) {
            return AVIERR_MEMORY;
        }
        bool flipped = false;
        for (auto& s : sources_) {
            s.ost = avformat_new_stream(out_, nullptr);
            if (!s.ost) return AVIERR_MEMORY;
            AVCodecParameters* par = s.ost->codecpar;
            if (avcodec_parameters_copy(par, s.ist->codecpar) < 0) return AVIERR_MEMORY;
            // Keep the fourcc when AVI knows it for this codec.
            const unsigned tag = par->codec_tag;
            unsigned known = 0;
            if (tag && av_codec_get_id(out_->oformat->codec_tag, tag) != par->codec_id &&
                av_codec_get_tag2(out_->oformat->codec_tag, par->codec_id, &known)) {
                par->codec_tag = 0;
            }
            if (par->codec_id == AV_CODEC_ID_RAWVIDEO && par->codec_tag == 0 &&
                par->extradata_size >= 9 &&
                std::memcmp(par->extradata + par->extradata_size - 9, "BottomUp", 9) == 0) {
                // The reader's row-order marker: the rows stay bottom-up.
                par->extradata_size -= 9;
                if (par->extradata_size == 0) av_freep(&par->extradata);
                flipped = true;
            }
            s.ost->time_base = s.ist->time_base;
            s.ost->avg_frame_rate = s.ist->avg_frame_rate;
            s.ost->r_frame_rate = s.ist->r_frame_rate;
            av_dict_copy(&s.ost->metadata, s.ist->metadata, 0);
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
        if (flipped) av_dict_set(&opts, "flipped_raw_rgb", "1", 0);
        e = avformat_write_header(out_, &opts);
        av_dict_free(&opts);
        if (e < 0) {
            setLastSystemError(file_->error() ? file_->error() : systemErrorOf(e));
            return aviErrorFromWrite(e);
        }
        headerWritten_ = true;
        return AVIERR_OK;
    }

    double seconds(const Source& s, std::int64_t ts) const {
        return ts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(ts) * av_q2d(s.ist->time_base);
    }

    double totalSeconds() const {
        double total = 0;
        for (auto& s : sources_) {
            double d = s.ist->duration > 0 ? seconds(s, s.ist->duration) : 0.0;
            if (d <= 0 && s.in->duration > 0) d = s.in->duration / double(AV_TIME_BASE);
            total = std::max(total, d);
        }
        return total;
    }

    // Reads the next non-empty packet of s; false at the end.
    bool fill(Source& s, HRESULT& hr) {
        while (!s.eof && !s.next->data) {
            av_packet_unref(s.next);
            int e = av_read_frame(s.in, s.next);
            if (e == AVERROR_EOF) {
                s.eof = true;
            } else if (e < 0) {
                s.eof = true;
                setLastSystemError(systemErrorOf(e));
                hr = AVIERR_FILEREAD;
            } else if ((s.next->flags & AV_PKT_FLAG_CORRUPT) &&
                       s.next->stream_index == s.ist->index) {
                // The chunk a killed recording was writing: cut short, so
                // it ends the stream instead of a frame that cannot decode.
                av_packet_unref(s.next);
                s.eof = true;
            } else if (s.next->size == 0 || s.next->stream_index != s.ist->index) {
                av_packet_unref(s.next);  // empty slots come back from the timestamps
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
        if (video && !s.started && pkt->dts > 0) {
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
        av_packet_rescale_ts(pkt, s.ist->time_base, s.ost->time_base);
        int e = av_interleaved_write_frame(out_, pkt);  // takes the packet's data
        av_packet_unref(pkt);
        if (e < 0 || out_->pb->error < 0) {
            setLastSystemError(file_->error() ? file_->error()
                                              : systemErrorOf(e < 0 ? e : out_->pb->error));
            return e < 0 ? aviErrorFromWrite(e) : AVIERR_FILEWRITE;
        }
        return AVIERR_OK;
    }

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
    if (!szFile || !*szFile || nStreams <= 0 || !ppavi) return AVIERR_BADPARAM;
    for (int i = 0; i < nStreams; ++i) {
        if (!ppavi[i]) return AVIERR_BADHANDLE;
        if (ppavi[i]->file()->writing())
            return AVIERR_UNSUPPORTED;  // sources must be finished files
    }
    Save save;
    return save.run(szFile, lpfnCallback, nStreams, ppavi);
}

}  // namespace velmora::vfw
