#include "engine/mux/Muxer.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "engine/mux/FileOutput.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

namespace velmora::engine {
namespace {

const char* ContainerName(OutputFormat format) {
    switch (format) {
        case OutputFormat::Mp4:
            return "mp4";
        case OutputFormat::Mkv:
            return "matroska";
        case OutputFormat::Avi:
            break;
    }
    return "avi";
}

// Gives a finished file its name, never replacing one there; 0 or the errno.
int NameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a hard link refuses to replace too.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

int SystemErrorOf(int averror) {
    return averror < 0 && averror > -4096 ? -averror : EIO;
}

class FileMuxer final : public Muxer {
  public:
    FileMuxer(std::string finalPath, OutputFormat format, const std::string& writePath)
        : final_(std::move(finalPath)),
          part_(writePath.empty() ? final_ + ".part" : writePath),
          format_(format) {}

    ~FileMuxer() override {
        if (out_) Abandon();
    }

    bool Open(const std::vector<MuxerStream>& streams, MuxerFault& fault) {
        const int allocated =
            avformat_alloc_output_context2(&out_, nullptr, ContainerName(format_), part_.c_str());
        if (allocated < 0 || !out_) {
            fault = {MuxerFault::Create, allocated == AVERROR(ENOMEM) ? ENOMEM : EINVAL};
            return false;
        }
        bool bottomUp = false;
        for (const MuxerStream& stream : streams) {
            AVStream* st = avformat_new_stream(out_, nullptr);
            if (!st || avcodec_parameters_copy(st->codecpar, stream.parameters) < 0) {
                fault = {MuxerFault::Create, ENOMEM};
                return false;
            }
            AVCodecParameters* par = st->codecpar;
            // AVI keeps a fourcc it knows for the codec; other containers
            // name the codec their own way.
            unsigned known = 0;
            if (format_ != OutputFormat::Avi ||
                (par->codec_tag &&
                 av_codec_get_id(out_->oformat->codec_tag, par->codec_tag) != par->codec_id &&
                 av_codec_get_tag2(out_->oformat->codec_tag, par->codec_id, &known))) {
                par->codec_tag = 0;
            }
            st->time_base = stream.timeBase;
            if (stream.frameRate.num > 0) st->avg_frame_rate = st->r_frame_rate = stream.frameRate;
            if (!stream.title.empty()) {
                // AVI's strn and Matroska's track name; MP4 names a track by
                // its handler.
                av_dict_set(&st->metadata, "title", stream.title.c_str(), 0);
                av_dict_set(&st->metadata, "handler_name", stream.title.c_str(), 0);
            }
            bottomUp = bottomUp || stream.bottomUp;
            // Matroska holds an Opus delay in its header (CodecDelay) and
            // counts it off every block's time: there the packets are
            // written from 0, so that the first sample lands on zero.
            shift_.push_back(format_ == OutputFormat::Mkv && par->codec_id == AV_CODEC_ID_OPUS
                                 ? stream.delay
                                 : 0);
            timeBases_.push_back(stream.timeBase);
        }
        file_ = std::make_unique<FileOutput>();
        if (const int error = file_->create(part_)) {
            file_.reset();
            fault = {MuxerFault::Create, error};
            return false;
        }
        out_->pb = file_->context();
        out_->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVDictionary* options = nullptr;
        if (bottomUp && format_ == OutputFormat::Avi)
            av_dict_set(&options, "flipped_raw_rgb", "1", 0);
        // Matroska keeps full frames as Video for Windows does, header and all.
        if (format_ == OutputFormat::Mkv) av_dict_set(&options, "allow_raw_vfw", "1", 0);
        // A cluster reaches the file only when it is closed: short ones lose
        // little to a kill.
        if (format_ == OutputFormat::Mkv) av_dict_set(&options, "cluster_time_limit", "500", 0);
        // Fragmented, as GNOME's recorder and Kooha write it: the header a
        // browser needs comes first without a second pass over the file at
        // the end, and what a kill leaves plays up to its last fragment
        // (half a second, as Matroska's clusters).
        if (format_ == OutputFormat::Mp4) {
            av_dict_set(&options, "movflags", "+delay_moov+default_base_moof+frag_keyframe", 0);
            av_dict_set(&options, "frag_duration", "500000", 0);
        }
        const int e = avformat_write_header(out_, &options);
        av_dict_free(&options);
        if (e < 0) {
            const bool refused =
                !file_->error() &&
                (e == AVERROR(EINVAL) || e == AVERROR_EXPERIMENTAL || e == AVERROR_PATCHWELCOME);
            fault = {refused ? MuxerFault::Streams : MuxerFault::Write, refused ? 0
                                                                        : file_->error()
                                                                            ? file_->error()
                                                                            : SystemErrorOf(e)};
            Discard();
            return false;
        }
        headerWritten_ = true;
        return true;
    }

    const std::string& PartPath() const override { return part_; }

    int Write(int stream, AVPacket* packet) override {
        std::lock_guard lock(mutex_);
        if (systemError_) {
            av_packet_unref(packet);
            return AVERROR(systemError_);
        }
        if (!out_ || stream < 0 || static_cast<std::size_t>(stream) >= timeBases_.size()) {
            av_packet_unref(packet);
            return AVERROR(EINVAL);
        }
        const std::int64_t shift = shift_[static_cast<std::size_t>(stream)];
        if (shift && packet->pts != AV_NOPTS_VALUE) packet->pts += shift;
        if (shift && packet->dts != AV_NOPTS_VALUE) packet->dts += shift;
        packet->stream_index = stream;
        packet->pos = -1;
        av_packet_rescale_ts(packet, timeBases_[static_cast<std::size_t>(stream)],
                             out_->streams[stream]->time_base);
        const int e = av_interleaved_write_frame(out_, packet);  // takes the data
        av_packet_unref(packet);
        if (e < 0 || out_->pb->error < 0) {
            systemError_ =
                file_->error() ? file_->error() : SystemErrorOf(e < 0 ? e : out_->pb->error);
            return e < 0 ? e : out_->pb->error;
        }
        file_->flushIfDue();
        return 0;
    }

    int SystemError() const override {
        std::lock_guard lock(mutex_);
        return systemError_;
    }

    std::int64_t Size() const override {
        std::lock_guard lock(mutex_);
        return out_ && out_->pb ? avio_tell(out_->pb) : 0;
    }

    bool Finish() override {
        std::lock_guard lock(mutex_);
        if (!out_) return false;
        bool failed = av_write_trailer(out_) < 0 || out_->pb->error < 0;
        const int written = file_->error();
        const int closed = file_->close();
        if (failed || closed) systemError_ = written ? written : closed ? closed : EIO;
        Release();
        if (systemError_) return false;
        if (const int error = NameWithoutReplacing(part_, final_)) {
            systemError_ = error;
            return false;
        }
        return true;
    }

    void Abandon() override {
        std::lock_guard lock(mutex_);
        if (!out_) return;
        // What the muxer still holds (packets waiting to be interleaved,
        // Matroska's open cluster, MP4's open fragment) is the recording's
        // end: it goes into the file too.
        if (headerWritten_ && !systemError_ && av_interleaved_write_frame(out_, nullptr) >= 0)
            (void)av_write_frame(out_, nullptr);
        if (file_) file_->close();
        Release();
    }

  private:
    // Frees the context; the file is closed by then.
    void Release() {
        out_->pb = nullptr;
        file_.reset();
        avformat_free_context(out_);
        out_ = nullptr;
    }

    // A file whose header failed goes again.
    void Discard() {
        file_->close();
        ::unlink(part_.c_str());
        Release();
    }

    const std::string final_, part_;
    const OutputFormat format_;
    mutable std::mutex mutex_;
    AVFormatContext* out_ = nullptr;
    std::unique_ptr<FileOutput> file_;
    std::vector<AVRational> timeBases_;
    std::vector<std::int64_t> shift_;
    int systemError_ = 0;
    bool headerWritten_ = false;
};

}  // namespace

std::unique_ptr<Muxer> Muxer::Create(const std::string& finalPath, OutputFormat format,
                                     const std::vector<MuxerStream>& streams, MuxerFault& fault,
                                     const std::string& writePath) {
    fault = {};
    auto muxer = std::make_unique<FileMuxer>(finalPath, format, writePath);
    if (!muxer->Open(streams, fault)) return nullptr;
    return muxer;
}

}  // namespace velmora::engine
