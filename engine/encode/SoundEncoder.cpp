#include "engine/encode/SoundEncoder.h"

#include <algorithm>
#include <deque>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace velmora::engine {

namespace {

// The source's rate when the encoder takes it, else the next higher one it
// takes, else its highest. Opus always runs at 48 kHz: Matroska counts its
// delay in 48 kHz samples whatever the rate (FFmpeg 5.1), so another rate
// would put the sound a few milliseconds off the picture.
int RateFor(const AVCodec* codec, int wanted) {
    if (codec->id == AV_CODEC_ID_OPUS) return 48000;
    if (!codec->supported_samplerates) return wanted;
    int above = 0, highest = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted) return wanted;
        if (*r > wanted && (above == 0 || *r < above)) above = *r;
        highest = std::max(highest, *r);
    }
    return above ? above : highest;
}

// 16-bit sources stay 16-bit where the encoder allows it (FLAC: smaller).
AVSampleFormat FormatFor(const AVCodec* codec, AVSampleFormat source) {
    if (!codec->sample_fmts) return source;
    const bool wide = av_get_bytes_per_sample(source) > 2;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == (wide ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16)) return *f;
    return codec->sample_fmts[0];
}

// Encoders that take frames of any length get this many samples at a time.
constexpr int kVariableFrameSamples = 4096;

// PCM: the samples themselves are the packets.
class PcmPassage final : public SoundEncoder {
  public:
    PcmPassage(const PcmFormat& f, AVCodecID id) : format_(f) {
        par_ = avcodec_parameters_alloc();
        if (!par_) return;
        par_->codec_type = AVMEDIA_TYPE_AUDIO;
        par_->codec_id = id;
        par_->sample_rate = f.samplesPerSecond;
        av_channel_layout_default(&par_->ch_layout, f.channels);
        par_->bits_per_coded_sample = f.bitsPerSample;
        par_->block_align = f.BytesPerFrame();
        par_->bit_rate = std::int64_t(f.samplesPerSecond) * f.BytesPerFrame() * 8;
    }
    ~PcmPassage() override {
        avcodec_parameters_free(&par_);
        for (AVPacket* p : queue_) av_packet_free(&p);
    }
    bool Good() const { return par_ != nullptr; }

    const AVCodecParameters* Parameters() const override { return par_; }
    AVRational TimeBase() const override { return {1, format_.samplesPerSecond}; }
    std::int64_t Delay() const override { return 0; }

    int Send(const std::uint8_t* samples, std::int64_t frames) override {
        if (finished_) return AVERROR_EOF;
        if (frames <= 0) return 0;
        AVPacket* p = av_packet_alloc();
        const auto bytes = static_cast<int>(frames * format_.BytesPerFrame());
        if (!p || av_new_packet(p, bytes) < 0) {
            av_packet_free(&p);
            return AVERROR(ENOMEM);
        }
        std::copy_n(samples, bytes, p->data);
        p->pts = p->dts = next_;
        p->duration = frames;
        p->flags |= AV_PKT_FLAG_KEY;
        next_ += frames;
        queue_.push_back(p);
        return 0;
    }
    int Finish() override {
        finished_ = true;
        return 0;
    }
    int Receive(AVPacket* out) override {
        if (queue_.empty()) return finished_ ? AVERROR_EOF : AVERROR(EAGAIN);
        AVPacket* p = queue_.front();
        queue_.pop_front();
        av_packet_move_ref(out, p);
        av_packet_free(&p);
        return 0;
    }

  private:
    const PcmFormat format_;
    AVCodecParameters* par_ = nullptr;
    std::deque<AVPacket*> queue_;
    std::int64_t next_ = 0;
    bool finished_ = false;
};

// AAC, Opus, FLAC: the samples read as a PCM stream, converted to the
// encoder's sample format and rate (the channels stay), and cut into the
// encoder's frames.
class CodecEncoder final : public SoundEncoder {
  public:
    ~CodecEncoder() override {
        avcodec_free_context(&decoder_);
        avcodec_free_context(&encoder_);
        avcodec_parameters_free(&par_);
        swr_free(&resampler_);
        if (fifo_) av_audio_fifo_free(fifo_);
        av_frame_free(&decoded_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
    }

    // 0 or an AVERROR.
    int Open(SoundCodec codec, const PcmFormat& f, AVCodecID pcm, bool globalHeader) {
        const char* name = codec == SoundCodec::Aac    ? "aac"
                           : codec == SoundCodec::Opus ? "libopus"
                                                       : "flac";
        const std::int64_t bitRate = codec == SoundCodec::Aac    ? 160000
                                     : codec == SoundCodec::Opus ? 128000
                                                                 : 0;
        const AVCodec* decoderCodec = avcodec_find_decoder(pcm);
        const AVCodec* encoderCodec = avcodec_find_encoder_by_name(name);
        if (!decoderCodec || !encoderCodec) return AVERROR_ENCODER_NOT_FOUND;
        bytesPerFrame_ = f.BytesPerFrame();
        decoder_ = avcodec_alloc_context3(decoderCodec);
        encoder_ = avcodec_alloc_context3(encoderCodec);
        par_ = avcodec_parameters_alloc();
        decoded_ = av_frame_alloc();
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (!decoder_ || !encoder_ || !par_ || !decoded_ || !frame_ || !packet_)
            return AVERROR(ENOMEM);
        decoder_->sample_rate = f.samplesPerSecond;
        decoder_->bits_per_coded_sample = f.bitsPerSample;
        decoder_->block_align = bytesPerFrame_;
        av_channel_layout_default(&decoder_->ch_layout, f.channels);
        int e = avcodec_open2(decoder_, decoderCodec, nullptr);
        if (e < 0) return e;

        av_channel_layout_default(&encoder_->ch_layout, f.channels);
        encoder_->sample_rate = RateFor(encoderCodec, f.samplesPerSecond);
        encoder_->sample_fmt = FormatFor(encoderCodec, decoder_->sample_fmt);
        encoder_->time_base = AVRational{1, encoder_->sample_rate};
        // The bit rate is per stereo pair: a mono stream gets half.
        if (bitRate > 0) encoder_->bit_rate = bitRate * std::max(f.channels, 1) / 2;
        if (globalHeader) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if ((e = avcodec_open2(encoder_, encoderCodec, nullptr)) < 0) return e;
        if ((e = avcodec_parameters_from_context(par_, encoder_)) < 0) return e;

        e = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, encoder_->sample_fmt,
                                encoder_->sample_rate, &decoder_->ch_layout, decoder_->sample_fmt,
                                decoder_->sample_rate, 0, nullptr);
        if (e < 0 || (e = swr_init(resampler_)) < 0) return e;
        fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, f.channels, kVariableFrameSamples);
        return fifo_ ? 0 : AVERROR(ENOMEM);
    }

    const AVCodecParameters* Parameters() const override { return par_; }
    AVRational TimeBase() const override { return encoder_->time_base; }
    std::int64_t Delay() const override { return encoder_->initial_padding; }

    int Send(const std::uint8_t* samples, std::int64_t frames) override {
        if (flushed_) return AVERROR_EOF;
        if (frames <= 0) return 0;
        if (av_new_packet(packet_, static_cast<int>(frames * bytesPerFrame_)) < 0)
            return AVERROR(ENOMEM);
        std::copy_n(samples, packet_->size, packet_->data);
        const int e = Decode(packet_);
        av_packet_unref(packet_);
        return e;
    }

    int Finish() override {
        if (flushed_) return 0;
        return Decode(nullptr);
    }

    int Receive(AVPacket* out) override {
        for (;;) {
            int e = avcodec_receive_packet(encoder_, out);
            if (e != AVERROR(EAGAIN)) return e;
            e = EncodeFrom(flushed_);
            if (e == AVERROR(EAGAIN)) return e;  // more sound is needed
            if (e < 0) return e;
        }
    }

  private:
    // Hands a packet of samples (null: the end) to the PCM reader and what
    // comes out to the converter and the queue of samples to encode.
    int Decode(const AVPacket* pcm) {
        int e = avcodec_send_packet(decoder_, pcm);
        if (e < 0 && e != AVERROR_EOF) return e;
        for (;;) {
            e = avcodec_receive_frame(decoder_, decoded_);
            if (e == AVERROR(EAGAIN)) return 0;
            const bool draining = e == AVERROR_EOF;
            if (e < 0 && !draining) return e;
            // At the end the resampler gives back what it still holds.
            const int in = draining ? 0 : decoded_->nb_samples;
            const int room = swr_get_out_samples(resampler_, in);
            std::uint8_t** converted = nullptr;
            if (room > 0) {
                e = av_samples_alloc_array_and_samples(&converted, nullptr,
                                                       encoder_->ch_layout.nb_channels, room,
                                                       encoder_->sample_fmt, 0);
                if (e < 0) return e;
                const int made = swr_convert(
                    resampler_, converted, room,
                    draining ? nullptr : const_cast<const std::uint8_t**>(decoded_->extended_data),
                    in);
                e = made < 0 ? made
                             : av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted), made);
                av_freep(&converted[0]);
                av_freep(&converted);
                if (e < 0) return e;
            }
            av_frame_unref(decoded_);
            if (draining) {
                flushed_ = true;
                return 0;
            }
        }
    }

    int EncodeFrom(bool flushing) {
        const int frameSamples =
            encoder_->frame_size > 0 ? encoder_->frame_size : kVariableFrameSamples;
        const int available = av_audio_fifo_size(fifo_);
        const int samples = std::min(available, frameSamples);
        if (samples < frameSamples && !flushing) return AVERROR(EAGAIN);
        if (samples == 0) return avcodec_send_frame(encoder_, nullptr);
        av_frame_unref(frame_);
        frame_->format = encoder_->sample_fmt;
        frame_->sample_rate = encoder_->sample_rate;
        frame_->nb_samples = samples;
        int e = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout);
        if (e < 0 || (e = av_frame_get_buffer(frame_, 0)) < 0) return e;
        if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), samples) != samples)
            return AVERROR_BUG;
        frame_->pts = nextPts_;
        nextPts_ += samples;
        return avcodec_send_frame(encoder_, frame_);
    }

    int bytesPerFrame_ = 0;
    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVCodecParameters* par_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* decoded_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::int64_t nextPts_ = 0;  // in samples of the encoder's rate
    bool flushed_ = false;
};

}  // namespace

AVCodecID PcmCodecOf(const PcmFormat& f) {
    if (f.floating) {
        return f.bitsPerSample == 32   ? AV_CODEC_ID_PCM_F32LE
               : f.bitsPerSample == 64 ? AV_CODEC_ID_PCM_F64LE
                                       : AV_CODEC_ID_NONE;
    }
    switch (f.bitsPerSample) {
        case 8:
            return AV_CODEC_ID_PCM_U8;
        case 16:
            return AV_CODEC_ID_PCM_S16LE;
        case 24:
            return AV_CODEC_ID_PCM_S24LE;
        case 32:
            return AV_CODEC_ID_PCM_S32LE;
        default:
            return AV_CODEC_ID_NONE;
    }
}

std::unique_ptr<SoundEncoder> SoundEncoder::Open(SoundCodec codec, const PcmFormat& input,
                                                 bool globalHeader, std::string& error,
                                                 bool* missing) {
    if (missing) *missing = false;
    const AVCodecID pcm = PcmCodecOf(input);
    if (input.channels <= 0 || input.samplesPerSecond <= 0) {
        error = std::to_string(input.channels) + " channels of " +
                std::to_string(input.samplesPerSecond) + " samples a second";
        return nullptr;
    }
    if (pcm == AV_CODEC_ID_NONE) {
        error = "no encoder takes " + std::to_string(input.bitsPerSample) +
                (input.floating ? "-bit floating-point samples" : "-bit samples");
        return nullptr;
    }
    if (codec == SoundCodec::Pcm) {
        auto passage = std::make_unique<PcmPassage>(input, pcm);
        if (!passage->Good()) {
            error = "out of memory";
            return nullptr;
        }
        return passage;
    }
    auto encoder = std::make_unique<CodecEncoder>();
    if (const int e = encoder->Open(codec, input, pcm, globalHeader); e < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(e, text, sizeof text);
        if (missing) *missing = e == AVERROR_ENCODER_NOT_FOUND;
        error = e == AVERROR_ENCODER_NOT_FOUND ? "the encoder is missing" : text;
        return nullptr;
    }
    return encoder;
}

}  // namespace velmora::engine
