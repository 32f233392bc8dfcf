#pragma once
// One video stream's encoder: frames as the grab made them go in, one
// compressed packet per frame comes out at once (no B-frames, no look-ahead,
// no frame threads), timed by the frame's index at the recording's rate.
// Quality (0..10000, 10000 the best the codec offers) maps onto each codec's
// own scale; a key-frame interval counted in frames becomes its GOP.

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

struct AVCodecParameters;
struct AVFrame;
struct AVPacket;

namespace velmora::engine {

struct VideoEncoderSetup {
    std::uint32_t handler = 0;  // the codec (VideoCodecInfo::handler)
    int width = 0, height = 0;
    // The frames Encode gets: AV_PIX_FMT_BGR0 (32-bit screens), RGB555LE
    // (16-bit), PAL8 (8-bit, palette in data[1]) or YUV420P (see
    // GrabFormatFor); rows top-down, any linesize.
    AVPixelFormat input = AV_PIX_FMT_BGR0;
    bool fullRangeInput = false;  // YUV420P input in full (JPEG) range
    int framesPerSecond = 15;
    int quality = 7500;
    int keyFrameEvery = 0;  // 0: 250
    int threads = 0;        // 0: the codec's own choice
    // The container keeps the codec's setup in its header (MP4, Matroska)
    // rather than in the key frames (AVI).
    bool globalHeader = false;
};

class VideoEncoder {
  public:
    // Null, with the reason in error, when the codec cannot take the setup.
    static std::unique_ptr<VideoEncoder> Open(const VideoEncoderSetup& setup, std::string& error);
    virtual ~VideoEncoder() = default;

    // The stream as a container records it: codec, its AVI fourcc, size,
    // extradata where globalHeader asked for it, the colours of YUV codecs.
    virtual const AVCodecParameters* Parameters() const = 0;
    // 1 / framesPerSecond: a packet's pts is its frame's index.
    virtual AVRational TimeBase() const = 0;

    // Compresses the frame with this index into out (key flag set on key
    // frames). The frame is read during the call only: the caller may
    // overwrite it once this returns. 0 or an AVERROR.
    virtual int Encode(const AVFrame* frame, std::int64_t index, AVPacket* out) = 0;

    // Frames in the input format go to the encoder as they are, without a
    // copy or conversion.
    virtual bool PassesFramesThrough() const = 0;
};

// The format a recording's frames are grabbed in for this codec from a
// screen of screenBits: 4:2:0 (in the range the codec codes) for the codecs
// that code it (Xvid, x264, Motion JPEG) on 24/32-bit screens, else the
// screen's own (BGR0, RGB555LE, PAL8).
AVPixelFormat GrabFormatFor(std::uint32_t handler, int screenBits, bool& fullRange);

}  // namespace velmora::engine
