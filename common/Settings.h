#pragma once
// The process-wide settings: one set for the run, read from Setup.ini beside
// the program at start and written back by SaveSettings. The main window, the
// options dialog and the area selector read and write them directly on the
// UI thread; the engine sees them only through ApplySettings.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/OutputFormats.h"

namespace velmora {

inline constexpr const char* AppVersion = "1.0.4";
// The longest countdown Options offers; the command line's delay= may ask
// for up to kMaxRunCountdown.
inline constexpr int kMaxCountdown = 10;
inline constexpr int kMaxRunCountdown = 600;

// The speed x264 trades for size, fastest first: what its "preset" option
// takes. Recording keeps up at any of them on a fast machine; ultrafast is
// the one that keeps up everywhere.
inline constexpr const char* kX264Presets[] = {
    "ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower", "veryslow"};
inline constexpr const char* kDefaultX264Preset = "ultrafast";

// The quick settings Options offers and preset= names; see shell/Presets.h.
enum class Preset { Default, WebVideo, SmallFile, Lossless };

struct TSettings {
    // Setup
    std::string Language = "English";
    // SetupVideo
    std::string WorkDir;  // output folder, used as a prefix: ends with '/'
    int TypeCapture = 1;  // 0 specific area, 1 full screen, 2 one window
    // TypeCapture 2: the X window recorded ("CaptureWindow", its id) and its
    // title and class when it was picked, for the panel and to tell another
    // window that has the id since (X reuses ids). On Wayland the portal's
    // own chooser picks the window instead.
    std::uint64_t CaptureWindow = 0;
    std::string CaptureWindowTitle;
    std::string CaptureWindowClass;
    // The monitor Full Screen records ("FullScreenMonitor"): RandR's name for
    // it, "all" for every monitor together, empty for the primary one.
    std::string FullScreenMonitor;
    bool CaptureCursor = true;
    int VideoFPS = 15;
    int KeyFramesFreq = 8;
    int CodecIndex = -1;  // position in the compressor list, -1 none chosen
    // The H.264 compressor's x264 preset ("X264Preset"), one of kX264Presets.
    std::string X264Preset = kDefaultX264Preset;
    int VideoQuality = 90;
    int RegionLeftPos = 0;
    int RegionTopPos = 0;
    int RegionWidthPos = 500;
    int RegionHeightPos = 500;
    // The kind of file a recording ends as ("OutputFormat": AVI, MP4, MKV).
    OutputFormat FileFormat = OutputFormat::Avi;
    // The ScreenCast portal's restore token: the desktop's permission to
    // share the screen again without asking. Read here; written only by
    // StoreScreenCastToken, when the portal hands a new one.
    std::string ScreenCastToken;
    // SetupApp
    bool MinimizeCapture = false;
    bool RestoreAfterRecord = true;
    bool SendStats = true;
    // Seconds counted down on the screen before a recording starts (0..10;
    // 0 starts at once).
    int Countdown = 0;
    // The status icon in the desktop's tray, and the notification when a
    // recording is saved.
    bool TrayIcon = true;
    bool NotifySaved = true;
    // SetupAudio
    bool AudioRecordEnable = false;
    int AudioFormatIndex = -1;
    int AudioInputIndex = -1;
    // The same input by its name in the list: a list in another order (a
    // headset plugged in) keeps the choice. Empty in older files.
    std::string AudioInputName;
    // Our own gain on the captured sound in percent, on the desktop's volume
    // scale (cubic; 100 leaves the samples as the input gives them). The
    // input's own volume belongs to the desktop and is never changed; the
    // older AudioVolumeValue key, which set it, is no longer read.
    int AudioInputGain = 100;
    // A second input recorded beside the first ("Also record"), by the name
    // the sound server knows its source by ("speakers.monitor"), so that a
    // list in another order keeps it; empty: none.
    std::string AudioInput2Name;
    // Our gain on the second input, on the same scale as AudioInputGain.
    // Older files kept it as a share of the amplitude (50 halved it); such a
    // file, without AudioInput2VolumeLaw=cubic, is read as the percent that
    // keeps its level.
    int AudioInput2Volume = 100;
    // Two inputs go into the file as two sound streams, the first input's
    // first, instead of one track that mixes them.
    bool AudioSeparateTracks = false;
    // How the sound is kept in the file ("AudioCodec": PCM, AAC, OPUS,
    // FLAC), always one the file format can hold.
    SoundCodec AudioCodec = SoundCodec::Pcm;

    // For the run only, never stored.
    int PriorityIndex = 3;  // "Idle" .. "TimeCritical", 3 = "Normal"
    bool RecordTimeEnabled = false;
    int RecordHours = 0;
    int RecordMinutes = 0;
    int RecordSeconds = 0;
    // The command line's choices for the one recording it starts (or, given
    // without -vc, the next one): they are dropped once that recording has
    // started, and never shown in Options as the user's own.
    // delay=, over Countdown.
    std::optional<int> RunCountdown;
    // format=, over FileFormat.
    std::optional<OutputFormat> RunFormat;
    // time= in seconds, over the time to record; 0: no limit.
    std::optional<int> RunTimeLimit;
    // window= (an id or a title), recorded instead of the stored choice;
    // RunWindowId is the window it named when the recording started.
    std::optional<std::string> RunWindow;
    std::optional<std::uint64_t> RunWindowId;
    // monitor= (a name or "all"): that monitor in Full Screen, whatever mode
    // and monitor are stored.
    std::optional<std::string> RunMonitor;
    // preset=: its codec, format, frame rate and sound over the stored ones.
    std::optional<Preset> RunPreset;
    // What reading the file had to change about the file format and the
    // sound's codec, one line each for the log; empty when nothing.
    std::string FileFormatNote, SoundCodecNote;
    // The same for an X264Preset x264 does not have.
    std::string X264PresetNote;
    std::vector<std::string> CompressorNames;  // the catalogue's names, for the options dialog
};

// The settings of this process.
extern TSettings Settings;

// "Setup.ini" where this run keeps its settings (see SettingsLocation.h).
std::string SettingsFile();

// Every stored setting from the file; missing keys, a missing file and values
// that are not integers give the defaults (WorkDir: defaultWorkDir). The frame
// rate is brought into 1..60, the key-frame interval into 1..300, quality and
// gain into 0..100, and an area narrower or lower than 1 pixel becomes 16, so
// no stored value can break a recording. An unknown file format is AVI; a
// sound codec the format cannot hold (or none) is the format's own; an
// unknown or changed value is told in FileFormatNote and SoundCodecNote. An
// X264Preset x264 does not have is kDefaultX264Preset, told in
// X264PresetNote. A text with a line break in it (a lone CR) gives the
// default, as it could not be written back.
TSettings ReadSettings(const std::string& file, const std::string& defaultWorkDir);

// The file format and sound codec this run records with: the stored ones,
// or a command line's format with its own sound (the stored codec is the
// stored format's choice).
OutputFormat RunFileFormat(const TSettings& settings);
SoundCodec RunSoundCodec(const TSettings& settings);

// The countdown this run's recordings start after, in seconds.
int RunCountdownSeconds(const TSettings& settings);

// Drops the command line's choices: their recording has started, or will not.
void ForgetRunChoices(TSettings& settings);

// Writes every stored setting in one replacement of the file, keeping other
// sections, keys and comments. False when the file could not be written.
bool WriteSettings(const TSettings& settings, const std::string& file);

// Why file is neither read nor written (a symbolic link that is not the
// user's own), or "" when it is used.
std::string SettingsFileRefusal(const std::string& file);

// Writes the key ScreenCastToken of section SetupVideo alone (with window:
// ScreenCastWindowToken, the token of a recorded window), in place, keeping
// the rest of the file. Safe from any thread, also while WriteSettings runs
// on another. False when the file could not be written or the token cannot
// be stored (a line break in it).
bool StoreScreenCastToken(const std::string& token, const std::string& file, bool window = false);

// Hands the portal layer the token kept in the settings file of this run and
// a way to keep each new one there.
void KeepScreenCastTokenInSettings();

// Whether name is one of kX264Presets (exactly: x264 knows them in lower case).
bool IsX264Preset(const std::string& name);

// Whether a folder can be kept as WorkDir: the settings file has no room for
// a name with a line break in it (legal on Linux).
bool StorableFolder(const std::string& folder);

// The title the program runs under, from its file name: the name without its
// folder, cut at the first dot, first letter upper case and the rest lower
// ("velmora" gives "Velmora").
std::string ApplicationTitle(const std::string& executablePath);

}  // namespace velmora
