// Three seconds of a moving picture on the private X server, recorded with
// real codecs and read back by ffprobe and ffmpeg.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <thread>

#include "tests/engine/EngineTestSupport.h"
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
        for (int i = 0; i < 100 && test::run("xwininfo -name 'engine picture' >/dev/null 2>&1");
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~MovingPicture() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }

  private:
    pid_t pid_ = 0;
};

class X11RecordingTest : public ::testing::TestWithParam<const char*> {};

void ListCompressorsFor(TScreenCamera& cam, FOURCC handler) {
    cam.ListCompressors();
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler == handler)
            cam.CompressorIndex = i;
    ASSERT_GE(cam.CompressorIndex, 0);
}

TEST_P(X11RecordingTest, ThreeSecondsAtFifteenFramesReadBackCleanly) {
    ASSERT_FALSE(test::display24().empty()) << "needs the x11 fixture";
    MovingPicture picture;
    TempFolder folder;
    test::ScriptedHost host;
    TScreenCamera cam(host);
    ASSERT_EQ(cam.ScreenWidth, 1280);
    const std::string handler = GetParam();
    const FOURCC fourcc = MakeFourCC(handler[0], handler[1], handler[2], handler[3]);
    cam.Width = 320;
    cam.Height = 240;
    cam.CaptureMode = 1;
    cam.FramesPerSecond = 15;
    cam.FrameInterval = 1000 / 15;
    cam.KeyFrameEvery = 15;
    cam.Quality = 7500;
    ListCompressorsFor(cam, fourcc);
    std::vector<std::string> errors;
    cam.OnCameraError = [&](TScreenCamera*, const std::string& text) { errors.push_back(text); };

    cam.Recording = true;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        cam.StopRecording();
    });
    const int result = cam.RunRecording(folder.path() + "VideoRecord_x11.avi");
    stopper.join();
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
    EXPECT_NEAR(slots, 45, 2);
    const auto indices = WrittenIndices(file);
    EXPECT_GE(indices.size(), 40u);
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
    // The merged target holds the same video.
    EXPECT_EQ(Probe(folder.path() + "VideoRecord_x11.avi", "stream=codec_tag_string"), handler);
}

INSTANTIATE_TEST_SUITE_P(Codecs, X11RecordingTest, ::testing::Values("XVID", "MSVC", "H264"));

}  // namespace
}  // namespace velmora::enginetest
