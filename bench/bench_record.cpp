// Records the screen of $DISPLAY with the engine, as the program would, and
// prints what the comparison with ffmpeg needs:
//   bench_record FOURCC SECONDS FPS FOLDER [WIDTHxHEIGHT]
// One line: frames=N dropped=N file=PATH bytes=N.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "engine/ScreenCamera.h"

using namespace velmora::engine;

namespace {

// No windows: questions are answered No, the frame is never shown.
class ConsoleHost : public CameraHost {
  public:
    bool AskYesNo(const std::string&, const std::string& text) override {
        std::fprintf(stderr, "question: %s\n", text.c_str());
        return false;
    }
    void RestoreApplication() override {}
    void SetBusyCursor(bool) override {}
    MergeSummaryFigures SummaryFigures() override { return {}; }
    void ReportMergeResult(const std::string&) override {}
    void PostToUiThread(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
    }
    std::string MessageText(int) override { return {}; }
    void MinimizeApplication() override {}
    void ProcessEvents() override {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(mutex_);
                if (posted_.empty()) return;
                fn = std::move(posted_.front());
                posted_.pop_front();
            }
            fn();
        }
    }
    std::unique_ptr<TFlashingFrame> CreateFlashingFrame() override {
        struct NoFrame : TFlashingFrame {
            void SetupRegion(int, int, int, int, bool, const std::string&) override {}
            void PaintFrame(const std::string&) override {}
            void ShowOnTop() override {}
            void Hide() override {}
            void Restore() override {}
            bool IsShowing() const override { return false; }
        };
        return std::make_unique<NoFrame>();
    }
    std::unique_ptr<TEngineTimer> CreateTimer(int, std::function<void()>) override {
        struct NoTimer : TEngineTimer {
            void SetEnabled(bool) override {}
            bool Enabled() const override { return false; }
        };
        return std::make_unique<NoTimer>();
    }
    std::unique_ptr<TEngineAudioRecorder> CreateAudioRecorder() override { return nullptr; }
    std::unique_ptr<TEngineMixer> CreateMixer() override { return nullptr; }

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s FOURCC SECONDS FPS FOLDER [WIDTHxHEIGHT]\n", argv[0]);
        return 2;
    }
    const std::string handler = argv[1];
    const int seconds = std::atoi(argv[2]);
    const int fps = std::atoi(argv[3]);
    std::string folder = argv[4];
    if (folder.back() != '/') folder += '/';

    ConsoleHost host;
    TScreenCamera camera(host, folder);
    if (camera.ScreenWidth == 0) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    camera.CaptureMode = 1;
    camera.Width = camera.ScreenWidth;
    camera.Height = camera.ScreenHeight;
    int width = 0, height = 0;
    if (argc > 5 && std::sscanf(argv[5], "%dx%d", &width, &height) == 2) {
        camera.Width = width;
        camera.Height = height;
    }
    camera.FramesPerSecond = static_cast<std::uint32_t>(fps);
    camera.FrameInterval = 1000 / fps;
    camera.ListCompressors();
    const auto fourcc = velmora::vfw::MakeFourCC(handler[0], handler[1], handler[2], handler[3]);
    for (int i = 0; i < camera.CompressorCount; ++i)
        if (camera.Compressors[static_cast<std::size_t>(i)].fccHandler == fourcc)
            camera.CompressorIndex = i;
    if (camera.CompressorIndex < 0) {
        std::fprintf(stderr, "compressor %s does not take this screen\n", handler.c_str());
        return 1;
    }
    std::string error;
    camera.OnCameraError = [&](TScreenCamera*, const std::string& text) { error = text; };

    // Run on this thread and end without the merge: the temporary file is
    // the recording being compared.
    camera.Recording = true;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        camera.Recording = false;
    });
    const int result = camera.RunRecording(folder + "unused.avi");
    stopper.join();
    host.ProcessEvents();
    if (result != 1) {
        std::fprintf(stderr, "recording failed: %s\n", error.c_str());
        return 1;
    }
    // The engine deletes its temporary files when it goes.
    const std::string kept = folder + "velmora-" + handler + ".avi";
    std::rename(TempVideoFile.c_str(), kept.c_str());
    struct stat st {};
    stat(kept.c_str(), &st);
    std::printf("frames=%d dropped=%d file=%s bytes=%lld\n", camera.FramesWritten,
                camera.FramesDropped, kept.c_str(), static_cast<long long>(st.st_size));
    return 0;
}
