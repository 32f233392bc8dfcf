#pragma once
// A recording's file its writer never finished ("<name>.part": the program
// was killed, the machine lost power) made whole in its own container: its
// packets are copied as they are (nothing is encoded again) into a new file
// that gets the container's end (index, cues, duration), so it plays and
// seeks up to the last packet that reached the disk. A packet the disk holds
// only part of is left out.

#include <functional>
#include <optional>
#include <string>

#include "common/OutputFormats.h"

namespace velmora::engine {

// The container a part's name says it holds: "x.mp4.part" -> MP4; nothing
// for any other name.
std::optional<OutputFormat> PartContainer(const std::string& part);

// Whether the file starts as a file of that container does (RIFF AVI, an MP4
// box, an EBML header); reads a few bytes without waiting or following a link.
bool StartsAsContainer(const std::string& path, OutputFormat format);

struct PartFinish {
    enum Kind {
        Finished,   // target holds the recording; the part is deleted
        Refused,    // the part is not a recording's file we can take: untouched
        Cancelled,  // progress said stop: no target, the part untouched
        Failed,     // the copy failed or does not play: no target, the part untouched
    } kind = Failed;
    std::string reason;   // Refused, Failed: why, in a few English words
    int systemError = 0;  // Failed: the errno where there is one (ENOSPC: the disk is full)
    double seconds = 0;   // Finished: what the target holds
};

// Finishes part into target, whose name must be free (a file there is never
// replaced). Taken only when part is a regular file of this user that no
// recording writes (the writer's flock), that holds the container its name
// says, with a stream that decodes. progress gets 0..99 as the part is read
// and returns false to cancel. The part is deleted only once the target has
// been read back and lasts as long as the packets copied into it.
PartFinish FinishPart(const std::string& part, const std::string& target,
                      const std::function<bool(int percent)>& progress = {});

}  // namespace velmora::engine
