#pragma once
// libavformat's avi and wav demuxers allocate (and clear) an INFO list's tag
// as large as the list's header says, before they read it: a few corrupt bytes
// of a hundred-byte file ask for gigabytes. The readers look at the file
// first and refuse one whose INFO list claims far more bytes than the file
// holds. Private to engine/vfw.

#include <string>

namespace velmora::vfw {

// False when the RIFF file at path (WAVE or AVI) has an INFO list, where the
// demuxers would read it, that runs more than a mebibyte past the end of the
// file. True for every other file, readable or not: opening it reports what
// is wrong with it.
bool InfoListsFitFile(const std::string& path);

}  // namespace velmora::vfw
