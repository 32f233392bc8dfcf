// Settings file, command line and what ApplySettings hands to the engine.

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Settings.h"
#include "shell/CommandLine.h"
#include "shell/EngineSettings.h"

using namespace velmora;

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class SettingsFileTest : public testing::Test {
  protected:
    std::string Path() const { return dir_.filePath(QStringLiteral("Setup.ini")).toStdString(); }
    void Put(const std::string& text) { std::ofstream(Path()) << text; }
    QTemporaryDir dir_;
};

TEST_F(SettingsFileTest, AbsentOrEmptyFileGivesEveryDefault) {
    for (const bool create : {false, true}) {
        if (create) Put("");
        const TSettings s = ReadSettings(Path(), "/opt/velmora/");
        EXPECT_EQ(s.Language, "English");
        EXPECT_EQ(s.WorkDir, "/opt/velmora/");
        EXPECT_EQ(s.TypeCapture, 1);
        EXPECT_EQ(s.VideoFPS, 15);
        EXPECT_EQ(s.KeyFramesFreq, 8);
        EXPECT_EQ(s.VideoQuality, 90);
        EXPECT_EQ(s.CodecIndex, -1);
        EXPECT_EQ(s.RegionLeftPos, 0);
        EXPECT_EQ(s.RegionTopPos, 0);
        EXPECT_EQ(s.RegionWidthPos, 500);
        EXPECT_EQ(s.RegionHeightPos, 500);
        EXPECT_EQ(s.AudioInputGain, 100);  // the input's own level
        EXPECT_EQ(s.AudioFormatIndex, -1);
        EXPECT_EQ(s.AudioInputIndex, -1);
        EXPECT_TRUE(s.CaptureCursor && s.RestoreAfterRecord && s.SendStats);
        EXPECT_FALSE(s.MinimizeCapture || s.AudioRecordEnable);
        EXPECT_EQ(s.PriorityIndex, 3);
        EXPECT_FALSE(s.RecordTimeEnabled);
    }
}

TEST(DefaultCompressorIndex, XvidThenMicrosoftVideoOneByWholeNameIgnoringCase) {
    EXPECT_EQ(DefaultCompressorIndex({"Microsoft Video 1", "x264", "XVID MPEG-4 CODEC"}), 2);
    EXPECT_EQ(DefaultCompressorIndex({"Xvid MPEG-4 Codec 2", "microsoft video 1"}), 1);
    EXPECT_EQ(DefaultCompressorIndex({"Microsoft Video 10", "Motion JPEG"}), -1);
    EXPECT_EQ(DefaultCompressorIndex({}), -1);
}

TEST_F(SettingsFileTest, ValuesReadAsStoredAndOddOnesMadeSafe) {
    Put("[setupvideo]\nCaptureCursor=5\nVideoQuality=0x32\nKeyFramesFreq=$0A\nCodecIndex=two\n"
        "VideoFPS=0\nRegionWidthPos=0\nRegionHeightPos=-3\nWorkDir=/home/Ann/Videos/\n"
        "[SetupApp]\nSendStats=0\n");
    TSettings s = ReadSettings(Path(), "/p/");
    EXPECT_TRUE(s.CaptureCursor);
    EXPECT_EQ(s.VideoQuality, 50);
    EXPECT_EQ(s.KeyFramesFreq, 10);
    EXPECT_EQ(s.CodecIndex, -1);
    EXPECT_EQ(s.VideoFPS, 1);
    EXPECT_EQ(s.RegionWidthPos, 16);
    EXPECT_EQ(s.RegionHeightPos, 16);
    EXPECT_EQ(s.WorkDir, "/home/Ann/Videos/");
    EXPECT_FALSE(s.SendStats);
    Put("[SetupVideo]\nVideoFPS=99\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").VideoFPS, 60);
    Put("[SetupVideo]\nVideoFPS=60\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").VideoFPS, 60);

    // Out-of-range numbers would overflow the quality or give a key-frame
    // interval the encoder cannot use.
    Put("[SetupVideo]\nVideoQuality=2147483647\nKeyFramesFreq=-1\n"
        "[SetupAudio]\nAudioInputGain=$FFFFFFFF\n");
    s = ReadSettings(Path(), "/p/");
    EXPECT_EQ(s.VideoQuality, 100);
    EXPECT_EQ(s.KeyFramesFreq, 1);
    EXPECT_EQ(s.AudioInputGain, 0);
    Put("[SetupVideo]\nVideoQuality=-7\nKeyFramesFreq=1000\n[SetupAudio]\nAudioInputGain=101\n");
    s = ReadSettings(Path(), "/p/");
    EXPECT_EQ(s.VideoQuality, 0);
    EXPECT_EQ(s.KeyFramesFreq, 300);
    // Two seconds at 30 fps is kept as it is.
    Put("[SetupVideo]\nKeyFramesFreq=60\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").KeyFramesFreq, 60);
    EXPECT_EQ(s.AudioInputGain, 100);
    // The older key set the input's own volume, written at every exit: it
    // says nothing about our gain.
    Put("[SetupAudio]\nAudioVolumeValue=10\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInputGain, 100);
    // A format beyond the catalogue's twenty would be a zeroed record that
    // every recording refuses.
    Put("[SetupAudio]\nAudioFormatIndex=25\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioFormatIndex, 19);
    Put("[SetupAudio]\nAudioFormatIndex=-4\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioFormatIndex, -1);

    // Corners and sizes whose sums would overflow are held to what a screen
    // can be.
    Put("[SetupVideo]\nRegionLeftPos=-2147483648\nRegionTopPos=2147483647\n"
        "RegionWidthPos=2147483647\nRegionHeightPos=99999\n");
    s = ReadSettings(Path(), "/p/");
    EXPECT_EQ(s.RegionLeftPos, -32767);
    EXPECT_EQ(s.RegionTopPos, 32767);
    EXPECT_EQ(s.RegionWidthPos, 32767);
    EXPECT_EQ(s.RegionHeightPos, 32767);

    // A true value of 5 goes back as 1.
    Put("[SetupVideo]\nCaptureCursor=5\n");
    ASSERT_TRUE(WriteSettings(ReadSettings(Path(), "/p/"), Path()));
    EXPECT_NE(Slurp(Path()).find("CaptureCursor=1\n"), std::string::npos);
}

TEST_F(SettingsFileTest, NewFileHasItsSectionsInOrderAndEveryKeyRoundTrips) {
    TSettings s;
    s.WorkDir = "/out/";
    s.Language = "German";
    s.TypeCapture = 0;
    s.RegionLeftPos = 11;
    s.AudioRecordEnable = true;
    s.AudioInputGain = 77;
    s.AudioInputName = "Monitor of Speakers";
    s.CaptureWindow = 0x2a00007;
    s.CaptureWindowTitle = "Terminal \xe2\x80\x94 bash";
    s.CaptureWindowClass = "XTerm";
    s.AudioInput2Name = "speakers.monitor";
    s.AudioInput2Volume = 50;
    s.AudioSeparateTracks = true;
    s.Countdown = 7;
    s.TrayIcon = false;
    s.NotifySaved = false;
    ASSERT_TRUE(WriteSettings(s, Path()));
    const std::string text = Slurp(Path());
    const auto setup = text.find("[Setup]\n"), app = text.find("[SetupApp]"),
               video = text.find("[SetupVideo]"), audio = text.find("[SetupAudio]");
    EXPECT_EQ(setup, 0u);
    EXPECT_LT(setup, app);
    EXPECT_LT(app, video);
    EXPECT_LT(video, audio);
    for (const char* key : {"Language=",
                            "MinimizeCapture=",
                            "RestoreAfterRecord=",
                            "SendStats=",
                            "WorkDir=",
                            "TypeCapture=",
                            "VideoFPS=",
                            "KeyFramesFreq=",
                            "CodecIndex=",
                            "VideoQuality=",
                            "RegionTopPos=",
                            "RegionLeftPos=",
                            "RegionWidthPos=",
                            "RegionHeightPos=",
                            "CaptureCursor=",
                            "AudioRecordEnable=",
                            "AudioFormatIndex=",
                            "AudioInputIndex=",
                            "AudioInputName=",
                            "AudioInputGain=",
                            "OutputFormat=",
                            "AudioCodec=",
                            "CaptureWindow=0x2a00007",
                            "AudioInput2Name=",
                            "AudioInput2Volume=",
                            "AudioInput2VolumeLaw=cubic",
                            "AudioSeparateTracks=",
                            "Countdown=",
                            "TrayIcon=",
                            "NotifySaved="})
        EXPECT_NE(text.find(std::string("\n") + key), std::string::npos) << key;
    const TSettings back = ReadSettings(Path(), "/p/");
    EXPECT_EQ(back.WorkDir, "/out/");
    EXPECT_EQ(back.Language, "German");
    EXPECT_EQ(back.TypeCapture, 0);
    EXPECT_EQ(back.RegionLeftPos, 11);
    EXPECT_TRUE(back.AudioRecordEnable);
    EXPECT_EQ(back.AudioInputGain, 77);
    EXPECT_EQ(back.AudioInputName, "Monitor of Speakers");
    EXPECT_EQ(back.CaptureWindow, 0x2a00007u);
    EXPECT_EQ(back.CaptureWindowTitle, "Terminal \xe2\x80\x94 bash");
    EXPECT_EQ(back.CaptureWindowClass, "XTerm");
    // A title that would break the file is not kept; the window still is.
    s.CaptureWindowTitle = "two\nlines";
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_EQ(ReadSettings(Path(), "/p/").CaptureWindowTitle, "");
    EXPECT_EQ(ReadSettings(Path(), "/p/").CaptureWindow, 0x2a00007u);
    EXPECT_EQ(back.AudioInput2Name, "speakers.monitor");
    EXPECT_EQ(back.AudioInput2Volume, 50);
    EXPECT_TRUE(back.AudioSeparateTracks);
    EXPECT_EQ(back.Countdown, 7);
    EXPECT_FALSE(back.TrayIcon || back.NotifySaved);
    // An older file has no second input, no countdown, and shows the icon
    // and the notification; a countdown past Options' longest is cut to it.
    Put("[SetupApp]\nCountdown=99\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").Countdown, kMaxCountdown);
    Put("[SetupApp]\nCountdown=-3\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").Countdown, 0);
    EXPECT_TRUE(ReadSettings(Path(), "/p/").TrayIcon && ReadSettings(Path(), "/p/").NotifySaved);
    Put("[SetupAudio]\nAudioInput2Volume=400\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Name, "");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 100);
    EXPECT_FALSE(ReadSettings(Path(), "/p/").AudioSeparateTracks);
}

// An older file kept the second input's volume as a share of the amplitude;
// it becomes the percent of the sliders' one scale at the same level, once:
// what is saved from then on is marked and read as it is.
TEST_F(SettingsFileTest, AnOlderFilesSecondVolumeKeepsItsLevelAndIsConvertedOnce) {
    Put("[SetupAudio]\nAudioInputGain=50\nAudioInput2Name=speakers.monitor\n"
        "AudioInput2Volume=50\n");
    TSettings s = ReadSettings(Path(), "/p/");
    EXPECT_EQ(s.AudioInputGain, 50);  // always on the desktop's scale
    EXPECT_EQ(s.AudioInput2Volume, 79);
    // Until it is saved the file says what it said: read again, the same.
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 79);
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_NE(Slurp(Path()).find("\nAudioInput2Volume=79\n"), std::string::npos) << Slurp(Path());
    EXPECT_NE(Slurp(Path()).find("\nAudioInput2VolumeLaw=cubic\n"), std::string::npos);
    s = ReadSettings(Path(), "/p/");
    EXPECT_EQ(s.AudioInput2Volume, 79);
    EXPECT_EQ(s.AudioInputGain, 50);
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 79);
    // The ends stay where they were; a law this version does not know is
    // the older one.
    Put("[SetupAudio]\nAudioInput2Volume=0\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 0);
    Put("[SetupAudio]\nAudioInput2Volume=100\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 100);
    Put("[SetupAudio]\nAudioInput2Volume=25\nAudioInput2VolumeLaw=linear\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 63);
    Put("[SetupAudio]\nAudioInput2Volume=25\nAudioInput2VolumeLaw=cubic\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").AudioInput2Volume, 25);
}

TEST_F(SettingsFileTest, X264PresetRoundTripsAndOneX264LacksIsTheFastest) {
    EXPECT_EQ(ReadSettings(Path(), "/p/").X264Preset, "ultrafast");  // as before the key
    TSettings s;
    s.X264Preset = "veryfast";
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_NE(Slurp(Path()).find("\nX264Preset=veryfast\n"), std::string::npos) << Slurp(Path());
    EXPECT_EQ(ReadSettings(Path(), "/p/").X264Preset, "veryfast");
    EXPECT_EQ(ReadSettings(Path(), "/p/").X264PresetNote, "");
    for (const char* bad : {"VeryFast", "placebo-ish", "", "slow\rer"}) {
        Put(std::string("[SetupVideo]\nX264Preset=") + bad + "\n");
        const TSettings back = ReadSettings(Path(), "/p/");
        EXPECT_EQ(back.X264Preset, "ultrafast") << bad;
        EXPECT_NE(back.X264PresetNote.find("X264Preset="), std::string::npos) << bad;
    }
    // A value set at run time that x264 lacks is never written.
    s.X264Preset = "warp";
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_EQ(ReadSettings(Path(), "/p/").X264Preset, "ultrafast");
}

TEST(ChosenAudioInput, TheStoredNameWinsOverTheIndexWhereTheListHasIt) {
    TSettings s;
    s.AudioInputIndex = 0;
    s.AudioInputName = "Monitor of Speakers";
    // A headset came before it in the list.
    EXPECT_EQ(ChosenAudioInput(s, {"Headset", "Microphone", "Monitor of Speakers"}), 2);
    // Gone from the list, or no name stored (an older file): the index.
    EXPECT_EQ(ChosenAudioInput(s, {"Microphone"}), 0);
    s.AudioInputName.clear();
    EXPECT_EQ(ChosenAudioInput(s, {"Headset", "Microphone"}), 0);
}

TEST_F(SettingsFileTest, OtherSectionsKeysAndCommentsSurviveASave) {
    Put("; my notes\n[Mine]\nColour=blue\n\n[SetupVideo]\n; fps below\nVideoFPS=25\nExtra=yes\n");
    TSettings s = ReadSettings(Path(), "/p/");
    s.VideoFPS = 30;
    ASSERT_TRUE(WriteSettings(s, Path()));
    const std::string text = Slurp(Path());
    EXPECT_EQ(
        text.rfind("; my notes\n[Mine]\nColour=blue\n\n[SetupVideo]\n; fps below\nVideoFPS=30\n"
                   "Extra=yes\n",
                   0),
        0u)
        << text;
}

TEST_F(SettingsFileTest, UnwritableFileFailsAndIsLeftAlone) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("Setup.ini")));
    EXPECT_FALSE(WriteSettings(TSettings{}, Path()));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path())).isDir());
}

TEST_F(SettingsFileTest, FolderWithLineBreakIsNotWrittenAndTheFileStaysAsItWas) {
    Put("[Setup]\nLanguage=English\n");
    TSettings s;
    s.WorkDir = "/a\n[Setup]\nLanguage=x/";
    EXPECT_FALSE(WriteSettings(s, Path()));
    EXPECT_EQ(Slurp(Path()), "[Setup]\nLanguage=English\n");
}

TEST(ApplicationTitle, FileNameCutAtFirstDotWithOnlyTheFirstLetterUpperCase) {
    EXPECT_EQ(ApplicationTitle("/usr/bin/velmora"), "Velmora");
    EXPECT_EQ(ApplicationTitle("/x/RecorderApp.bin"), "Recorderapp");
    EXPECT_EQ(ApplicationTitle("VELMORA.old.1"), "Velmora");
}

// ---------------------------------------------------------------- command line

struct Parsed {
    bool start;
    TSettings settings;
    int invalidTimeLogs = 0;
};

Parsed Parse(std::vector<std::string> parameters) {
    Parsed p{};
    p.settings.WorkDir = "/before/";
    p.start = ReadCommandLine(parameters, p.settings, [&] { ++p.invalidTimeLogs; });
    return p;
}

TEST(CommandLine, TimeIsForItsRecordingAndLeavesTheTimeToRecordAlone) {
    Parsed p = Parse({"time=3725"});
    EXPECT_FALSE(p.start);
    EXPECT_EQ(p.settings.RunTimeLimit, 3725);
    EXPECT_FALSE(p.settings.RecordTimeEnabled);
    EXPECT_EQ(p.settings.RecordHours + p.settings.RecordMinutes + p.settings.RecordSeconds, 0);
    std::optional<EngineTimeLimit> limit = ToEngineSettings(p.settings).TimeLimit;
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->Hours, 1);
    EXPECT_EQ(limit->Minutes, 2);
    EXPECT_EQ(limit->Seconds, 5);
    // Over the user's own time to record, which it leaves as it was: 0 is
    // no limit for that recording.
    p.settings.RecordTimeEnabled = true;
    p.settings.RecordSeconds = 9;
    EXPECT_EQ(ToEngineSettings(p.settings).TimeLimit->Seconds, 5);
    p.settings.RunTimeLimit = 0;
    EXPECT_FALSE(ToEngineSettings(p.settings).TimeLimit);
    p.settings.RunTimeLimit.reset();
    EXPECT_EQ(ToEngineSettings(p.settings).TimeLimit->Seconds, 9);
    EXPECT_EQ(Parse({"TIME=0"}).settings.RunTimeLimit, 0);
}

TEST(CommandLine, BadTimeLogsCancelsRecordingAndStopsReading) {
    Parsed p = Parse({"-vc", "time=abc", "path=/after/", "/vc"});
    EXPECT_FALSE(p.start);
    EXPECT_EQ(p.invalidTimeLogs, 1);
    EXPECT_EQ(p.settings.WorkDir, "/before/");
    EXPECT_TRUE(Parse({"/VC"}).start);
    EXPECT_TRUE(Parse({"time=abc", "-vc"}).invalidTimeLogs == 1);
}

// A folder of the test's own, ending in '/'.
struct OutFolder {
    OutFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-cl-XXXXXX").string();
        path = std::string(::mkdtemp(pattern.data())) + "/";
    }
    ~OutFolder() { std::filesystem::remove_all(path); }
    std::string path;
};

TEST(CommandLine, PathSwitchIgnoresCaseButKeepsTheFolderAsWritten) {
    OutFolder out;
    std::filesystem::create_directory(out.path + "Out");
    EXPECT_EQ(Parse({"PATH=" + out.path + "Out/"}).settings.WorkDir, out.path + "Out/");
    // An existing folder is that folder; another name stays a prefix of
    // the file names.
    EXPECT_EQ(Parse({"path=" + out.path + "Out"}).settings.WorkDir, out.path + "Out/");
    EXPECT_EQ(Parse({"path=" + out.path + "out"}).settings.WorkDir, out.path + "out");
    std::ofstream(out.path + "file") << "x";
    EXPECT_EQ(Parse({"path=" + out.path + "file"}).settings.WorkDir, out.path + "file");
    EXPECT_EQ(Parse({"-vc", "Path=" + out.path, "unknown"}).settings.WorkDir, out.path);
}

TEST(CommandLine, FolderThatCannotTakeRecordingsKeepsTheOldFolderAndSaysWhy) {
    OutFolder out;
    std::ofstream(out.path + "file") << "x";
    const std::pair<std::string, std::string> cases[] = {
        {"/a\n[Setup]\nLanguage=x/", "the name has a line break"},
        {out.path + "missing/", "No such file or directory"},
        {out.path + "file/", "Not a directory"},
        {"/proc/", ""},  // the system's own reason, whatever it is
        {"/" + std::string(5000, 'a') + "/", "File name too long"}};
    for (const auto& [folder, reason] : cases) {
        TSettings s;
        s.WorkDir = "/before/";
        std::vector<std::pair<std::string, std::string>> refused;
        EXPECT_TRUE(ReadCommandLine(
            {"path=" + folder, "-vc"}, s, {},
            [&](const std::string& f, const std::string& r) { refused.emplace_back(f, r); }))
            << folder;
        EXPECT_EQ(s.WorkDir, "/before/") << folder;
        ASSERT_EQ(refused.size(), 1u) << folder;
        EXPECT_EQ(refused[0].first, folder);
        if (!reason.empty()) {
            EXPECT_EQ(refused[0].second, reason);
        }
        EXPECT_FALSE(refused[0].second.empty());
    }
    // A later usable folder still counts.
    TSettings s;
    EXPECT_FALSE(ReadCommandLine({"path=/x\ny/", "path=" + out.path}, s, {}));
    EXPECT_EQ(s.WorkDir, out.path);
    EXPECT_TRUE(StorableFolder("/with space/\t/"));
}

TEST(CommandLine, HelpAndVersionAnywhereAnswerInsteadOfStarting) {
    EXPECT_EQ(InformationRequest({"-vc", "--version"}), "Velmora 1.0.4\n");
    const auto help = InformationRequest({"--version", "path=/a/", "--help"});
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->starts_with(
        "Usage: velmora [-vc] [path=FOLDER] [time=SECONDS] [delay=SECONDS] "
        "[format=avi|mp4|mkv]\n               [window=ID|TITLE] [monitor=NAME|all] "
        "[preset=NAME]\n"));
    EXPECT_NE(help->find("$XDG_CONFIG_HOME/velmora/"), std::string::npos);
    // The program's own switches, and look-alikes, start it as before.
    EXPECT_FALSE(InformationRequest({}));
    EXPECT_FALSE(InformationRequest({"-vc", "time=5", "path=--help", "--HELP", "-version"}));
}

TEST(CommandLine, UnknownParameterIsTheFirstThatNeitherTheProgramNorQtTakes) {
    EXPECT_FALSE(UnknownParameter({}));
    EXPECT_FALSE(UnknownParameter({"-VC", "/vc", "PATH=/a/", "Time=5", "time=abc", "format=x",
                                   "--start", "--stop", "--toggle", "--pause", "--resume",
                                   "--pause-toggle", "--screen=x11", "--help", "--version"}));
    // Qt's options, one or two dashes; a value is taken whatever it looks like.
    EXPECT_FALSE(UnknownParameter({"-platform", "xcb", "--session", "--pause", "-style=Fusion",
                                   "-reverse", "-qwindowgeometry", "640x480+0+0"}));
    EXPECT_EQ(UnknownParameter({"-vc", "--pause", "--pauses", "--resume"}), "--pauses");
    for (const char* unknown : {"--HELP", "-version", "--start=now", "vc", "tme=5", "-v", "",
                                "--screen", "-styles", "-platformx"})
        EXPECT_EQ(UnknownParameter({"time=2", unknown}), unknown);
    EXPECT_TRUE(InformationRequest({"--help"})->starts_with(kUsage));
}

// ---------------------------------------------------------------- engine settings

// Stands in for TScreenCamera: the fields ApplySettings fills.
struct FakeCamera {
    struct {
        bool Enabled = false;
        std::uint8_t Hours = 9, Minutes = 9, Seconds = 9;
    } TimeLimit;
    std::int32_t CompressorIndex = 7, Quality = 0, KeyFrameEvery = 0, FrameInterval = 0;
    std::uint32_t ThreadPriority = 0, FramesPerSecond = 0;
    bool CaptureCursor = false, RestoreAfterRecord = false, MinimizeOnRecord = true;
    std::atomic<std::int32_t> Left{-1}, Top{-1};
    std::int32_t Width = 0, Height = 0;
    engine::CaptureMode Mode = engine::CaptureMode::FollowMouse;
    std::uint64_t CaptureWindow = 1;
    std::string Monitor = "untouched";
    bool RecordAudio = false;
    std::int32_t AudioFormatIndex = 5;
    OutputFormat FileFormat = OutputFormat::Avi;
    SoundCodec SoundCompression = SoundCodec::Pcm;
    std::vector<std::string> calls;
    void SelectAudioInput(int i) { calls.push_back("select " + std::to_string(i)); }
    void SetAudioInputVolume(int v) { calls.push_back("volume " + std::to_string(v)); }
    void SelectSecondAudioInput(const std::string& s) { calls.push_back("second " + s); }
    void SetSecondAudioVolume(int v) { calls.push_back("second volume " + std::to_string(v)); }
    bool SeparateSoundTracks = false;
};

TEST(ApplySettings, MapsEveryValueIntoTheEngine) {
    TSettings s;
    s.CodecIndex = 2;
    s.PriorityIndex = 0;
    s.MinimizeCapture = true;
    s.KeyFramesFreq = 12;
    s.TypeCapture = 0;
    s.RegionLeftPos = 10, s.RegionTopPos = 20, s.RegionWidthPos = 300, s.RegionHeightPos = 200;
    FakeCamera camera;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.CompressorIndex, 2);
    EXPECT_EQ(camera.Quality, 9000);
    EXPECT_EQ(camera.ThreadPriority, 0u);
    EXPECT_TRUE(camera.CaptureCursor && camera.RestoreAfterRecord && camera.MinimizeOnRecord);
    EXPECT_EQ(camera.KeyFrameEvery, 12);
    EXPECT_EQ(camera.FrameInterval, 66);
    EXPECT_EQ(camera.FramesPerSecond, 15u);
    EXPECT_EQ(camera.Left, 10);
    EXPECT_EQ(camera.Top, 20);
    EXPECT_EQ(camera.Width, 300);
    EXPECT_EQ(camera.Height, 200);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::FixedArea);
    // Switched off: no limit and no sound; the engine keeps its other values.
    EXPECT_FALSE(camera.TimeLimit.Enabled);
    EXPECT_EQ(camera.TimeLimit.Hours, 9);
    EXPECT_FALSE(camera.RecordAudio);
    EXPECT_EQ(camera.AudioFormatIndex, 5);
    EXPECT_TRUE(camera.calls.empty());

    s.TypeCapture = 1;
    s.VideoFPS = 50;
    s.RecordTimeEnabled = true;
    s.RecordHours = 257, s.RecordMinutes = 2, s.RecordSeconds = 5;  // hours in one byte
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::FullScreen);
    EXPECT_EQ(camera.FrameInterval, 20);
    EXPECT_TRUE(camera.TimeLimit.Enabled);
    EXPECT_EQ(camera.TimeLimit.Hours, 1);
    EXPECT_EQ(camera.TimeLimit.Minutes, 2);
    EXPECT_EQ(camera.TimeLimit.Seconds, 5);
    // And off again for the next recording.
    s.RecordTimeEnabled = false;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_FALSE(camera.TimeLimit.Enabled);

    s.TypeCapture = 7;  // neither: the mode stays
    camera.Mode = engine::CaptureMode::FollowMouse;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::FollowMouse);
}

TEST(ApplySettings, AudioOnlyWithRecordingEnabledAndBothIndicesValid) {
    TSettings s;
    s.AudioRecordEnable = true;
    s.AudioFormatIndex = 3;
    s.AudioInputIndex = -1;
    EXPECT_FALSE(ToEngineSettings(s).Audio);
    s.AudioInputIndex = 1;
    s.AudioRecordEnable = false;
    EXPECT_FALSE(ToEngineSettings(s).Audio);
    s.AudioRecordEnable = true;
    s.AudioInputGain = 40;
    FakeCamera camera;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_TRUE(camera.RecordAudio);
    EXPECT_EQ(camera.AudioFormatIndex, 3);
    EXPECT_EQ(camera.calls,
              (std::vector<std::string>{"select 1", "volume 40", "second ", "second volume 100"}));
    EXPECT_FALSE(camera.SeparateSoundTracks);
    // A second input goes by its source's name, its volume held to 0..100.
    s.AudioInput2Name = "speakers.monitor";
    s.AudioInput2Volume = 250;
    s.AudioSeparateTracks = true;
    camera.calls.clear();
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.calls,
              (std::vector<std::string>{"select 1", "volume 40", "second speakers.monitor",
                                        "second volume 100"}));
    EXPECT_TRUE(camera.SeparateSoundTracks);
    // Switched off again: the next recording has no sound, and the mixer is
    // left alone.
    s.AudioRecordEnable = false;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_FALSE(camera.RecordAudio);
    EXPECT_EQ(camera.calls.size(), 4u);
}

TEST(ApplySettings, ValuesSetAtRunTimeCannotBreakTheEngine) {
    TSettings s;
    s.VideoFPS = 0;  // would divide by zero
    s.RegionWidthPos = 0;
    s.RegionHeightPos = -5;
    const EngineSettings e = ToEngineSettings(s);
    EXPECT_EQ(e.FramesPerSecond, 1);
    EXPECT_EQ(e.FrameInterval, 1000);
    EXPECT_EQ(e.CaptureWidth, 16);
    EXPECT_EQ(e.CaptureHeight, 16);

    s.VideoQuality = 2147483647;  // times 100 would overflow
    s.KeyFramesFreq = -1;
    s.AudioRecordEnable = true;
    s.AudioFormatIndex = s.AudioInputIndex = 0;
    s.AudioInputGain = 1000;
    const EngineSettings high = ToEngineSettings(s);
    EXPECT_EQ(high.Quality, 10000);
    EXPECT_EQ(high.KeyFrameEvery, 1);
    ASSERT_TRUE(high.Audio);
    EXPECT_EQ(high.Audio->AudioInputGain, 100);
    s.VideoQuality = -3;
    s.KeyFramesFreq = 999;
    s.AudioInputGain = -1;
    const EngineSettings low = ToEngineSettings(s);
    EXPECT_EQ(low.Quality, 0);
    EXPECT_EQ(low.KeyFrameEvery, 300);
    EXPECT_EQ(low.Audio->AudioInputGain, 0);
}

}  // namespace

namespace {

TEST_F(SettingsFileTest, FileFormatAndSoundCodecAreTheStoredOnesOrTheFormatsOwn) {
    struct Case {
        const char* text;
        OutputFormat format;
        SoundCodec sound;
        bool noted;
    } cases[] = {
        {"", OutputFormat::Avi, SoundCodec::Pcm, false},
        {"[SetupVideo]\nOutputFormat=mp4\n", OutputFormat::Mp4, SoundCodec::Aac, false},
        {"[SetupVideo]\nOutputFormat=MKV\n[SetupAudio]\nAudioCodec=flac\n", OutputFormat::Mkv,
         SoundCodec::Flac, false},
        {"[SetupVideo]\nOutputFormat=MP4\n[SetupAudio]\nAudioCodec=PCM\n", OutputFormat::Mp4,
         SoundCodec::Aac, true},
        {"[SetupVideo]\nOutputFormat=WEBM\n[SetupAudio]\nAudioCodec=OPUS\n", OutputFormat::Avi,
         SoundCodec::Pcm, true},
        {"[SetupVideo]\nOutputFormat=MKV\n[SetupAudio]\nAudioCodec=mp3\n", OutputFormat::Mkv,
         SoundCodec::Opus, true},
    };
    for (const Case& c : cases) {
        Put(c.text);
        const TSettings s = ReadSettings(Path(), "/p/");
        EXPECT_EQ(s.FileFormat, c.format) << c.text;
        EXPECT_EQ(s.AudioCodec, c.sound) << c.text;
        EXPECT_EQ(s.FileFormatNote.empty() && s.SoundCodecNote.empty(), !c.noted) << c.text;
    }
    EXPECT_EQ(ReadSettings(Path(), "/p/").SoundCodecNote,
              "Setup.ini: AudioCodec=mp3 is no sound codec of ours (PCM, AAC, OPUS, FLAC); the "
              "sound is saved as Opus");
    Put("[SetupVideo]\nOutputFormat=WEBM\n");
    EXPECT_EQ(ReadSettings(Path(), "/p/").FileFormatNote,
              "Setup.ini: OutputFormat=WEBM is no file format of ours (AVI, MP4, MKV); recordings "
              "are saved as AVI");
    TSettings s;
    s.FileFormat = OutputFormat::Mkv;
    s.AudioCodec = SoundCodec::Flac;
    ASSERT_TRUE(WriteSettings(s, Path()));
    const std::string text = Slurp(Path());
    EXPECT_NE(text.find("\nOutputFormat=MKV\n"), std::string::npos);
    EXPECT_NE(text.find("\nAudioCodec=FLAC\n"), std::string::npos);
}

// monitor= records that monitor in Full Screen for the run, whatever mode
// and monitor are stored; the stored monitor goes into Setup.ini.
TEST(CommandLine, MonitorIsFullScreenOnThatMonitorForTheRunOnly) {
    TSettings s;
    s.TypeCapture = 0;
    s.FullScreenMonitor = "DP-1";
    EXPECT_EQ(ToEngineSettings(s).CaptureMode, engine::CaptureMode::FixedArea);
    EXPECT_EQ(ToEngineSettings(s).Monitor, "DP-1");
    EXPECT_TRUE(ReadCommandLine({"-vc", "Monitor=HDMI-2"}, s, {}));
    EXPECT_EQ(s.RunMonitor, "HDMI-2");
    EXPECT_EQ(ToEngineSettings(s).CaptureMode, engine::CaptureMode::FullScreen);
    EXPECT_EQ(ToEngineSettings(s).Monitor, "HDMI-2");
    EXPECT_EQ(s.FullScreenMonitor, "DP-1");
    FakeCamera camera;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Monitor, "HDMI-2");
    EXPECT_FALSE(UnknownParameter({"-vc", "monitor=all"}));
    EXPECT_TRUE(InvalidParameter({"monitor="}));

    QTemporaryDir folder;
    const std::string file = folder.filePath(QStringLiteral("Setup.ini")).toStdString();
    EXPECT_EQ(ReadSettings(file, "/p/").FullScreenMonitor, "");
    ASSERT_TRUE(WriteSettings(s, file));
    EXPECT_EQ(ReadSettings(file, "/p/").FullScreenMonitor, "DP-1");
}

TEST(CommandLine, FormatIsForTheRunOnlyAndAnUnknownOneIsRefusedBeforeTheStart) {
    TSettings s;
    s.FileFormat = OutputFormat::Mkv;
    s.AudioCodec = SoundCodec::Flac;
    EXPECT_TRUE(ReadCommandLine({"-vc", "FORMAT=mp4"}, s, {}));
    EXPECT_EQ(s.RunFormat, OutputFormat::Mp4);
    EXPECT_EQ(s.FileFormat, OutputFormat::Mkv);
    // The engine gets the run's format with a sound it holds.
    EngineSettings e = ToEngineSettings(s);
    EXPECT_EQ(e.FileFormat, OutputFormat::Mp4);
    EXPECT_EQ(e.SoundCompression, SoundCodec::Aac);
    s.RunFormat = OutputFormat::Mkv;
    EXPECT_EQ(ToEngineSettings(s).SoundCompression, SoundCodec::Flac);
    // The stored codec is the stored format's: another format has its own.
    s.FileFormat = OutputFormat::Avi;
    s.AudioCodec = SoundCodec::Pcm;
    EXPECT_EQ(ToEngineSettings(s).SoundCompression, SoundCodec::Opus);

    // MP4 records H.264, which browsers play, over another stored codec;
    // the stored one stays, and records the other formats.
    s.CompressorNames = {"Xvid MPEG-4 Codec", "Motion JPEG", "H.264 (x264)"};
    s.CodecIndex = 0;
    s.RunFormat = OutputFormat::Mp4;
    EXPECT_EQ(ToEngineSettings(s).CompressorIndex, 2);
    EXPECT_EQ(s.CodecIndex, 0);
    s.RunFormat = OutputFormat::Mkv;
    EXPECT_EQ(ToEngineSettings(s).CompressorIndex, 0);
    s.RunFormat.reset();
    s.FileFormat = OutputFormat::Mp4;  // the user's own MP4 with Xvid is left alone
    EXPECT_EQ(ToEngineSettings(s).CompressorIndex, 0);
    s.RunFormat = OutputFormat::Mp4;
    s.CompressorNames.pop_back();  // no H.264 here: the stored codec records
    EXPECT_EQ(ToEngineSettings(s).CompressorIndex, 0);

    EXPECT_FALSE(InvalidParameter({"-vc", "format=mkv", "format=AVI", "time=abc"}));
    EXPECT_EQ(InvalidParameter({"-vc", "format=webm"}),
              "velmora: format=webm: no such kind of file; use format=avi, format=mp4 or "
              "format=mkv\n");
    EXPECT_TRUE(InvalidParameter({"format="}));
}

TEST(CommandLine, WindowIsForTheRunOnlyAndTheStoredWindowModeReachesTheEngine) {
    TSettings s;
    s.TypeCapture = 1;
    EXPECT_TRUE(ReadCommandLine({"-vc", "WINDOW=Terminal - bash"}, s, {}));
    EXPECT_EQ(s.RunWindow, "Terminal - bash");
    EXPECT_EQ(s.TypeCapture, 1);
    FakeCamera camera;
    // Not yet looked for: the stored mode records.
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::FullScreen);
    // Found when the recording starts: that window, whatever is stored.
    s.RunWindowId = 0x400007;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::Window);
    EXPECT_EQ(camera.CaptureWindow, 0x400007u);

    s.RunWindowId.reset();
    s.TypeCapture = 2;
    s.CaptureWindow = 0x1e00003;
    CopyIntoEngine(ToEngineSettings(s), camera);
    EXPECT_EQ(camera.Mode, engine::CaptureMode::Window);
    EXPECT_EQ(camera.CaptureWindow, 0x1e00003u);

    EXPECT_FALSE(UnknownParameter({"-vc", "window=0x1e00003"}));
    EXPECT_EQ(InvalidParameter({"-vc", "window="}),
              "velmora: window=: name the window to record by its id or its title\n");
    EXPECT_FALSE(InvalidParameter({"window=xterm"}));
}

// delay= counts down before each recording of the run, over the stored
// countdown, which it leaves as it was; a value that is no number of seconds
// in range is refused before the program starts, and a running copy is
// handed it with the recording.
TEST(CommandLine, DelayIsForTheRunOnlyAndABadOneIsRefusedBeforeTheStart) {
    TSettings s;
    s.Countdown = 5;
    EXPECT_EQ(RunCountdownSeconds(s), 5);
    EXPECT_TRUE(ReadCommandLine({"-vc", "DELAY=3"}, s, {}));
    EXPECT_EQ(s.RunCountdown, 3);
    EXPECT_EQ(s.Countdown, 5);
    EXPECT_EQ(RunCountdownSeconds(s), 3);
    EXPECT_TRUE(ReadCommandLine({"delay=0", "-vc"}, s, {}));
    EXPECT_EQ(RunCountdownSeconds(s), 0);
    EXPECT_FALSE(UnknownParameter({"-vc", "delay=600"}));
    EXPECT_FALSE(InvalidParameter({"-vc", "delay=600", "delay=0"}));
    for (const char* bad : {"delay=", "delay=3s", "delay=-1", "delay=601"})
        EXPECT_EQ(InvalidParameter({"-vc", bad}),
                  std::string("velmora: ") + bad +
                      ": give the seconds to count down before recording, 0 to 600\n");
}

}  // namespace
