#pragma once
// The built-in compressor drivers, in the order ICInfo enumerates them.

#include <memory>
#include <vector>

struct AVCodecParameters;

#include "engine/vfw/Compressors.h"

namespace velmora::vfw {

const std::vector<std::shared_ptr<ICDriver>>& builtinDrivers();

// Zip Motion Blocks at a quality of 0..10000: zlib level and the motion
// search's reach in pixels.
struct ZmbvSettings {
    int zlibLevel;
    int motionRange;
};
ZmbvSettings zmbvSettings(DWORD quality);

// Encoder threads a built-in driver uses when the setup asks for none.
int encoderThreads(FOURCC handler);

// Tags a stream of a built-in YUV codec with the colours its encoder writes
// (BT.601 matrix; limited range, full for Motion JPEG), for containers that
// carry them; other codecs are left alone.
void DescribeColours(AVCodecParameters* par);

}  // namespace velmora::vfw
