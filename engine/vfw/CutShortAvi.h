#pragma once
// Finishing an AVI file whose writing stopped before its end (the disk
// filled): the whole chunks of its movi list get the index and the header
// counts the muxer could not write, so players see its length and can seek.
// Private to engine/vfw.

#include <cstdint>
#include <vector>

namespace velmora::vfw {

struct CutShortResult {
    bool finished = false;
    std::int64_t chunks = 0;  // chunks in the finished file
    int error = 0;            // errno when not finished
};

// fd is the file, open for reading and writing. keyFrames gives, in the
// order written, whether each non-empty chunk is a key frame (the file does
// not say); chunks past its end count as key frames. Chunks are given up from
// the end while the index does not fit on the disk. A file with more than one
// RIFF list (past 1 GiB) has its own indexes and is left alone.
CutShortResult FinishCutShortAvi(int fd, const std::vector<bool>& keyFrames);

}  // namespace velmora::vfw
