// On the real clock the capture loop grabs at real-time priority while the
// compression runs at normal priority, and the worker is back to normal
// scheduling once the loop is over: a real-time encoder would take the
// cores from the desktop, a priority left behind would outlive the recording.

#include <sched.h>

#include <chrono>
#include <thread>

#include "platform/realtime/RealtimeThread.h"
#include "tests/doubles/HookedDriver.h"
#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

constexpr FOURCC kProbe = MakeFourCC('P', 'R', 'O', 'B');

class PolicyDesktop : public test::FakeDesktop {
  public:
    using FakeDesktop::FakeDesktop;
    bool grab(int left, int top, const platform::DibRows& out) override {
        ++grabs;
        if (platform::ThreadIsRealtime()) ++grabsRealtime;
        return FakeDesktop::grab(left, top, out);
    }
    std::atomic<int> grabs{0}, grabsRealtime{0};
};

TEST(RealtimeGrabTest, OnlyTheLoopsGrabsRunRealtime) {
    vfw::ICRemoveAll();
    auto driver = std::make_shared<test::HookedDriver>(kProbe, "Probe");
    std::atomic<int> compressedRealtime{0};
    driver->beforeCompress = [&] {
        if (platform::ThreadIsRealtime()) ++compressedRealtime;
    };
    ASSERT_TRUE(vfw::ICInstall(vfw::ICTYPE_VIDEO, kProbe, driver));
    auto desktop = std::make_shared<PolicyDesktop>(320, 240);
    TempFolder folder;
    test::ScriptedHost host;
    CameraOptions options;
    options.desktop = desktop;
    TScreenCamera cam(host, options);
    cam.Width = 64;
    cam.Height = 48;
    cam.Mode = engine::CaptureMode::FixedArea;
    cam.FramesPerSecond = 20;
    cam.FrameInterval = 50;
    cam.ListCompressors();
    cam.CompressorIndex = 0;
    std::vector<std::string> log;
    cam.OnCameraError = [&](TScreenCamera*, const std::string& text) { log.push_back(text); };

    int before = -1;  // the catalogue's and the negotiation's probes
    cam.OnStart = [&](TScreenCamera*) { before = desktop->grabs; };
    cam.Recording = true;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        cam.StopRecording();
    });
    EXPECT_EQ(cam.RunRecording(folder.path() + "realtime.avi"), 1);
    stopper.join();
    host.ProcessEvents();

    ASSERT_FALSE(log.empty());
    if (log.front().rfind("Frames are grabbed at normal priority", 0) == 0)
        GTEST_SKIP() << log.front();
    EXPECT_EQ(log.front(), "Frames are grabbed at real-time priority 1.");
    EXPECT_GE(driver->ended, 5);
    EXPECT_EQ(compressedRealtime, 0) << "the codec ran at real-time priority";
    EXPECT_GT(before, 0);
    EXPECT_EQ(desktop->grabsRealtime, desktop->grabs - before);
    EXPECT_FALSE(platform::ThreadIsRealtime()) << "the priority outlived the loop";
    vfw::ICRemoveAll();
}

}  // namespace
}  // namespace velmora::enginetest
