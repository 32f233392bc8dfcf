#pragma once
// Compresses the sound of a WAV stream on its way into a file: decodes the
// PCM packets, converts them to what the encoder takes (sample format, rate;
// the channels stay) and hands back the encoder's packets, timed from the
// stream's first sample. Private to engine/vfw.

#include <cstdint>

struct AVCodecContext;
struct AVCodecParameters;
struct AVAudioFifo;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace velmora::vfw {

class SoundEncoder {
  public:
    SoundEncoder() = default;
    ~SoundEncoder();
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;

    // encoder: libavcodec's name ("aac", "libopus", "flac"); bitRate per
    // stereo pair (a mono stream gets half), 0 for the encoder's own;
    // globalHeader when the container keeps the codec's setup in its header.
    // 0 or an AVERROR.
    int open(const AVCodecParameters* pcm, const char* encoder, std::int64_t bitRate,
             bool globalHeader);
    // The encoded stream's parameters and the time base of its packets.
    int describe(AVCodecParameters* par) const;
    int timeBaseNum() const;
    int timeBaseDen() const;

    // One packet of the source stream; null at its end. 0 or an AVERROR.
    int send(const AVPacket* pcm);
    // The next encoded packet: 0, AVERROR(EAGAIN) when it needs more sound,
    // AVERROR_EOF after the last one.
    int receive(AVPacket* out);

  private:
    int encodeFrom(bool flushing);

    AVCodecContext* decoder_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    SwrContext* resampler_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* decoded_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::int64_t nextPts_ = 0;  // in samples of the encoder's rate
    bool flushed_ = false;
};

}  // namespace velmora::vfw
