// The whole program recording 2 s of the moving picture with the tone into
// MP4 with AAC and Matroska with Opus: each file has the AVI's picture,
// length and sound placement, in its own codecs. (Every container with every
// sound codec is saved and read back in tests/vfw/MediaSaveTest.cpp; the
// engine's choice of encoder for each in tests/engine/X11RecordingTest.cpp.)
// A format= the program does not know records nothing.

#include "tests/e2e/FormatRecording.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

using FileFormatTest = FormatProgramTest;

// Seconds of picture (320x240) and of sound (stereo, at rate) that
// GStreamer's own demuxers and libav decoders give, as its players read it.
std::pair<double, double> GstreamerSeconds(const fs::path& file, int rate, const fs::path& work) {
    const fs::path picture = work / "gst-picture.raw", sound = work / "gst-sound.raw";
    fs::remove(picture);
    fs::remove(sound);
    run("gst-launch-1.0 -q uridecodebin uri='file://" + file.string() +
        "' name=d d. ! queue ! videoconvert ! video/x-raw,format=I420 ! filesink location='" +
        picture.string() +
        "' d. ! queue ! audioconvert ! audio/x-raw,format=S16LE,channels=2 ! filesink "
        "location='" +
        sound.string() + "' >/dev/null 2>&1");
    const auto size = [](const fs::path& p) {
        std::error_code e;
        const auto n = fs::file_size(p, e);
        return e ? 0.0 : static_cast<double>(n);
    };
    return {size(picture) / (320 * 240 * 3 / 2) / 15, size(sound) / 4 / rate};
}

TEST_F(FileFormatTest, Mp4AndMatroskaKeepWhatTheAviKeeps) {
    ScreenPicture picture(MovingPicture());
    ASSERT_TRUE(picture.Shown());
    const std::string avi = Record("AVI", "PCM");
    ASSERT_FALSE(avi.empty()) << TodaysLog();
    const double aviSeconds = VideoSeconds(avi);
    const double aviOffset = FirstFrameTime(avi, "a") - FirstFrameTime(avi, "v");
    EXPECT_NEAR(aviSeconds, 2.0, 0.2);

    struct Case {
        const char *format, *codec, *extension, *soundName, *rate;
    } cases[] = {
        {"MP4", "AAC", ".mp4", "aac", "44100"},
        {"MKV", "OPUS", ".mkv", "opus", "48000"},
    };
    const double frame = 1.0 / 15;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.codec);
        const std::string file = Record(c.format, c.codec);
        ASSERT_FALSE(file.empty()) << TodaysLog();
        EXPECT_TRUE(file.ends_with(c.extension));
        const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
        EXPECT_EQ(video.at("codec_name"), "h264");
        EXPECT_EQ(capture("ffprobe -v error -select_streams v:0 -show_entries "
                          "stream=width,height,pix_fmt -of csv=p=0 '" +
                          file + "'"),
                  "320,240,yuv420p\n");
        EXPECT_EQ(sound.at("codec_name"), c.soundName);
        EXPECT_EQ(sound.at("sample_rate"), c.rate);
        EXPECT_EQ(sound.at("channels"), "2");
        EXPECT_NEAR(VideoSeconds(file), aviSeconds, frame);
        // A fragmented MP4 says in an edit list that AAC's priming precedes
        // the sound; FFmpeg's reader does not apply it to fragments, so the
        // priming shows before the picture's zero, the tone still on time.
        const double priming = std::string(c.soundName) == "aac" ? 1024.0 / 44100 : 0.0;
        const double offset = FirstFrameTime(file, "a") - FirstFrameTime(file, "v");
        EXPECT_NEAR(offset, aviOffset - priming, 0.005);
        const auto samples = Samples(file);
        EXPECT_NEAR(ToneHz(samples, 2, std::atoi(c.rate)), 440.0, 2.0);
        EXPECT_NEAR(static_cast<double>(samples.size()) / 2 / std::atoi(c.rate), aviSeconds, 0.15);
        EXPECT_EQ(capture("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
        const auto [gstPicture, gstSound] = GstreamerSeconds(file, std::atoi(c.rate), out_);
        EXPECT_NEAR(gstPicture, aviSeconds, frame) << "GStreamer's picture";
        EXPECT_NEAR(gstSound, aviSeconds, 0.15) << "GStreamer's sound";
    }
}

// The sound codec the Setup.ini asks for goes where the format can hold it;
// a codec MP4 cannot take records AVI and says so once.
TEST_F(FileFormatTest, ChoicesTheFormatCannotHoldGiveItsOwnAndAreLogged) {
    const std::string mp4 = Record("MP4", "PCM");
    ASSERT_FALSE(mp4.empty()) << TodaysLog();
    EXPECT_TRUE(mp4.ends_with(".mp4"));
    EXPECT_EQ(StreamInfo(mp4, 1).at("codec_name"), "aac");
    EXPECT_NE(TodaysLog().find("AudioCodec=PCM cannot be kept in MP4 files; the sound is saved "
                               "as AAC\n"),
              std::string::npos)
        << TodaysLog();

    // Microsoft Video 1 (MS-CRAM), the first compressor, has no place in MP4.
    const fs::path out = out_ / "msvc";
    fs::create_directories(out);
    std::string settings = FormatSettings(microphone_, "MP4", "AAC");
    settings.replace(settings.find("CodecIndex=3"), 12, "CodecIndex=0");
    std::ofstream(folder_ / "Setup.ini") << settings;
    Program program(folder_, {"-vc", "time=2", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return Recordings(out).size() == 1; }, std::chrono::seconds(40)));
    const fs::path avi = Recordings(out).front();
    EXPECT_EQ(avi.extension(), ".avi");
    EXPECT_EQ(StreamInfo(avi.string(), 0).at("codec_name"), "msvideo1");
    EXPECT_EQ(StreamInfo(avi.string(), 1).at("codec_name"), "pcm_s16le");
    const std::string log = TodaysLog();
    EXPECT_NE(log.find(" - " + avi.filename().string() + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("MP4 cannot hold MS-CRAM video; the recording is saved as AVI: " +
                       avi.string() + "\n"),
              std::string::npos)
        << log;
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

TEST_F(ProgramTest, AnUnknownFormatIsRefusedWithTheKnownOnesAndNothingIsRecorded) {
    const std::string said =
        capture("cd '" + folder_.string() + "' && ./velmora -vc time=2 format=webm 2>&1; echo $?");
    EXPECT_EQ(said,
              "velmora: format=webm: no such kind of file; use format=avi, format=mp4 or "
              "format=mkv\n2\n");
    EXPECT_TRUE(Recordings(folder_).empty());
    EXPECT_FALSE(fs::exists(folder_ / "~tempvideo.avi"));
}

}  // namespace
