#pragma once
// The input mixer as the recording engine sees it: the engine lists, selects
// and levels the recording inputs through this interface only.

#include <memory>

#include "common/EngineAudio.h"

namespace velmora::platform {
class MixerDriver;
}

namespace velmora::audio {

// driver: null for the system's mixer driver.
std::unique_ptr<engine::TEngineMixer> CreateEngineMixer(platform::MixerDriver* driver = nullptr);

}  // namespace velmora::audio
