#include "engine/vfw/SoundEncoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace velmora::vfw {

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

}  // namespace

SoundEncoder::~SoundEncoder() {
    avcodec_free_context(&decoder_);
    avcodec_free_context(&encoder_);
    swr_free(&resampler_);
    if (fifo_) av_audio_fifo_free(fifo_);
    av_frame_free(&decoded_);
    av_frame_free(&frame_);
}

int SoundEncoder::open(const AVCodecParameters* pcm, const char* encoder, std::int64_t bitRate,
                       bool globalHeader) {
    const AVCodec* decoderCodec = avcodec_find_decoder(pcm->codec_id);
    const AVCodec* encoderCodec = avcodec_find_encoder_by_name(encoder);
    if (!decoderCodec || !encoderCodec) return AVERROR_ENCODER_NOT_FOUND;
    decoder_ = avcodec_alloc_context3(decoderCodec);
    encoder_ = avcodec_alloc_context3(encoderCodec);
    decoded_ = av_frame_alloc();
    frame_ = av_frame_alloc();
    if (!decoder_ || !encoder_ || !decoded_ || !frame_) return AVERROR(ENOMEM);
    int e = avcodec_parameters_to_context(decoder_, pcm);
    if (e < 0) return e;
    if (decoder_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder_->ch_layout, decoder_->ch_layout.nb_channels);
    if ((e = avcodec_open2(decoder_, decoderCodec, nullptr)) < 0) return e;

    const int channels = decoder_->ch_layout.nb_channels;
    av_channel_layout_default(&encoder_->ch_layout, channels);
    encoder_->sample_rate = RateFor(encoderCodec, decoder_->sample_rate);
    encoder_->sample_fmt = FormatFor(encoderCodec, decoder_->sample_fmt);
    encoder_->time_base = AVRational{1, encoder_->sample_rate};
    if (bitRate > 0) encoder_->bit_rate = bitRate * std::max(channels, 1) / 2;
    if (globalHeader) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((e = avcodec_open2(encoder_, encoderCodec, nullptr)) < 0) return e;

    e = swr_alloc_set_opts2(&resampler_, &encoder_->ch_layout, encoder_->sample_fmt,
                            encoder_->sample_rate, &decoder_->ch_layout, decoder_->sample_fmt,
                            decoder_->sample_rate, 0, nullptr);
    if (e < 0 || (e = swr_init(resampler_)) < 0) return e;
    fifo_ = av_audio_fifo_alloc(encoder_->sample_fmt, channels, kVariableFrameSamples);
    return fifo_ ? 0 : AVERROR(ENOMEM);
}

int SoundEncoder::describe(AVCodecParameters* par) const {
    return avcodec_parameters_from_context(par, encoder_);
}

int SoundEncoder::timeBaseNum() const {
    return encoder_->time_base.num;
}

int SoundEncoder::timeBaseDen() const {
    return encoder_->time_base.den;
}

int SoundEncoder::send(const AVPacket* pcm) {
    if (flushed_) return AVERROR_EOF;
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
                draining ? nullptr : const_cast<const std::uint8_t**>(decoded_->extended_data), in);
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

int SoundEncoder::encodeFrom(bool flushing) {
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

int SoundEncoder::receive(AVPacket* out) {
    for (;;) {
        int e = avcodec_receive_packet(encoder_, out);
        if (e != AVERROR(EAGAIN)) return e;
        e = encodeFrom(flushed_);
        if (e == AVERROR(EAGAIN)) return e;  // more sound is needed
        if (e < 0) return e;
    }
}

}  // namespace velmora::vfw
