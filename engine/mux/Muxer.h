#pragma once
// Writes a recording's final file while it is recorded: the streams'
// packets go into "<name>.part" beside the name it will have, interleaved by
// time, and Finish gives it that name (no copy). What is written reaches the
// disk within about half a second, so a killed recording leaves a file that
// plays to within a second of the kill:
// - AVI: written as it comes, its index at the end (OpenDML past 1 GiB);
// - Matroska: clusters of at most half a second, cues at the end;
// - MP4: fragmented (a fragment at each key frame and at least every half
//   second, the index at the front), as GNOME's recorder and Kooha write it.
// The file is created readable by its owner alone (0600), never through a
// symbolic link and never over an existing file, and locked (flock) while it
// is written, so another copy's search for interrupted recordings leaves it
// alone.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/OutputFormats.h"

extern "C" {
#include <libavutil/rational.h>
}

struct AVCodecParameters;
struct AVPacket;

namespace velmora::engine {

struct MuxerStream {
    const AVCodecParameters* parameters = nullptr;
    AVRational timeBase{};   // of the packets Write gets
    AVRational frameRate{};  // video: frames per second
    // Packets start this much before the stream's time zero (an encoder's
    // priming, in timeBase units): the container is told, so that the first
    // real sample lands at zero.
    std::int64_t delay = 0;
    std::string title;  // a sound track's name (the input's), empty: none
    // Raw RGB rows stored bottom-up, as a DIB keeps them: AVI says so in its
    // header; other containers need them top-down (the caller turns them).
    bool bottomUp = false;
};

// Why Create gave no muxer: the streams do not go into the container, the
// file could not be created, or its header could not be written; with the
// system's errno where there is one.
struct MuxerFault {
    enum Kind { None, Streams, Create, Write } kind = None;
    int systemError = 0;
};

class Muxer {
  public:
    // Creates finalPath + ".part" (or writePath, when given) and writes the
    // container's header; null, with the fault, when that fails (nothing is
    // left then).
    static std::unique_ptr<Muxer> Create(const std::string& finalPath, OutputFormat format,
                                         const std::vector<MuxerStream>& streams, MuxerFault& fault,
                                         const std::string& writePath = {});
    virtual ~Muxer() = default;

    // The file being written (finalPath + ".part", or the writePath given).
    virtual const std::string& PartPath() const = 0;

    // A packet of stream (its index in Create's list), pts and dts in that
    // stream's time base; any thread. Packets of one stream come in order.
    // The packet's data is taken. 0 or an AVERROR; after a failure every
    // later write fails too, and SystemError says why (ENOSPC: the disk is
    // full).
    virtual int Write(int stream, AVPacket* packet) = 0;
    virtual int SystemError() const = 0;
    // Bytes in the file so far.
    virtual std::int64_t Size() const = 0;

    // Writes what is buffered and the container's end (index, cues,
    // duration), closes the file and gives it finalPath, never replacing a
    // file there. True, or false with SystemError set (EEXIST: the name was
    // taken meanwhile); the .part then stays as it is.
    virtual bool Finish() = 0;
    // Closes the file with what was written, without its end, under the
    // .part name.
    virtual void Abandon() = 0;
};

}  // namespace velmora::engine
