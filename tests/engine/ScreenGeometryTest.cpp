// The screen as it is on real desktops, on the private RandR-capable X server
// (1920x1080): two monitors side by side, where "Full Screen" means the
// primary one at its offset unless another (or all) is chosen, and a resolution change while the
// engine lives. Each test puts the server's size and monitors back.

#include <stdlib.h>

#include <sstream>

#include "common/Functions.h"
#include "common/ScreenSize.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RandrServer.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

using platform::ScreenRect;

// The helpers of common/ read $DISPLAY.
class OnDisplay {
  public:
    explicit OnDisplay(const std::string& display)
        : old_(getenv("DISPLAY") ? getenv("DISPLAY") : "") {
        setenv("DISPLAY", display.c_str(), 1);
    }
    ~OnDisplay() { setenv("DISPLAY", old_.c_str(), 1); }

  private:
    std::string old_;
};

class ScreenGeometryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::displayRandr().empty()) GTEST_SKIP() << "needs the x11 fixture";
        ASSERT_TRUE(server.ok());
        desktop = platform::openX11Desktop(test::displayRandr().c_str());
        ASSERT_TRUE(desktop);
    }

    // A recording of about a second, uncompressed, with the engine that was
    // made before the test changed the screen.
    std::string Record(TScreenCamera& cam, const std::string& name) {
        cam.CaptureCursor = false;
        cam.MinimizeOnRecord = cam.RestoreAfterRecord = false;
        cam.FramesPerSecond = 5;
        cam.FrameInterval = 200;
        cam.TimeLimit = {true, 0, 0, 1};
        cam.ListCompressors();
        for (int i = 0; i < cam.CompressorCount; ++i)
            if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler ==
                vfw::MakeFourCC('D', 'I', 'B', ' '))
                cam.CompressorIndex = i;
        cam.OnCameraError = [this](TScreenCamera*, const std::string& text) {
            // Not the summary line, nor the note on the grab thread's scheduling.
            if (text.rfind("L12 ", 0) != 0 && text.rfind("Frames are grabbed", 0) != 0)
                errors.push_back(text);
        };
        const std::string target = folder.path() + name;
        cam.StartRecording(target);
        EXPECT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
        return target;
    }

    // The first frame shrunk to 2x2 pixels, each as "r,g,b" rounded to 16s
    // (the scaler goes through YUV).
    static std::vector<std::string> Corners(const std::string& file) {
        const std::string out =
            test::capture("ffmpeg -v error -i '" + file +
                          "' -frames:v 1 -vf scale=2:2:flags=area -f rawvideo -pix_fmt rgb24 - "
                          "| od -An -v -tu1 -w3");
        std::vector<std::string> pixels;
        std::istringstream lines(out);
        int r, g, b;
        while (lines >> r >> g >> b)
            pixels.push_back(std::to_string((r + 8) / 16 * 16) + "," +
                             std::to_string((g + 8) / 16 * 16) + "," +
                             std::to_string((b + 8) / 16 * 16));
        return pixels;
    }

    test::RandrServer server;
    std::shared_ptr<platform::Desktop> desktop;
    TempFolder folder;
    test::ScriptedHost host;
    std::vector<std::string> errors;
};

TEST_F(ScreenGeometryTest, FullScreenIsThePrimaryMonitorAtItsOffset) {
    // Left monitor green, right monitor blue and primary.
    server.AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, false, true);
    server.AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, true, false);
    server.Paint({0, 0, 960, 1080}, 0x00ff00);
    server.Paint({960, 0, 960, 1080}, 0x0000ff);

    EXPECT_EQ(desktop->primaryMonitor(), (ScreenRect{960, 0, 960, 1080}));
    {
        OnDisplay on(test::displayRandr());
        EXPECT_EQ(GetPrimaryScreenRect(), (ScreenRect{960, 0, 960, 1080}));
        EXPECT_EQ(GetScreenWidth(), 960);
        EXPECT_EQ(GetScreenHeight(), 1080);
        EXPECT_EQ(GetDesktopRect(), (ScreenRect{0, 0, 1920, 1080}));
    }

    TScreenCamera cam(host, {desktop});
    cam.Mode = engine::CaptureMode::FullScreen;
    const std::string file = Record(cam, "VideoRecord_primary.avi");
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(cam.Left.load(), 960);
    EXPECT_EQ(cam.Top.load(), 0);
    EXPECT_EQ(Probe(file, "stream=width,height"), "960,1080");
    const auto corners = Corners(file);
    EXPECT_EQ(corners.size(), 4u);
    for (const std::string& pixel : corners) EXPECT_EQ(pixel, "0,0,256");
}

// The monitor chosen for Full Screen, by its RandR name in any letter case,
// or all of them; a name no monitor has records the primary one.
TEST_F(ScreenGeometryTest, FullScreenRecordsTheChosenMonitorOrAllOfThem) {
    server.AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, false, true);
    server.AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, true, false);
    server.Paint({0, 0, 960, 1080}, 0x00ff00);
    server.Paint({960, 0, 960, 1080}, 0x0000ff);
    // RandR lists the primary monitor first.
    EXPECT_EQ(desktop->monitors(),
              (std::vector<platform::Monitor>{{"VELMORA-RIGHT", {960, 0, 960, 1080}, true},
                                              {"VELMORA-LEFT", {0, 0, 960, 1080}, false}}));
    EXPECT_EQ(platform::FullScreenRect(*desktop, "velmora-left"), (ScreenRect{0, 0, 960, 1080}));
    EXPECT_EQ(platform::FullScreenRect(*desktop, "All"), (ScreenRect{0, 0, 1920, 1080}));
    EXPECT_EQ(platform::FullScreenRect(*desktop, "VELMORA-GONE"), std::nullopt);

    TScreenCamera cam(host, {desktop});
    cam.Mode = engine::CaptureMode::FullScreen;
    cam.Monitor = "VELMORA-LEFT";
    const std::string left = Record(cam, "VideoRecord_left.avi");
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(cam.Left.load(), 0);
    EXPECT_EQ(Probe(left, "stream=width,height"), "960,1080");
    for (const std::string& pixel : Corners(left))
        EXPECT_TRUE(pixel.starts_with("0,256,")) << pixel;

    cam.Monitor = "all";
    const std::string all = Record(cam, "VideoRecord_all.avi");
    EXPECT_EQ(Probe(all, "stream=width,height"), "1920,1080");
    const auto corners = Corners(all);
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_TRUE(corners[0].starts_with("0,256,")) << corners[0];
    EXPECT_EQ(corners[1], "0,0,256");

    cam.Monitor = "VELMORA-GONE";
    const std::string gone = Record(cam, "VideoRecord_gone.avi");
    EXPECT_EQ(cam.Left.load(), 960);
    EXPECT_EQ(Probe(gone, "stream=width,height"), "960,1080");
}

TEST_F(ScreenGeometryTest, WithoutAMarkedMonitorTheFirstIsPrimary) {
    server.AddMonitor("VELMORA-LEFT", {0, 0, 960, 1080}, false, true);
    server.AddMonitor("VELMORA-RIGHT", {960, 0, 960, 1080}, false, false);
    EXPECT_EQ(desktop->primaryMonitor(), (ScreenRect{0, 0, 960, 1080}));
}

TEST_F(ScreenGeometryTest, RecordingsAfterAResolutionChangeTakeTheNewScreen) {
    TScreenCamera cam(host, {desktop});
    ASSERT_EQ(cam.ScreenWidth, 1920);
    server.Paint({0, 0, 1920, 1080}, 0x808080);
    ASSERT_EQ(server.Resize("1280x720"), 0);

    cam.Mode = engine::CaptureMode::FullScreen;
    const std::string full = Record(cam, "VideoRecord_full.avi");
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Probe(full, "stream=width,height"), "1280,720");
    EXPECT_EQ(cam.ScreenWidth, 1280);
    EXPECT_EQ(cam.ScreenHeight, 720);

    // An area stored on the larger screen is moved onto the smaller one.
    cam.Mode = engine::CaptureMode::FixedArea;
    cam.Left = 1500;
    cam.Top = 800;
    cam.Width = 400;
    cam.Height = 200;
    const std::string area = Record(cam, "VideoRecord_area.avi");
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Probe(area, "stream=width,height"), "400,200");
    EXPECT_EQ(cam.Left.load(), 880);
    EXPECT_EQ(cam.Top.load(), 520);
    const auto corners = Corners(area);
    EXPECT_EQ(corners.size(), 4u);
    for (const std::string& pixel : corners) EXPECT_EQ(pixel, "128,128,128");
}

TEST_F(ScreenGeometryTest, GrabsFollowTheScreenAsItShrinksAndGrows) {
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(1920) * 1080 * 4);
    const platform::DibRows rows{bits.data(), 1920, 1080, 32, nullptr};
    ASSERT_TRUE(desktop->grab(0, 0, rows));
    // Grabbing at once, before RandR's notification can have arrived.
    ASSERT_EQ(server.Resize("1280x720"), 0);
    EXPECT_TRUE(desktop->grab(0, 0, rows)) << desktop->lastError();
    EXPECT_EQ(desktop->width(), 1280);
    EXPECT_EQ(desktop->primaryMonitor(), (ScreenRect{0, 0, 1280, 720}));
    ASSERT_EQ(server.Resize("1920x1080"), 0);
    EXPECT_TRUE(desktop->grab(0, 0, rows)) << desktop->lastError();
    EXPECT_EQ(desktop->width(), 1920);
    EXPECT_EQ(desktop->height(), 1080);
}

}  // namespace
}  // namespace velmora::enginetest
