#pragma once
// What ApplySettings hands to the recording engine, computed from the
// process-wide settings. Kept apart from the engine so the mapping can be
// checked on its own and the engine takes it in one call.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Settings.h"
#include "engine/CaptureMode.h"

namespace velmora {

struct EngineTimeLimit {
    // Each number travels in one byte, its low 8 bits.
    std::uint8_t Hours = 0, Minutes = 0, Seconds = 0;
};

struct EngineAudio {
    int AudioFormatIndex = -1;    // engine's RecordAudio becomes true with it
    int AudioInputIndex = -1;     // SelectAudioInput
    int AudioInputGain = 100;     // SetAudioInputVolume: our gain, percent
    std::string SecondInput;      // SelectSecondAudioInput: the server's name, or empty
    int SecondInputVolume = 100;  // SetSecondAudioVolume: our gain on it, percent
    bool SeparateTracks = false;  // SeparateSoundTracks
};

struct EngineSettings {
    int CompressorIndex = -1;
    int Quality = 0;  // 0..10000
    int ThreadPriority = 3;
    bool CaptureCursor = true;
    bool RestoreAfterRecord = true;
    bool MinimizeOnRecord = false;
    int KeyFrameEvery = 8;
    int FrameInterval = 66;  // milliseconds, 1000 div FramesPerSecond
    int FramesPerSecond = 15;
    // Unset: no time limit and no sound; the engine keeps its capture mode.
    std::optional<EngineTimeLimit> TimeLimit;
    int CaptureLeft = 0, CaptureTop = 0, CaptureWidth = 0, CaptureHeight = 0;
    std::optional<engine::CaptureMode> CaptureMode;
    std::uint64_t CaptureWindow = 0;  // CaptureMode::Window
    std::string Monitor;              // CaptureMode::FullScreen: a name, "all", or "" (the primary)
    std::optional<EngineAudio> Audio;
    // What the merge writes: always a pair the format holds.
    OutputFormat FileFormat = OutputFormat::Avi;
    SoundCodec SoundCompression = SoundCodec::Pcm;
};

// The engine's view of the settings. A frame rate outside 1..60 is clamped
// and an area side below 1 becomes 16 pixels.
EngineSettings ToEngineSettings(const TSettings& settings);

// Copies the settings into the recording engine (TScreenCamera, or a test
// double with its fields). An unset time limit or sound switches them off;
// an unset capture mode leaves the engine's alone.
template <typename Camera>
void CopyIntoEngine(const EngineSettings& e, Camera& camera) {
    camera.CompressorIndex = e.CompressorIndex;
    camera.FileFormat = e.FileFormat;
    camera.SoundCompression = e.SoundCompression;
    camera.Quality = e.Quality;
    camera.ThreadPriority = static_cast<decltype(camera.ThreadPriority)>(e.ThreadPriority);
    camera.CaptureCursor = e.CaptureCursor;
    camera.RestoreAfterRecord = e.RestoreAfterRecord;
    camera.MinimizeOnRecord = e.MinimizeOnRecord;
    camera.KeyFrameEvery = e.KeyFrameEvery;
    camera.FrameInterval = e.FrameInterval;
    camera.FramesPerSecond = static_cast<decltype(camera.FramesPerSecond)>(e.FramesPerSecond);
    camera.TimeLimit.Enabled = e.TimeLimit.has_value();
    if (e.TimeLimit) {
        camera.TimeLimit.Hours = e.TimeLimit->Hours;
        camera.TimeLimit.Minutes = e.TimeLimit->Minutes;
        camera.TimeLimit.Seconds = e.TimeLimit->Seconds;
    }
    camera.Left = e.CaptureLeft;
    camera.Top = e.CaptureTop;
    camera.Width = e.CaptureWidth;
    camera.Height = e.CaptureHeight;
    if (e.CaptureMode) camera.Mode = *e.CaptureMode;
    camera.CaptureWindow = e.CaptureWindow;
    camera.Monitor = e.Monitor;
    camera.RecordAudio = e.Audio.has_value();
    if (e.Audio) {
        camera.AudioFormatIndex = e.Audio->AudioFormatIndex;
        camera.SelectAudioInput(e.Audio->AudioInputIndex);
        camera.SetAudioInputVolume(e.Audio->AudioInputGain);
        camera.SelectSecondAudioInput(e.Audio->SecondInput);
        camera.SetSecondAudioVolume(e.Audio->SecondInputVolume);
        camera.SeparateSoundTracks = e.Audio->SeparateTracks;
    }
}

// The stored sound input's place in the list the mixer gives now: found by
// its name where one is stored, else the stored index.
int ChosenAudioInput(const TSettings& settings, const std::vector<std::string>& inputNames);

// The catalogue's H.264 compressor, by its whole name; -1 when there is none.
int H264CompressorIndex(const std::vector<std::string>& compressorNames);

// The compressor the next recording records with: the stored one, or H.264
// for a command line's MP4 while another is stored, since web browsers play
// MP4 files with H.264 video only.
int RunCompressorIndex(const TSettings& settings);

// The compressor a first run records with: "Xvid MPEG-4 Codec", else
// "Microsoft Video 1" (whole names, any letter case), else -1.
int DefaultCompressorIndex(const std::vector<std::string>& compressorNames);

}  // namespace velmora
