// Two seconds of a moving picture on the private X server, recorded with
// real codecs and read back by ffprobe and ffmpeg; saved as AVI, or as
// Matroska with lossless sound (PCM kept as it is, FLAC encoded) that must
// come back sample for sample.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/engine/EngineTestSupport.h"
#include "tests/sound/SoundCheck.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

// A testsrc2 player at the screen's top-left corner, stopped at the end.
class MovingPicture {
  public:
    MovingPicture() {
        const std::string out = test::capture(
            "SDL_AUDIODRIVER=dummy setsid ffplay -loglevel error -an -noborder -left 0 -top 0 "
            "-window_title 'engine picture' -f lavfi -i testsrc2=size=320x240:rate=30 "
            ">/dev/null 2>&1 </dev/null & echo $!");
        pid_ = std::atoi(out.c_str());
        // Shown once its middle is drawn (testsrc2 has no black there).
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!(shown_ = Drawn()) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Gone when the test ends, which checks that nothing it started runs on.
    ~MovingPicture() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        const std::string status = "/proc/" + std::to_string(pid_) + "/status";
        for (int i = 0; i < 100; ++i) {
            std::ifstream in(status);
            std::stringstream text;
            text << in.rdbuf();
            if (!in || text.str().find("State:\tZ") != std::string::npos) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
    }
    bool Shown() const { return shown_; }

  private:
    static bool Drawn() {
        const std::string pixel =
            test::capture("import -window root -crop 1x1+160+120 txt:- 2>/dev/null");
        return pixel.find(" #") != std::string::npos && pixel.find("#000000") == std::string::npos;
    }

    pid_t pid_ = 0;
    bool shown_ = false;
};

// A compressor, the file it is saved in and the sound beside it.
struct Case {
    const char *handler, *videoName;
    OutputFormat format;
    SoundCodec sound;
    const char* soundName;  // nullptr: no sound recorded
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.handler << " " << FormatKey(c.format) << " " << (c.soundName ? c.soundName : "-");
}

class X11RecordingTest : public ::testing::TestWithParam<Case> {};

void ListCompressorsFor(TScreenCamera& cam, FOURCC handler) {
    cam.ListCompressors();
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler == handler)
            cam.CompressorIndex = i;
    ASSERT_GE(cam.CompressorIndex, 0);
}

TEST_P(X11RecordingTest, TwoSecondsAtFifteenFramesReadBackCleanly) {
    ASSERT_FALSE(test::display24().empty()) << "needs the x11 fixture";
    const Case c = GetParam();
    MovingPicture picture;
    ASSERT_TRUE(picture.Shown());
    TempFolder folder;
    test::ScriptedHost host;
    // The sound is a ramp (sample i holds i) of two seconds at 8 kHz.
    host.makeRecorder = [] {
        auto made = std::make_unique<FakeRecorder>();
        made->soundSeconds = 2;
        return made;
    };
    TScreenCamera cam(host);
    ASSERT_EQ(cam.ScreenWidth, 1280);
    const std::string handler = c.handler;
    const FOURCC fourcc = MakeFourCC(handler[0], handler[1], handler[2], handler[3]);
    cam.Width = 320;
    cam.Height = 240;
    cam.Mode = engine::CaptureMode::FixedArea;
    cam.FramesPerSecond = 15;
    cam.FrameInterval = 1000 / 15;
    cam.KeyFrameEvery = 15;
    cam.Quality = 7500;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 2};
    cam.FileFormat = c.format;
    cam.SoundCompression = c.sound;
    cam.RecordAudio = c.soundName != nullptr;
    ListCompressorsFor(cam, fourcc);
    std::vector<std::string> errors;
    cam.OnCameraError = [&](TScreenCamera*, const std::string& text) { errors.push_back(text); };

    cam.Recording = true;
    const std::string target = folder.path() + "VideoRecord_x11" + FormatExtension(c.format);
    const int result = cam.RunRecording(target);
    host.ProcessEvents();
    EXPECT_EQ(result, 1);
    // The grab thread's scheduling is noted at the loop's start.
    std::erase_if(errors,
                  [](const std::string& e) { return e.rfind("Frames are grabbed", 0) == 0; });
    ASSERT_EQ(errors.size(), 1u) << errors.front();
    EXPECT_EQ(errors.front().rfind("L12 ", 0), 0u) << errors.front();
    EXPECT_EQ(cam.CompressorHandler, fourcc);

    const std::string file = TempVideoFile;
    EXPECT_EQ(Probe(file, "stream=index", "v"), "0");
    EXPECT_EQ(Probe(file, "stream=index", "a"), "");
    EXPECT_EQ(Probe(file, "stream=codec_tag_string"), handler);
    EXPECT_EQ(Probe(file, "stream=width,height"), "320,240");
    const int slots = std::atoi(Probe(file, "stream=nb_frames").c_str());
    EXPECT_NEAR(slots, 30, 2);
    const auto indices = WrittenIndices(file);
    EXPECT_GE(indices.size(), 27u);
    for (std::size_t i = 1; i < indices.size(); ++i) EXPECT_GT(indices[i], indices[i - 1]);
    EXPECT_EQ(test::capture("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
    const auto packets = VideoPackets(file);
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets.front().second) << "starts with a key frame";
    if (handler == "XVID") {
        // The index carries the codec's own key frames, not every frame.
        std::size_t keys = 0;
        for (const auto& p : packets) keys += p.second;
        EXPECT_LT(keys, packets.size() / 2);
    }

    // The saved file holds the same video, and the sound in its codec.
    EXPECT_EQ(Probe(target, "stream=codec_name"), c.videoName);
    EXPECT_EQ(test::capture("ffmpeg -v error -i '" + target + "' -f null - 2>&1"), "");
    if (!c.soundName) {
        EXPECT_EQ(Probe(target, "stream=index", "a"), "");
        return;
    }
    EXPECT_EQ(Probe(target, "stream=codec_name", "a:0"), c.soundName);
    const auto samples = soundtest::Samples(target);
    ASSERT_EQ(samples.size(), 16000u);
    for (std::size_t i = 0; i < samples.size(); i += 997) ASSERT_EQ(samples[i], int(i)) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, X11RecordingTest,
    ::testing::Values(Case{"XVID", "mpeg4", OutputFormat::Mkv, SoundCodec::Pcm, "pcm_s16le"},
                      Case{"MSVC", "msvideo1", OutputFormat::Avi, SoundCodec::Pcm, nullptr},
                      Case{"H264", "h264", OutputFormat::Mkv, SoundCodec::Flac, "flac"}),
    [](const auto& info) { return std::string(info.param.handler); });

}  // namespace
}  // namespace velmora::enginetest
