#pragma once
// Packets to write: a few frames of MPEG-4 video and a tone's samples.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/OutputFormats.h"
#include "engine/encode/SoundEncoder.h"
#include "engine/mux/Muxer.h"

struct AVCodecParameters;
struct AVPacket;

namespace velmora::mediatest {

// A folder of its own, removed with everything in it.
class Folder {
  public:
    Folder();
    ~Folder();
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// frames of 64x48 MPEG-4 at 10 fps, a key frame every 10, with the
// parameters a muxer needs (the setup in the header: globalHeader).
class TestVideo {
  public:
    TestVideo(int frames, bool globalHeader);
    ~TestVideo();
    const AVCodecParameters* parameters() const { return par_; }
    // The packets in order, pts in 1/10 s; the caller takes them.
    std::vector<AVPacket*> take();

  private:
    AVCodecParameters* par_ = nullptr;
    std::vector<AVPacket*> packets_;
};

// The sound codec a recording into the container takes by default: PCM in
// AVI, AAC in MP4, Opus in Matroska.
SoundCodec SoundOf(OutputFormat format);

// A recording's two streams: the picture and a microphone's tone.
struct Recording {
    explicit Recording(OutputFormat format, int frames = 20);
    // Writes the picture from this thread and the sound from another, as a
    // recording does; the first failure's AVERROR, or 0.
    int WriteAll(engine::Muxer& muxer, double soundSeconds);

    engine::PcmFormat pcm{44100, 2, 16};
    TestVideo video;
    std::unique_ptr<engine::SoundEncoder> sound;
    std::vector<engine::MuxerStream> streams;
};

// Frames of the file's first video stream a player decodes.
int DecodedFrames(const std::string& file);

// seconds of a 440 Hz tone, 16-bit interleaved.
std::vector<std::int16_t> Tone(int rate, int channels, double seconds);

// ffprobe's value of one entry of stream `index`, e.g. "codec_name".
std::string Probe(const std::string& file, int index, const char* entry);
// What a player decodes of the file's first sound stream, in seconds.
double DecodedSoundSeconds(const std::string& file);

}  // namespace velmora::mediatest
