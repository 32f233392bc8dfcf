#pragma once
// One sound stream's encoder: interleaved PCM samples as the inputs deliver
// them go in, packets of the container's codec come out, timed in samples
// of the encoder's rate from the first sample sent. PCM passes through as
// 16-bit (or 8-bit) little-endian samples; AAC, Opus and FLAC are encoded,
// the samples converted to the encoder's sample format and rate on the way
// (the channels stay).

#include <cstdint>
#include <memory>
#include <string>

#include "common/OutputFormats.h"

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/rational.h>
}

struct AVCodecParameters;
struct AVPacket;

namespace velmora::engine {

// Interleaved samples as the inputs deliver them (8-bit unsigned, 16-bit
// signed) or as a recovered WAV file holds them (also 24- and 32-bit
// integers, 32- and 64-bit floats), little-endian.
struct PcmFormat {
    int samplesPerSecond = 44100;
    int channels = 2;
    int bitsPerSample = 16;
    bool floating = false;
    int BytesPerFrame() const { return channels * bitsPerSample / 8; }
};

// libavcodec's PCM codec of such samples; AV_CODEC_ID_NONE for a sample
// size no sound card delivers.
AVCodecID PcmCodecOf(const PcmFormat& format);

class SoundEncoder {
  public:
    // Null, with the reason in error, when the codec cannot take the format
    // (missing: this FFmpeg has no encoder for it). AAC at 160 kbit/s and
    // Opus at 128 kbit/s per stereo pair (half for mono); globalHeader when
    // the container keeps the codec's setup in its header.
    static std::unique_ptr<SoundEncoder> Open(SoundCodec codec, const PcmFormat& input,
                                              bool globalHeader, std::string& error,
                                              bool* missing = nullptr);
    virtual ~SoundEncoder() = default;

    virtual const AVCodecParameters* Parameters() const = 0;
    // The time base of the packets' pts (1 / the encoder's sample rate).
    virtual AVRational TimeBase() const = 0;
    // Samples the encoder's first packet starts before the first sample
    // sent (its priming), in TimeBase units; 0 for PCM and FLAC.
    virtual std::int64_t Delay() const = 0;

    // Takes whole frames of samples; 0 or an AVERROR.
    virtual int Send(const std::uint8_t* samples, std::int64_t frames) = 0;
    // No more samples: what is buffered is encoded.
    virtual int Finish() = 0;
    // The next packet: 0, AVERROR(EAGAIN) until more samples come,
    // AVERROR_EOF after Finish has given its last.
    virtual int Receive(AVPacket* out) = 0;
};

}  // namespace velmora::engine
