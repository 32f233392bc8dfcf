#include "engine/ReadBack.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace velmora::engine {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Enough packets for a decoder that wants a few before its first frame.
constexpr int kPacketsToFirstFrame = 16;

}  // namespace

std::string ReadBackFault(const std::string& file, double expectedSeconds) {
    AVFormatContext* raw = nullptr;
    if (const int e = avformat_open_input(&raw, file.c_str(), nullptr, nullptr); e < 0)
        return "it cannot be opened: " + ErrorText(e);
    const std::unique_ptr<AVFormatContext, InputCloser> input(raw);
    if (const int e = avformat_find_stream_info(input.get(), nullptr); e < 0)
        return "its streams cannot be read: " + ErrorText(e);
    if (input->nb_streams == 0) return "it holds no stream";

    struct Stream {
        std::unique_ptr<AVCodecContext, CodecFreer> decoder;
        int packets = 0;
        bool decoded = false;
        double endSeconds = 0;
    };
    std::vector<Stream> streams(input->nb_streams);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* p = input->streams[i]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(p->codec_id);
        if (!codec) return std::string("no decoder for its ") + avcodec_get_name(p->codec_id);
        streams[i].decoder.reset(avcodec_alloc_context3(codec));
        if (!streams[i].decoder ||
            avcodec_parameters_to_context(streams[i].decoder.get(), p) < 0 ||
            avcodec_open2(streams[i].decoder.get(), codec, nullptr) < 0)
            return std::string("its ") + avcodec_get_name(p->codec_id) + " cannot be decoded";
    }

    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    const std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    auto tryDecode = [&](Stream& s, const AVPacket* pkt) {
        if (avcodec_send_packet(s.decoder.get(), pkt) < 0) return;
        if (avcodec_receive_frame(s.decoder.get(), frame.get()) == 0) s.decoded = true;
    };
    // Every packet is read for the length; only the first few are decoded.
    int e = 0;
    while ((e = av_read_frame(input.get(), packet.get())) >= 0) {
        Stream& s = streams[static_cast<unsigned>(packet->stream_index)];
        const AVRational base = input->streams[packet->stream_index]->time_base;
        if (packet->pts != AV_NOPTS_VALUE)
            s.endSeconds = std::max(s.endSeconds, (packet->pts + packet->duration) * av_q2d(base));
        if (!s.decoded && s.packets++ < kPacketsToFirstFrame) tryDecode(s, packet.get());
        av_packet_unref(packet.get());
    }
    if (e != AVERROR_EOF) return "it cannot be read to its end: " + ErrorText(e);

    double longest = 0;
    for (unsigned i = 0; i < streams.size(); ++i) {
        Stream& s = streams[i];
        if (!s.decoded) tryDecode(s, nullptr);  // what the decoder held back
        if (!s.decoded)
            return std::string("its ") +
                   avcodec_get_name(input->streams[i]->codecpar->codec_id) + " does not decode";
        longest = std::max(longest, s.endSeconds);
    }
    if (longest + 1 < expectedSeconds)
        return "it lasts " + std::to_string(static_cast<int>(longest)) + " s of " +
               std::to_string(static_cast<int>(expectedSeconds)) + " s";
    return {};
}

}  // namespace velmora::engine
