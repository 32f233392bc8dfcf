#include "common/Settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/SettingsLocation.h"
#include "common/VolumeLaw.h"
#include "platform/profile/OwnFiles.h"
#include "platform/profile/Profile.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora {

TSettings Settings;

namespace {
constexpr int kSmallestArea = 16;
constexpr int kLastAudioFormat = 19;  // the catalogue's twenty formats, stored minus one
// Marks AudioInput2Volume as a percent of VolumeFactor's scale.
constexpr const char* kCubicVolumeLaw = "cubic";
// The portal's token arrives on whatever thread grabbed first; the file's
// writers must not interleave their load and save.
std::mutex fileMutex;
}  // namespace

std::string SettingsFile() {
    return CurrentSettingsLocation().settingsFolder + "Setup.ini";
}

TSettings ReadSettings(const std::string& file, const std::string& defaultWorkDir) {
    platform::PrivateProfile ini(file);
    ini.Load();
    TSettings s;
    s.Language = ini.ReadString("Setup", "Language", s.Language);
    s.WorkDir = ini.ReadString("SetupVideo", "WorkDir", defaultWorkDir);
    s.TypeCapture = ini.ReadInteger("SetupVideo", "TypeCapture", s.TypeCapture);
    s.CaptureWindow =
        std::strtoull(ini.ReadString("SetupVideo", "CaptureWindow", "0").c_str(), nullptr, 0);
    s.CaptureWindowTitle = ini.ReadString("SetupVideo", "CaptureWindowTitle", "");
    s.CaptureWindowClass = ini.ReadString("SetupVideo", "CaptureWindowClass", "");
    s.FullScreenMonitor = ini.ReadString("SetupVideo", "FullScreenMonitor", "");
    s.CaptureCursor = ini.ReadBool("SetupVideo", "CaptureCursor", s.CaptureCursor);
    s.VideoFPS = std::clamp(ini.ReadInteger("SetupVideo", "VideoFPS", s.VideoFPS), 1, 60);
    s.KeyFramesFreq =
        std::clamp(ini.ReadInteger("SetupVideo", "KeyFramesFreq", s.KeyFramesFreq), 1, 300);
    s.CodecIndex = ini.ReadInteger("SetupVideo", "CodecIndex", s.CodecIndex);
    const std::string x264 = ini.ReadString("SetupVideo", "X264Preset", s.X264Preset);
    if (IsX264Preset(x264))
        s.X264Preset = x264;
    else
        s.X264PresetNote = "Setup.ini: X264Preset=" + x264 +
                           " is no x264 preset (ultrafast ... veryslow); H.264 records with " +
                           s.X264Preset;
    s.VideoQuality =
        std::clamp(ini.ReadInteger("SetupVideo", "VideoQuality", s.VideoQuality), 0, 100);
    s.MinimizeCapture = ini.ReadBool("SetupApp", "MinimizeCapture", s.MinimizeCapture);
    s.RestoreAfterRecord = ini.ReadBool("SetupApp", "RestoreAfterRecord", s.RestoreAfterRecord);
    s.SendStats = ini.ReadBool("SetupApp", "SendStats", s.SendStats);
    s.Countdown =
        std::clamp(ini.ReadInteger("SetupApp", "Countdown", s.Countdown), 0, kMaxCountdown);
    s.TrayIcon = ini.ReadBool("SetupApp", "TrayIcon", s.TrayIcon);
    s.NotifySaved = ini.ReadBool("SetupApp", "NotifySaved", s.NotifySaved);
    // X screens are at most 32767 pixels each way: the area is held to what
    // one can show, so corner plus size never overflows.
    constexpr int kScreenLimit = 32767;
    s.RegionTopPos = std::clamp(ini.ReadInteger("SetupVideo", "RegionTopPos", s.RegionTopPos),
                                -kScreenLimit, kScreenLimit);
    s.RegionLeftPos = std::clamp(ini.ReadInteger("SetupVideo", "RegionLeftPos", s.RegionLeftPos),
                                 -kScreenLimit, kScreenLimit);
    s.RegionWidthPos =
        std::min(ini.ReadInteger("SetupVideo", "RegionWidthPos", s.RegionWidthPos), kScreenLimit);
    s.RegionHeightPos =
        std::min(ini.ReadInteger("SetupVideo", "RegionHeightPos", s.RegionHeightPos), kScreenLimit);
    if (s.RegionWidthPos < 1) s.RegionWidthPos = kSmallestArea;
    if (s.RegionHeightPos < 1) s.RegionHeightPos = kSmallestArea;
    s.AudioRecordEnable = ini.ReadBool("SetupAudio", "AudioRecordEnable", s.AudioRecordEnable);
    // Outside the format catalogue there is no format to record in.
    s.AudioFormatIndex =
        std::clamp(ini.ReadInteger("SetupAudio", "AudioFormatIndex", s.AudioFormatIndex), -1,
                   kLastAudioFormat);
    s.AudioInputIndex = ini.ReadInteger("SetupAudio", "AudioInputIndex", s.AudioInputIndex);
    s.AudioInputName = ini.ReadString("SetupAudio", "AudioInputName", "");
    s.AudioInputGain =
        std::clamp(ini.ReadInteger("SetupAudio", "AudioInputGain", s.AudioInputGain), 0, 100);
    s.AudioInput2Name = ini.ReadString("SetupAudio", "AudioInput2Name", "");
    s.AudioInput2Volume =
        std::clamp(ini.ReadInteger("SetupAudio", "AudioInput2Volume", s.AudioInput2Volume), 0, 100);
    if (ini.ReadString("SetupAudio", "AudioInput2VolumeLaw", "") != kCubicVolumeLaw)
        s.AudioInput2Volume = VolumeFromLinearPercent(s.AudioInput2Volume);
    s.AudioSeparateTracks =
        ini.ReadBool("SetupAudio", "AudioSeparateTracks", s.AudioSeparateTracks);
    const std::string format = ini.ReadString("SetupVideo", "OutputFormat", "");
    s.FileFormat = ParseOutputFormat(format).value_or(OutputFormat::Avi);
    if (!format.empty() && !ParseOutputFormat(format))
        s.FileFormatNote =
            "Setup.ini: OutputFormat=" + format +
            " is no file format of ours (AVI, MP4, MKV); recordings are saved as AVI";
    const std::string codec = ini.ReadString("SetupAudio", "AudioCodec", "");
    const std::optional<SoundCodec> stored = ParseSoundCodec(codec);
    s.AudioCodec = stored.value_or(DefaultSoundCodec(s.FileFormat));
    if (!ContainerTakesSound(s.FileFormat, s.AudioCodec))
        s.AudioCodec = DefaultSoundCodec(s.FileFormat);
    if (!codec.empty() && !stored)
        s.SoundCodecNote = "Setup.ini: AudioCodec=" + codec +
                           " is no sound codec of ours (PCM, AAC, OPUS, FLAC); the sound is saved "
                           "as " +
                           SoundCodecTitle(s.AudioCodec);
    else if (stored && stored != s.AudioCodec)
        s.SoundCodecNote = "Setup.ini: AudioCodec=" + codec + " cannot be kept in " +
                           FormatTitle(s.FileFormat) + " files; the sound is saved as " +
                           SoundCodecTitle(s.AudioCodec);
    // A lone carriage return stays inside a value; such a value could not be
    // written back, and with it no setting would be saved again.
    if (!StorableFolder(s.Language)) s.Language = TSettings().Language;
    if (!StorableFolder(s.WorkDir)) s.WorkDir = defaultWorkDir;
    s.ScreenCastToken = ini.ReadString("SetupVideo", "ScreenCastToken", "");
    if (!StorableFolder(s.ScreenCastToken)) s.ScreenCastToken.clear();
    if (!StorableFolder(s.AudioInputName)) s.AudioInputName.clear();
    if (!StorableFolder(s.AudioInput2Name)) s.AudioInput2Name.clear();
    return s;
}

OutputFormat RunFileFormat(const TSettings& s) {
    return s.RunFormat.value_or(s.FileFormat);
}

SoundCodec RunSoundCodec(const TSettings& s) {
    return RunFileFormat(s) == s.FileFormat ? s.AudioCodec : DefaultSoundCodec(RunFileFormat(s));
}

int RunCountdownSeconds(const TSettings& s) {
    return s.RunCountdown.value_or(s.Countdown);
}

void ForgetRunChoices(TSettings& s) {
    s.RunCountdown.reset();
    s.RunFormat.reset();
    s.RunTimeLimit.reset();
    s.RunWindow.reset();
    s.RunWindowId.reset();
    s.RunMonitor.reset();
    s.RunPreset.reset();
}

bool WriteSettings(const TSettings& s, const std::string& file) {
    // ScreenCastToken is not written: the copy here may be older than the
    // one StoreScreenCastToken has put into the file since.
    std::lock_guard lock(fileMutex);
    platform::PrivateProfile ini(file);
    if (!ini.Load()) return false;
    // This order makes a new file's sections Setup, SetupApp, SetupVideo, SetupAudio.
    ini.WriteString("Setup", "Language", s.Language);
    ini.WriteBool("SetupApp", "MinimizeCapture", s.MinimizeCapture);
    ini.WriteBool("SetupApp", "RestoreAfterRecord", s.RestoreAfterRecord);
    ini.WriteBool("SetupApp", "SendStats", s.SendStats);
    ini.WriteInteger("SetupApp", "Countdown", s.Countdown);
    ini.WriteBool("SetupApp", "TrayIcon", s.TrayIcon);
    ini.WriteBool("SetupApp", "NotifySaved", s.NotifySaved);
    ini.WriteString("SetupVideo", "WorkDir", s.WorkDir);
    ini.WriteInteger("SetupVideo", "TypeCapture", s.TypeCapture);
    char windowId[24];
    std::snprintf(windowId, sizeof windowId, "0x%llx",
                  static_cast<unsigned long long>(s.CaptureWindow));
    ini.WriteString("SetupVideo", "CaptureWindow", windowId);
    // A line break would end the value early: such a title is shown, not kept.
    ini.WriteString("SetupVideo", "CaptureWindowTitle",
                    StorableFolder(s.CaptureWindowTitle) ? s.CaptureWindowTitle : "");
    ini.WriteString("SetupVideo", "CaptureWindowClass",
                    StorableFolder(s.CaptureWindowClass) ? s.CaptureWindowClass : "");
    ini.WriteString("SetupVideo", "FullScreenMonitor",
                    StorableFolder(s.FullScreenMonitor) ? s.FullScreenMonitor : "");
    ini.WriteInteger("SetupVideo", "VideoFPS", s.VideoFPS);
    ini.WriteInteger("SetupVideo", "KeyFramesFreq", s.KeyFramesFreq);
    ini.WriteInteger("SetupVideo", "CodecIndex", s.CodecIndex);
    ini.WriteString("SetupVideo", "X264Preset",
                    IsX264Preset(s.X264Preset) ? s.X264Preset : kDefaultX264Preset);
    ini.WriteInteger("SetupVideo", "VideoQuality", s.VideoQuality);
    ini.WriteInteger("SetupVideo", "RegionTopPos", s.RegionTopPos);
    ini.WriteInteger("SetupVideo", "RegionLeftPos", s.RegionLeftPos);
    ini.WriteInteger("SetupVideo", "RegionWidthPos", s.RegionWidthPos);
    ini.WriteInteger("SetupVideo", "RegionHeightPos", s.RegionHeightPos);
    ini.WriteString("SetupVideo", "OutputFormat", FormatKey(s.FileFormat));
    ini.WriteBool("SetupVideo", "CaptureCursor", s.CaptureCursor);
    ini.WriteBool("SetupAudio", "AudioRecordEnable", s.AudioRecordEnable);
    ini.WriteInteger("SetupAudio", "AudioFormatIndex", s.AudioFormatIndex);
    ini.WriteInteger("SetupAudio", "AudioInputIndex", s.AudioInputIndex);
    ini.WriteString("SetupAudio", "AudioInputName", s.AudioInputName);
    ini.WriteInteger("SetupAudio", "AudioInputGain", s.AudioInputGain);
    ini.WriteString("SetupAudio", "AudioInput2Name", s.AudioInput2Name);
    ini.WriteInteger("SetupAudio", "AudioInput2Volume", s.AudioInput2Volume);
    ini.WriteString("SetupAudio", "AudioInput2VolumeLaw", kCubicVolumeLaw);
    ini.WriteBool("SetupAudio", "AudioSeparateTracks", s.AudioSeparateTracks);
    ini.WriteString("SetupAudio", "AudioCodec", SoundCodecKey(s.AudioCodec));
    return ini.Save();
}

std::string SettingsFileRefusal(const std::string& file) {
    const platform::LinkCheck link = platform::CheckLink(file);
    if (link.kind != platform::LinkCheck::Foreign) return {};
    return file + " is a link not followed (" + link.why +
           "): the settings are not read from it, and the settings of this session are not saved";
}

bool StoreScreenCastToken(const std::string& token, const std::string& file, bool window) {
    if (!StorableFolder(token)) return false;
    std::lock_guard lock(fileMutex);
    platform::PrivateProfile ini(file);
    if (!ini.Load()) return false;
    ini.WriteString("SetupVideo", window ? "ScreenCastWindowToken" : "ScreenCastToken", token);
    return ini.Save();
}

void KeepScreenCastTokenInSettings() {
    using platform::ScreenCastSource;
    platform::SetScreenCastTokenStore(
        {[](ScreenCastSource source) {
             std::lock_guard lock(fileMutex);
             platform::PrivateProfile ini(SettingsFile());
             ini.Load();
             const std::string token = ini.ReadString(
                 "SetupVideo",
                 source == ScreenCastSource::Window ? "ScreenCastWindowToken" : "ScreenCastToken",
                 "");
             return StorableFolder(token) ? token : std::string();
         },
         [](const std::string& token, ScreenCastSource source) {
             StoreScreenCastToken(token, SettingsFile(), source == ScreenCastSource::Window);
         }});
}

bool IsX264Preset(const std::string& name) {
    return std::find(std::begin(kX264Presets), std::end(kX264Presets), name) !=
           std::end(kX264Presets);
}

bool StorableFolder(const std::string& folder) {
    return folder.find_first_of("\r\n") == std::string::npos;
}

std::string ApplicationTitle(const std::string& executablePath) {
    std::string name = executablePath.substr(executablePath.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        name[i] = static_cast<char>(i == 0 ? std::toupper(c) : std::tolower(c));
    }
    return name;
}

}  // namespace velmora
