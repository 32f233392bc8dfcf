// The presets: what each sets, which one a set of controls matches, and
// preset= for one recording.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "common/Settings.h"
#include "shell/CommandLine.h"
#include "shell/EngineSettings.h"
#include "shell/Presets.h"

using namespace velmora;

namespace {

// The catalogue's names in the list's order, as a full build has them.
const std::vector<std::string> kCompressors = {
    "Microsoft Video 1", "Xvid MPEG-4 Codec",       "Motion JPEG",   "H.264 (x264)",
    "HuffYUV Lossless",  "Zip Motion Blocks Video", "FFV1 Lossless", "Full Frames (Uncompressed)"};

PresetContext Context() {
    return PresetContext{kCompressors, 2, "Microphone"};
}

// What a first start runs with: a missing Setup.ini, the codec chosen as
// start-up chooses it.
TSettings FreshSettings() {
    QTemporaryDir dir;
    TSettings s = ReadSettings(dir.filePath(QStringLiteral("Setup.ini")).toStdString(), "/v/");
    s.CompressorNames = kCompressors;
    s.CodecIndex = DefaultCompressorIndex(kCompressors);
    return s;
}

TEST(Presets, EachSetsItsCodecFormatFrameRateKeyFramesAndSound) {
    TSettings s = FreshSettings();
    s.AudioInputIndex = 0;
    ApplyPreset(Preset::WebVideo, Context(), s);
    EXPECT_EQ(s.CodecIndex, 3);
    EXPECT_EQ(s.FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(s.AudioCodec, SoundCodec::Aac);
    EXPECT_EQ(s.VideoFPS, 30);
    EXPECT_EQ(s.KeyFramesFreq, 60);  // 2 s
    EXPECT_EQ(s.VideoQuality, 70);
    EXPECT_EQ(s.X264Preset, "ultrafast");
    EXPECT_TRUE(s.AudioRecordEnable);
    EXPECT_EQ(s.AudioFormatIndex, 19);  // 48 kHz 16-bit stereo
    EXPECT_EQ(s.AudioInputIndex, 2);    // the desktop's default input
    EXPECT_EQ(s.AudioInputName, "Microphone");

    ApplyPreset(Preset::SmallFile, Context(), s);
    EXPECT_EQ(s.FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(s.VideoFPS, 15);
    EXPECT_EQ(s.KeyFramesFreq, 30);  // still 2 s
    EXPECT_EQ(s.X264Preset, "veryfast");

    // Lossless leaves what its codec ignores as it was.
    ApplyPreset(Preset::Lossless, Context(), s);
    EXPECT_EQ(s.CodecIndex, 6);
    EXPECT_EQ(s.FileFormat, OutputFormat::Mkv);
    EXPECT_EQ(s.AudioCodec, SoundCodec::Flac);
    EXPECT_EQ(s.KeyFramesFreq, 30);
    EXPECT_EQ(s.X264Preset, "veryfast");
    // Without FFV1, HuffYUV.
    PresetContext noFfv1 = Context();
    noFfv1.compressorNames.erase(noFfv1.compressorNames.begin() + 6);
    EXPECT_EQ(PresetChoicesOf(Preset::Lossless, noFfv1).codecIndex, 4);
    // A mixer that names no default input keeps the stored one.
    PresetContext noInput = Context();
    noInput.defaultInput = -1;
    noInput.defaultInputName.clear();
    s.AudioInputIndex = 1;
    ApplyPreset(Preset::WebVideo, noInput, s);
    EXPECT_EQ(s.AudioInputIndex, 1);
}

TEST(Presets, DefaultIsWhatAFreshSetupIniMeans) {
    const TSettings fresh = FreshSettings();
    EXPECT_EQ(MatchingPreset(StoredChoices(fresh), Context()), Preset::Default);
    TSettings s = fresh;
    s.X264Preset = "slow";
    s.VideoQuality = 40;
    ApplyPreset(Preset::WebVideo, Context(), s);
    ApplyPreset(Preset::Default, Context(), s);
    EXPECT_EQ(s.CodecIndex, fresh.CodecIndex);
    EXPECT_EQ(kCompressors[static_cast<std::size_t>(s.CodecIndex)], "Xvid MPEG-4 Codec");
    EXPECT_EQ(s.VideoQuality, fresh.VideoQuality);  // compared with no codec but H.264's
    EXPECT_EQ(s.X264Preset, fresh.X264Preset);
}

TEST(Presets, TheControlsShowThePresetTheyMatchElseCustom) {
    for (Preset preset : kPresets) {
        TSettings s = FreshSettings();
        ApplyPreset(preset, Context(), s);
        EXPECT_EQ(MatchingPreset(StoredChoices(s), Context()), preset) << PresetKey(preset);
        // Any one control changed is the user's own set.
        PresetChoices changed = StoredChoices(s);
        ++changed.framesPerSecond;
        EXPECT_EQ(MatchingPreset(changed, Context()), std::nullopt) << PresetKey(preset);
    }
    TSettings s = FreshSettings();
    ApplyPreset(Preset::WebVideo, Context(), s);
    PresetChoices shown = StoredChoices(s);
    shown.keyFrames = 8;
    EXPECT_EQ(MatchingPreset(shown, Context()), std::nullopt);
    shown = StoredChoices(s);
    shown.x264Preset = "medium";
    EXPECT_EQ(MatchingPreset(shown, Context()), std::nullopt);
    shown = StoredChoices(s);
    shown.audioInput = 0;  // not the default input
    EXPECT_EQ(MatchingPreset(shown, Context()), std::nullopt);

    // What makes no difference is not compared: the sound's format while it
    // is off, x264's preset with Xvid, the quality with FFV1.
    shown = StoredChoices(FreshSettings());
    shown.audioFormatIndex = 3;
    shown.x264Preset = "slower";
    EXPECT_EQ(MatchingPreset(shown, Context()), Preset::Default);
    ApplyPreset(Preset::Lossless, Context(), s);
    shown = StoredChoices(s);
    shown.quality = 3;
    shown.keyFrames = 1;
    EXPECT_EQ(MatchingPreset(shown, Context()), Preset::Lossless);
}

TEST(Presets, PresetOnTheCommandLineIsForItsRecordingOnly) {
    for (const auto& [name, preset] :
         {std::pair{"web", Preset::WebVideo}, std::pair{"Small", Preset::SmallFile},
          std::pair{"LOSSLESS", Preset::Lossless}, std::pair{"default", Preset::Default}})
        EXPECT_EQ(ParsePreset(name), preset) << name;
    EXPECT_EQ(ParsePreset("webvideo"), std::nullopt);

    TSettings s = FreshSettings();
    EXPECT_TRUE(ReadCommandLine({"-vc", "preset=web", "time=2"}, s, {}));
    EXPECT_EQ(s.RunPreset, Preset::WebVideo);
    // Nothing stored changes; the run's copy has the preset.
    EXPECT_EQ(MatchingPreset(StoredChoices(s), Context()), Preset::Default);
    const TSettings run = RunSettings(s, Context());
    EXPECT_EQ(MatchingPreset(StoredChoices(run), Context()), Preset::WebVideo);
    EXPECT_EQ(ToEngineSettings(run).FileFormat, OutputFormat::Mp4);
    // format= wins over the preset's format, with that format's sound.
    s.RunFormat = OutputFormat::Mkv;
    const EngineSettings mkv = ToEngineSettings(RunSettings(s, Context()));
    EXPECT_EQ(mkv.FileFormat, OutputFormat::Mkv);
    EXPECT_EQ(mkv.CompressorIndex, 3);
    EXPECT_EQ(mkv.FramesPerSecond, 30);

    EXPECT_EQ(UnknownParameter({"-vc", "PRESET=small"}), std::nullopt);
    EXPECT_EQ(InvalidParameter({"-vc", "preset=huge"}),
              "velmora: preset=huge: no such preset; use preset=default, preset=web, "
              "preset=small or preset=lossless\n");
    EXPECT_TRUE(InvalidParameter({"preset="}));
    TSettings untouched = FreshSettings();
    ReadCommandLine({"preset=huge"}, untouched, {});
    EXPECT_EQ(untouched.RunPreset, std::nullopt);
}

}  // namespace
