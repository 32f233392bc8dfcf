#pragma once
// What a recording takes: an area that follows the pointer, a fixed area,
// a monitor (or all of them), or one window.

#include <cstdint>

namespace velmora::engine {

enum class CaptureMode : std::uint8_t { FollowMouse, FixedArea, FullScreen, Window };

}  // namespace velmora::engine
