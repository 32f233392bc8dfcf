#include "engine/mux/FinishPart.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "engine/ReadBack.h"
#include "engine/mux/FileOutput.h"
#include "engine/mux/Muxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace velmora::engine {
namespace {

constexpr std::string_view kPart = ".part";
constexpr int kReadBuffer = 1 << 16;

bool ReaderIs(const AVInputFormat* reader, OutputFormat container) {
    const std::string name = reader && reader->name ? reader->name : "";
    switch (container) {
        case OutputFormat::Avi:
            return name == "avi";
        case OutputFormat::Mp4:
            return name.starts_with("mov,");
        case OutputFormat::Mkv:
            return name.starts_with("matroska");
    }
    return false;
}

std::string ErrorText(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

// Opens without following a link or waiting on a pipe; -1 with why set when
// the file is not a regular one of this user's, or a recording writes it.
// The descriptor holds the file locked as a writer does, so that another
// copy of the program does not finish it at the same time.
int OpenOwnUnlocked(const std::string& path, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    if (why = NotOwnRegularFile(st); !why.empty()) return -1;
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // For writing when we may: an exclusive flock over NFS needs it.
    int fd = ::open(path.c_str(), O_RDWR | kFlags);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0) {
        why = std::string("it cannot be opened: ") + std::strerror(errno);
        return -1;
    }
    // The name may have been given to another file since the lstat.
    why = ::fstat(fd, &st) != 0 ? std::string("it cannot be read") : NotOwnRegularFile(st);
    if (why.empty() && ::flock(fd, LOCK_EX | LOCK_NB) != 0) why = "a running recording writes it";
    if (why.empty()) return fd;
    ::close(fd);
    return -1;
}

bool SameFile(int fd, const std::string& path) {
    struct stat opened {
    }, named{};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// libavformat reads the part through the descriptor that was checked.
int ReadPart(void* opaque, std::uint8_t* buf, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (;;) {
        const ssize_t n = ::read(fd, buf, static_cast<std::size_t>(size));
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

std::int64_t SeekPart(void* opaque, std::int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? st.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

struct ParametersFree {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};

// The part's reader: its descriptor, its I/O and its demuxer.
class PartReader {
  public:
    ~PartReader() {
        avformat_close_input(&input_);
        if (pb_) {
            av_freep(&pb_->buffer);
            avio_context_free(&pb_);
        }
        if (fd_ >= 0) ::close(fd_);
    }

    // Empty, or why the part is not taken.
    std::string Open(const std::string& path, OutputFormat container) {
        std::string why;
        fd_ = OpenOwnUnlocked(path, why);
        if (fd_ < 0) return why;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBuffer));
        if (buffer)
            pb_ = avio_alloc_context(buffer, kReadBuffer, 0, &fd_, &ReadPart, nullptr, &SeekPart);
        if (!pb_) {
            av_free(buffer);
            return "out of memory";
        }
        input_ = avformat_alloc_context();
        if (!input_) return "out of memory";
        input_->pb = pb_;
        input_->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (const int e = avformat_open_input(&input_, path.c_str(), nullptr, nullptr); e < 0) {
            input_ = nullptr;  // freed by the failed open
            return "not a recording's file: " + ErrorText(e);
        }
        if (!ReaderIs(input_->iformat, container))
            return std::string("it holds ") + input_->iformat->long_name + ", not " +
                   FormatTitle(container);
        // Fills in what a header leaves out (an AVI's MPEG-4 delay); what it
        // reads comes again from av_read_frame.
        (void)avformat_find_stream_info(input_, nullptr);
        return {};
    }

    AVFormatContext* input() const { return input_; }
    int fd() const { return fd_; }
    std::int64_t Size() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
    }

  private:
    int fd_ = -1;
    AVIOContext* pb_ = nullptr;
    AVFormatContext* input_ = nullptr;
};

// A file a killed finish left under the name it writes: nobody's now.
bool ClearWriteName(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    std::string why;
    const int fd = OpenOwnUnlocked(path, why);
    if (fd < 0) return false;
    const bool removed = SameFile(fd, path) && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

}  // namespace

std::optional<OutputFormat> PartContainer(const std::string& part) {
    if (!part.ends_with(kPart)) return std::nullopt;
    const std::string name = part.substr(0, part.size() - kPart.size());
    for (OutputFormat format : kOutputFormats)
        if (name.ends_with(FormatExtension(format)) && name.size() > 4) return format;
    return std::nullopt;
}

bool StartsAsContainer(const std::string& path, OutputFormat format) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[12] = {};
    struct stat st {};
    const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      ::pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head);
    ::close(fd);
    if (!read) return false;
    switch (format) {
        case OutputFormat::Avi:
            return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0;
        case OutputFormat::Mp4:
            return std::memcmp(head + 4, "ftyp", 4) == 0;
        case OutputFormat::Mkv:
            return head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3;
    }
    return false;
}

PartFinish FinishPart(const std::string& part, const std::string& target,
                      const std::function<bool(int)>& progress) {
    PartFinish result;
    const std::optional<OutputFormat> format = PartContainer(part);
    if (!format) {
        result.kind = PartFinish::Refused;
        result.reason = "not the name of a recording being written";
        return result;
    }
    PartReader reader;
    if (std::string why = reader.Open(part, *format); !why.empty()) {
        result.kind = PartFinish::Refused;
        result.reason = std::move(why);
        return result;
    }
    AVFormatContext* in = reader.input();

    // The picture and sound streams a player can decode, as they were.
    std::vector<std::unique_ptr<AVCodecParameters, ParametersFree>> parameters;
    std::vector<MuxerStream> streams;
    std::vector<int> outputOf(in->nb_streams, -1);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if ((par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) ||
            !avcodec_find_decoder(par->codec_id))
            continue;
        parameters.emplace_back(avcodec_parameters_alloc());
        AVCodecParameters* copy = parameters.back().get();
        if (!copy || avcodec_parameters_copy(copy, par) < 0) {
            result.reason = "out of memory";
            return result;
        }
        MuxerStream stream;
        // The AVI reader's row-order marker: the rows stay as they are.
        if (copy->codec_id == AV_CODEC_ID_RAWVIDEO && copy->extradata_size >= 9 &&
            std::memcmp(copy->extradata + copy->extradata_size - 9, "BottomUp", 9) == 0) {
            copy->extradata_size -= 9;
            if (copy->extradata_size == 0) av_freep(&copy->extradata);
            stream.bottomUp = true;
        }
        stream.parameters = copy;
        stream.timeBase = st->time_base;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO)
            stream.frameRate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        // Matroska counts an encoder's priming off the packets' times: it is
        // put back as the muxer expects it.
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->initial_padding > 0 &&
            par->sample_rate > 0)
            stream.delay = av_rescale_q(par->initial_padding, {1, par->sample_rate}, st->time_base);
        const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0);
        if (!title) title = av_dict_get(st->metadata, "handler_name", nullptr, 0);
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && title &&
            std::strcmp(title->value, "SoundHandler"))
            stream.title = title->value;
        outputOf[i] = static_cast<int>(streams.size());
        streams.push_back(stream);
    }
    if (streams.empty()) {
        result.kind = PartFinish::Refused;
        result.reason = "it holds no picture or sound that decodes";
        return result;
    }

    // Written beside the target and named at the end, as a recording is.
    const std::string writing = target + ".finishing";
    if (!ClearWriteName(writing)) {
        result.reason = writing + " is in the way";
        return result;
    }
    MuxerFault fault;
    std::unique_ptr<Muxer> muxer = Muxer::Create(target, *format, streams, fault, writing);
    if (!muxer) {
        result.systemError = fault.systemError;
        result.reason = fault.kind == MuxerFault::Streams ? "its streams cannot be written again"
                        : fault.systemError               ? std::strerror(fault.systemError)
                                                          : "the new file cannot be written";
        return result;
    }
    const auto giveUp = [&](PartFinish::Kind kind, std::string reason, int error) {
        muxer->Abandon();
        ::unlink(writing.c_str());
        result.kind = kind;
        result.reason = std::move(reason);
        result.systemError = error;
        return result;
    };

    const std::int64_t size = std::max<std::int64_t>(reader.Size(), 1);
    AVPacket* packet = av_packet_alloc();
    if (!packet) return giveUp(PartFinish::Failed, "out of memory", ENOMEM);
    double first = std::numeric_limits<double>::infinity(), end = 0;
    int copied = 0, shown = -1, e = 0;
    bool cancelled = false;
    while ((e = av_read_frame(in, packet)) >= 0) {
        const int out = outputOf[static_cast<unsigned>(packet->stream_index)];
        // A packet the disk holds only part of (the writer's last) is left out.
        if (out < 0 || packet->size == 0 || (packet->flags & AV_PKT_FLAG_CORRUPT)) {
            av_packet_unref(packet);
            continue;
        }
        const std::int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (at != AV_NOPTS_VALUE) {
            const double base = av_q2d(in->streams[packet->stream_index]->time_base);
            first = std::min(first, at * base);
            end = std::max(end, (at + packet->duration) * base);
        }
        if (const int w = muxer->Write(out, packet); w < 0) {
            av_packet_free(&packet);
            const int error = muxer->SystemError();
            return giveUp(PartFinish::Failed, error ? std::strerror(error) : ErrorText(w), error);
        }
        ++copied;
        const int percent =
            static_cast<int>(std::min<std::int64_t>(avio_tell(in->pb) * 100 / size, 99));
        if (progress && percent != shown && !progress(shown = percent)) {
            cancelled = true;
            break;
        }
    }
    av_packet_free(&packet);
    if (cancelled) return giveUp(PartFinish::Cancelled, {}, 0);
    // The end, or the writer's last cluster or fragment cut short; a disk
    // that cannot be read would lose what lies behind the failure.
    if (!cancelled && e != AVERROR_EOF && e != AVERROR_INVALIDDATA)
        return giveUp(PartFinish::Failed, "it cannot be read: " + ErrorText(e), e > -4096 ? -e : 0);
    if (copied == 0) return giveUp(PartFinish::Refused, "it holds no picture or sound yet", 0);

    if (!muxer->Finish()) {
        const int error = muxer->SystemError();
        ::unlink(writing.c_str());
        result.systemError = error;
        result.reason = error == EEXIST ? target + " was taken meanwhile" : std::strerror(error);
        return result;
    }
    // The part is the only copy until the new file is known to play.
    if (const std::string fault = ReadBackFault(target, end); !fault.empty()) {
        ::unlink(target.c_str());
        result.reason = "the finished file cannot be played back (" + fault + ")";
        return result;
    }
    if (SameFile(reader.fd(), part)) ::unlink(part.c_str());
    result.kind = PartFinish::Finished;
    result.seconds = end - std::min(first, end);
    return result;
}

}  // namespace velmora::engine
