#pragma once
// The built-in compressor drivers, in the order ICInfo enumerates them.

#include <memory>
#include <vector>

#include "engine/vfw/Compressors.h"

namespace velmora::vfw {

const std::vector<std::shared_ptr<ICDriver>>& builtinDrivers();

}  // namespace velmora::vfw
