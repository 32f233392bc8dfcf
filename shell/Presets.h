#pragma once
// Quick settings: one choice sets the codec, the file format, the frame rate,
// the key frames, the quality, x264's preset and the sound together, and
// every control stays free to change after. Options shows the preset the
// controls match, "Custom" when they match none, so no preset name is
// stored: what is stored is what the controls hold. preset= on the command
// line sets them for one recording.
//
//   Default    AVI, Xvid, 15 fps, a key frame every 8 frames, no sound: what a
//              fresh Setup.ini means.
//   Web video  MP4, H.264, 30 fps, a key frame every 2 s, AAC 48 kHz stereo
//              from the desktop's default input: plays in web browsers.
//   Small file the same at 15 fps, lower quality and a slower x264 preset.
//   Lossless   Matroska, FFV1 (HuffYUV where it is missing), FLAC.

#include <optional>
#include <string>
#include <vector>

#include "common/OutputFormats.h"
#include "common/Settings.h"

namespace velmora {

inline constexpr Preset kPresets[] = {Preset::Default, Preset::WebVideo, Preset::SmallFile,
                                      Preset::Lossless};

// The command line's name of a preset: "default", "web", "small", "lossless".
std::string PresetKey(Preset preset);
// A preset by its command-line name, in any letter case.
std::optional<Preset> ParsePreset(const std::string& name);
// Every name as the command line takes it, for an error: "preset=default,
// preset=web, preset=small or preset=lossless".
std::string PresetKeys();

// What a preset's choices depend on in this session.
struct PresetContext {
    std::vector<std::string> compressorNames;  // the catalogue's, in the list's order
    // The desktop's default sound input: its place in the mixer's list and
    // its name there; -1 and empty when the mixer names none.
    int defaultInput = -1;
    std::string defaultInputName;
};

// The controls a preset sets.
struct PresetChoices {
    int codecIndex = -1;
    OutputFormat format = OutputFormat::Avi;
    SoundCodec sound = SoundCodec::Pcm;
    int framesPerSecond = 15;
    int keyFrames = 8;
    int quality = 90;
    std::string x264Preset = kDefaultX264Preset;
    bool soundOn = false;
    // With soundOn: the catalogue's format (stored minus one) and the input.
    int audioFormatIndex = -1;
    int audioInput = -1;
    std::string audioInputName;
};

PresetChoices PresetChoicesOf(Preset preset, const PresetContext& context);

// Whether the preset sets the key frames, the quality and x264's preset: not
// with a lossless codec, which ignores them, so they stay as they were.
bool SetsQuality(const PresetChoices& preset, const std::vector<std::string>& compressorNames);

// The same choices as the settings hold them.
PresetChoices StoredChoices(const TSettings& settings);

// Whether shown is what preset sets; what makes no difference is not
// compared: the sound's format and input while it is off, x264's preset with
// another codec, the quality and key frames with a lossless codec.
bool ChoicesMatch(const PresetChoices& preset, const PresetChoices& shown,
                  const std::vector<std::string>& compressorNames);

// The preset whose choices shown has; nothing when it has none's ("Custom").
std::optional<Preset> MatchingPreset(const PresetChoices& shown, const PresetContext& context);

// Sets the preset's choices in settings (its sound format and input only
// where it turns the sound on).
void ApplyPreset(Preset preset, const PresetContext& context, TSettings& settings);

// What the next recording records with: the settings, with a command line's
// preset (RunPreset) over them; the settings themselves stay as stored.
TSettings RunSettings(const TSettings& settings, const PresetContext& context);

}  // namespace velmora
