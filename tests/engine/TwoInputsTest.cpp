// A second sound input beside the first: each has its recorder and WAV, the
// merge mixes them into one track or keeps two named tracks, an input that
// stops leaves silence and a log line, one that is not there leaves the first
// alone, a crash's two WAVs are recovered together, and what is no file of
// this user at their names is left alone.

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "tests/engine/EngineTestSupport.h"
#include "tests/sound/SoundCheck.h"

namespace velmora::enginetest {
namespace {

using soundtest::Samples;

// The mixer's list: a microphone (chosen) and the speakers' monitor.
class TwoSourceMixer : public TEngineMixer {
  public:
    void SetMixerID(int) override {}
    int DestinationCount() override { return 1; }
    void SetDestinationID(int) override {}
    bool MasterHasSelect() override { return true; }
    int GetSelectedSource() override { return 0; }
    void SelectSource(int) override {}
    int LineCount() override { return 2; }
    std::string LineName(int i) override { return i == 0 ? "Microphone" : "Monitor of Speakers"; }
    std::string LineSource(int i) override { return i == 0 ? "fakemic" : "speakers.monitor"; }
};

class TwoInputsTest : public EngineTest {
  protected:
    // Two seconds of picture; each fake recorder writes its ramp (sample i
    // holds i) at 8 kHz.
    TScreenCamera& MakeTwo(const std::string& second = "speakers.monitor") {
        withAudio = true;
        host.makeMixer = [] { return std::make_unique<TwoSourceMixer>(); };
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.TimeLimit = TTimeLimit{true, 0, 0, 2};
        cam.RecordAudio = true;
        cam.SelectSecondAudioInput(second);
        cam.SetAudioInputVolume(50);
        cam.SetSecondAudioVolume(50);
        recorder->soundSeconds = 2;
        if (recorders.size() == 2) recorders[1]->soundSeconds = 2;
        return cam;
    }
    std::string Log() { return Text(Errors()); }
};

TEST_F(TwoInputsTest, BothInputsAreMixedSampleBySampleIntoOneTrack) {
    auto& cam = MakeTwo();
    ASSERT_EQ(recorders.size(), 2u);
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "a"), "audio") << Log();
    EXPECT_EQ(Probe(Target(), "stream=index", "a:1"), "");
    const auto mix = Samples(Target());
    ASSERT_EQ(mix.size(), 16000u) << Log();
    // Summed as they are up to where the sum nears full scale (the limiter
    // turns the rest down: not wrapped, and under full scale).
    for (std::size_t i = 0; i < 14000; i += 997) EXPECT_EQ(mix[i], int(2 * i)) << i;
    for (std::size_t i = 14000; i < mix.size(); ++i)
        ASSERT_TRUE(mix[i] > 27000 && mix[i] < 32767) << i;
    // Each took its own input into its own file; both at 50 % as the same
    // gain, so the same slider position is the same level; beside each
    // other their errors say whose.
    const auto first = recorders[0]->Calls(), second = recorders[1]->Calls();
    EXPECT_NE(std::find(first.begin(), first.end(), "Gain=50"), first.end());
    EXPECT_NE(std::find(first.begin(), first.end(), "Input=|Microphone"), first.end());
    EXPECT_NE(std::find(first.begin(), first.end(), "RecordToFile=" + TempAudioFile), first.end());
    EXPECT_NE(std::find(second.begin(), second.end(), "Gain=50"), second.end());
    EXPECT_NE(std::find(second.begin(), second.end(), "Input=speakers.monitor|Monitor of Speakers"),
              second.end());
    EXPECT_NE(std::find(second.begin(), second.end(), "RecordToFile=" + TempAudio2File),
              second.end());
    // Nothing of the temporary files is left, the mix included.
    EXPECT_FALSE(FileExists(TempAudioFile));
    EXPECT_FALSE(FileExists(TempAudio2File));
    EXPECT_FALSE(FileExists(folder.path() + kTempMixName));
    EXPECT_FALSE(cam.Recording);
}

// Separate tracks, the first input's first, each named; the input that
// stopped after a second is silent after that, and the log says which and when.
TEST_F(TwoInputsTest, SeparateTracksAreNamedAndAStoppedInputIsSilentToTheEnd) {
    auto& cam = MakeTwo();
    cam.SeparateSoundTracks = true;
    recorders[1]->soundSeconds = 1;
    recorders[1]->failure = "Monitor of Speakers: No sound input is available.";
    RecordOnWorker(Target());
    const std::string log = Log();
    EXPECT_EQ(Probe(Target(), "stream_tags=title", "a:0"), "Microphone") << log;
    EXPECT_EQ(Probe(Target(), "stream_tags=title", "a:1"), "Monitor of Speakers");
    const auto first = Samples(Target(), 0), second = Samples(Target(), 1);
    ASSERT_EQ(first.size(), 16000u) << log;
    ASSERT_EQ(second.size(), 16000u);
    EXPECT_EQ(first[12000], 12000);
    EXPECT_EQ(second[7999], 7999);
    for (std::size_t i = 8000; i < second.size(); ++i) ASSERT_EQ(second[i], 0) << i;
    EXPECT_NE(log.find("The sound input \"Monitor of Speakers\" stopped at 1s (1000 ms); the "
                       "recording has silence from it after that: No sound input is available."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" - the sound is incomplete: Monitor of Speakers: No sound input is "
                       "available."),
              std::string::npos)
        << log;
}

// Matroska names the tracks by their titles, MP4 by their handlers' names
// (the name MP4 keeps for a track, which its players show).
TEST_F(TwoInputsTest, MatroskaAndMp4NameTheTracks) {
    for (const OutputFormat format : {OutputFormat::Mkv, OutputFormat::Mp4}) {
        auto& cam = MakeTwo();
        cam.SeparateSoundTracks = true;
        cam.FileFormat = format;
        cam.SoundCompression = SoundCodec::Aac;
        // MP4 holds MJPEG, not uncompressed frames.
        cam.CompressorIndex = IndexOf(MakeFourCC('M', 'J', 'P', 'G'));
        const bool mkv = format == OutputFormat::Mkv;
        const std::string target = Target(mkv ? "VideoRecord_test.mkv" : "VideoRecord_test.mp4");
        RecordOnWorker(target);
        ASSERT_TRUE(FileExists(target)) << Log();
        const std::string tag = mkv ? "stream_tags=title" : "stream_tags=handler_name";
        EXPECT_EQ(Probe(target, tag, "a:0"), "Microphone") << target;
        EXPECT_EQ(Probe(target, tag, "a:1"), "Monitor of Speakers") << target;
    }
}

// A settings file naming an input the server does not have: one line, and
// the first input recorded alone.
TEST_F(TwoInputsTest, SecondInputThatIsNotThereLeavesTheFirstAlone) {
    MakeTwo("headset.gone");
    RecordOnWorker(Target());
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 2u) << Log();
    EXPECT_EQ(errors[0],
              "The second sound input \"headset.gone\" is not there; the first input is recorded "
              "alone.");
    EXPECT_EQ(Samples(Target()).size(), 16000u);
    EXPECT_EQ(Samples(Target())[100], 100);
    const auto second = recorders[1]->Calls();
    EXPECT_TRUE(std::none_of(second.begin(), second.end(),
                             [](const std::string& c) { return c.starts_with("RecordToFile"); }));
}

// A merge that did not happen keeps both WAVs; the next start offers them
// with the video and saves the two as one track.
TEST_F(TwoInputsTest, BothSoundFilesOfAnInterruptedRecordingAreRecoveredTogether) {
    auto& cam = MakeTwo();
    cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
    RecordOnWorker(Target());
    cam.OnSaveProgress = nullptr;
    const std::string audio2 = folder.path() + "VideoRecord_test_audio2.wav";
    ASSERT_TRUE(FileExists(audio2)) << Log();
    const auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].audio, folder.path() + "VideoRecord_test_audio.wav");
    EXPECT_EQ(found[0].audio2, audio2);

    ASSERT_TRUE(cam.RecoverRecordings(found));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    EXPECT_NE(Log().find("The interrupted recording is saved: " + Target()), std::string::npos)
        << Log();
    const auto mix = Samples(Target());
    ASSERT_EQ(mix.size(), 16000u);
    EXPECT_EQ(mix[4000], 8000);
    EXPECT_FALSE(FileExists(audio2));
    EXPECT_TRUE(cam.FindInterruptedRecordings(folder.path()).empty());
}

// What stands at a temporary file's name and is no regular file of this
// user (a folder, a named pipe another user planted) is neither deleted,
// moved aside nor opened: the run is refused naming the file, and the
// search for interrupted recordings names it once and leaves it out.
TEST_F(TwoInputsTest, ForeignFilesAtTemporaryNamesAreNamedAndLeftAlone) {
    auto& cam = MakeTwo();
    const std::string folder2 = folder.path() + "~tempaudio2.wav";
    ASSERT_TRUE(std::filesystem::create_directory(folder2));
    RecordOnWorker(Target());
    EXPECT_EQ(Errors(), std::vector<std::string>{"Can not delete audio temp file: " + folder2 +
                                                 " (a folder, not a regular file; it is left "
                                                 "alone)."});
    EXPECT_TRUE(std::filesystem::is_directory(folder2));
    EXPECT_FALSE(FileExists(Target()));
    ASSERT_TRUE(std::filesystem::remove(folder2));

    const std::string pipe = folder.path() + "~tempvideo.avi";
    std::filesystem::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string kept = folder.path() + "VideoRecord_20200101_000000_video.avi";
    ASSERT_EQ(::mkfifo(kept.c_str(), 0600), 0);
    std::vector<std::string> leftAlone;
    EXPECT_TRUE(cam.FindInterruptedRecordings(folder.path(), &leftAlone).empty());
    EXPECT_EQ(leftAlone, (std::vector<std::string>{
                             "Not taken for an interrupted recording and left alone: " + pipe +
                                 " (a named pipe, not a regular file)",
                             "Not taken for an interrupted recording and left alone: " + kept +
                                 " (a named pipe, not a regular file)"}));
    RecordOnWorker(Target());
    EXPECT_EQ(Errors().back(), "Can not delete video temp file: " + pipe +
                                   " (a named pipe, not a regular file; it is left alone).");
    struct stat st {};
    EXPECT_TRUE(::lstat(pipe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::lstat(kept.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_FALSE(FileExists(Target()));
}

}  // namespace
}  // namespace velmora::enginetest
