#include "tests/media/MediaTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/TestEnv.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
}

namespace velmora::mediatest {

using engine::MuxerStream;
using engine::SoundEncoder;

Folder::Folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velmora-media-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
}

Folder::~Folder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

TestVideo::TestVideo(int frames, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    par_ = avcodec_parameters_alloc();
    c->width = 64;
    c->height = 48;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, 10};
    c->framerate = {10, 1};
    c->gop_size = 10;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    EXPECT_GE(avcodec_open2(c, codec, nullptr), 0);
    avcodec_parameters_from_context(par_, c);
    frame->width = 64;
    frame->height = 48;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame, 0);
    const auto drain = [&] {
        AVPacket* p = av_packet_alloc();
        while (avcodec_receive_packet(c, p) == 0) {
            packets_.push_back(p);
            p = av_packet_alloc();
        }
        av_packet_free(&p);
    };
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(frame);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                frame->data[0][y * frame->linesize[0] + x] =
                    static_cast<std::uint8_t>(x + y + i * 8);
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 32; ++x) frame->data[p][y * frame->linesize[p] + x] = 128;
        frame->pts = i;
        avcodec_send_frame(c, frame);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_frame_free(&frame);
    avcodec_free_context(&c);
}

TestVideo::~TestVideo() {
    for (AVPacket* p : packets_) av_packet_free(&p);
    avcodec_parameters_free(&par_);
}

std::vector<AVPacket*> TestVideo::take() {
    return std::exchange(packets_, {});
}

SoundCodec SoundOf(OutputFormat format) {
    return format == OutputFormat::Avi   ? SoundCodec::Pcm
           : format == OutputFormat::Mp4 ? SoundCodec::Aac
                                         : SoundCodec::Opus;
}

Recording::Recording(OutputFormat format, int frames) : video(frames, format != OutputFormat::Avi) {
    std::string error;
    sound = SoundEncoder::Open(SoundOf(format), pcm, format != OutputFormat::Avi, error);
    EXPECT_TRUE(sound) << error;
    MuxerStream picture;
    picture.parameters = video.parameters();
    picture.timeBase = {1, 10};
    picture.frameRate = {10, 1};
    MuxerStream microphone;
    microphone.parameters = sound->Parameters();
    microphone.timeBase = sound->TimeBase();
    microphone.delay = sound->Delay();
    microphone.title = "Microphone";
    streams = {picture, microphone};
}

int Recording::WriteAll(engine::Muxer& muxer, double soundSeconds) {
    int soundResult = 0;
    std::thread soundThread([&] {
        const std::vector<std::int16_t> tone = Tone(pcm.samplesPerSecond, 2, soundSeconds);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(tone.data());
        const std::int64_t frames = static_cast<std::int64_t>(tone.size() / 2);
        AVPacket* packet = av_packet_alloc();
        for (std::int64_t at = 0; at <= frames && soundResult == 0; at += 2205) {
            const std::int64_t n = std::min<std::int64_t>(2205, frames - at);
            int e = n > 0 ? sound->Send(bytes + at * pcm.BytesPerFrame(), n) : sound->Finish();
            while (e == 0 && (e = sound->Receive(packet)) == 0) e = muxer.Write(1, packet);
            if (e != AVERROR(EAGAIN) && e != AVERROR_EOF) soundResult = e;
        }
        av_packet_free(&packet);
    });
    int videoResult = 0;
    for (AVPacket* packet : video.take()) {
        if (videoResult == 0) videoResult = muxer.Write(0, packet);
        av_packet_free(&packet);
    }
    soundThread.join();
    return videoResult ? videoResult : soundResult;
}

int DecodedFrames(const std::string& file) {
    return std::atoi(test::capture("ffprobe -v error -select_streams v:0 -count_frames "
                                   "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                   file + "'")
                         .c_str());
}

std::vector<std::int16_t> Tone(int rate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * channels + c] =
                static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * double(i) / rate));
    return samples;
}

std::string Probe(const std::string& file, int index, const char* entry) {
    std::string value =
        test::capture("ffprobe -v error -select_streams " + std::to_string(index) +
                      " -show_entries stream=" + entry + " -of csv=p=0 '" + file + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == ',')) value.pop_back();
    return value;
}

double DecodedSoundSeconds(const std::string& file) {
    const std::string bytes = test::capture("ffmpeg -v error -i '" + file +
                                            "' -map 0:a:0 -ac 1 -ar 8000 -f s16le - | wc -c");
    return std::atof(bytes.c_str()) / 2 / 8000;
}

}  // namespace velmora::mediatest
