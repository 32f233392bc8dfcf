#pragma once
// A saved file read back as a player reads it, before the files it was made
// from are deleted: a copy that only looks right must not cost the recording.

#include <string>

namespace velmora::engine {

// Empty when every stream's first frame decodes and the longest stream lasts
// to within a second of expectedSeconds; otherwise why not, in a few words.
std::string ReadBackFault(const std::string& file, double expectedSeconds);

}  // namespace velmora::engine
