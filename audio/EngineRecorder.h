#pragma once
// The stock recorder as the recording engine sees it. The engine knows only
// its interface header, so engine/ never links the audio library; the shell
// hands the engine what CreateEngineAudioRecorder makes.

#include <memory>

#include "common/EngineAudio.h"

namespace velmora::audio {

std::unique_ptr<engine::TEngineAudioRecorder> CreateEngineAudioRecorder();

}  // namespace velmora::audio
