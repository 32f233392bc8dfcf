#pragma once
// File helpers of the engine's temporary and target files.

#include <sys/stat.h>

#include <string>

#include "common/Functions.h"

namespace velmora::engine {

inline bool FileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// EraseFile, and the file really gone: a file held open elsewhere is only
// arranged for deletion at the next start and would still be in the way.
inline bool RemoveTempFile(const std::string& path) {
    return EraseFile(path) && !FileExists(path);
}

}  // namespace velmora::engine
