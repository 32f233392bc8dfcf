// Records the screen of $DISPLAY with the engine, as the program would, and
// prints what the comparison with ffmpeg needs:
//   bench_record FOURCC SECONDS FPS FOLDER [WIDTHxHEIGHT | window=ID]
// One line: frames=N dropped=N file=PATH bytes=N. A second line tells how
// late each frame's grab began against the moment its time index was due
// and how long the grab took (p50, p95, max in ms). With window=ID the one
// window (an X window id) is recorded through Composite at its size, as a
// window recording of the program grabs it.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ScreenCamera.h"
#include "platform/x11/WindowList.h"

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

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The X11 screen with the start and end of every grab noted once the
// capture loop runs (the catalogue's and the negotiation's probes do not count).
class TimedDesktop : public velmora::platform::Desktop {
  public:
    explicit TimedDesktop(std::unique_ptr<velmora::platform::Desktop> inner)
        : inner_(std::move(inner)) {
        grabs.reserve(1 << 16);
    }
    int width() const override { return inner_->width(); }
    int height() const override { return inner_->height(); }
    velmora::platform::ScreenRect primaryMonitor() override { return inner_->primaryMonitor(); }
    int bitsPerPixel() const override { return inner_->bitsPerPixel(); }
    bool grab(int left, int top, const velmora::platform::DibRows& out) override {
        const std::int64_t begin = steadyNs();
        const bool ok = inner_->grab(left, top, out);
        noteGrab(begin);
        return ok;
    }
    bool grabLent(int left, int top, int width, int height,
                  velmora::platform::DibRows& out) override {
        const std::int64_t begin = steadyNs();
        const bool ok = inner_->grabLent(left, top, width, height, out);
        if (ok) noteGrab(begin);
        return ok;
    }
    void endLent() override { inner_->endLent(); }
    void noteGrab(std::int64_t begin) {
        if (timing) {
            if (grabs.empty()) {
                std::lock_guard lock(firstMutex);
                firstGrabNs = begin;
                firstGrab.notify_all();
            }
            if (grabs.size() < grabs.capacity()) grabs.emplace_back(begin, steadyNs());
        }
    }
    bool cursorImage(velmora::platform::CursorImage& out) override {
        return inner_->cursorImage(out);
    }
    velmora::platform::ForeignCursor foreignCursor() override { return inner_->foreignCursor(); }
    std::string lastError() const override { return inner_->lastError(); }

    std::atomic<bool> timing{false};
    std::vector<std::pair<std::int64_t, std::int64_t>> grabs;  // steady ns
    // The capture loop's first grab: the recording's time zero.
    std::mutex firstMutex;
    std::condition_variable firstGrab;
    std::int64_t firstGrabNs = -1;

  private:
    std::unique_ptr<velmora::platform::Desktop> inner_;
};

// The first millisecond of the loop at which the time index reaches `index`.
std::int64_t dueMs(std::int32_t index, std::uint32_t fps) {
    std::int64_t due = std::max<std::int64_t>(0, (1000 * std::int64_t(index) - 500) / fps);
    while (TScreenCamera::FrameIndexAt(due, fps) < index) ++due;
    return due;
}

std::string percentiles(std::vector<double> v) {
    if (v.empty()) return "p50=- p95=- max=-";
    std::sort(v.begin(), v.end());
    auto at = [&v](double q) { return v[static_cast<std::size_t>(q * double(v.size() - 1))]; };
    char text[96];
    std::snprintf(text, sizeof text, "p50=%.3f p95=%.3f max=%.3f", at(0.5), at(0.95), v.back());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s FOURCC SECONDS FPS FOLDER [WIDTHxHEIGHT | window=ID]\n",
                     argv[0]);
        return 2;
    }
    const std::string handler = argv[1];
    const int seconds = std::atoi(argv[2]);
    const int fps = std::atoi(argv[3]);
    std::string folder = argv[4];
    if (folder.back() != '/') folder += '/';

    ConsoleHost host;
    std::string displayError;
    const std::string window = argc > 5 && std::string(argv[5]).starts_with("window=")
                                   ? std::string(argv[5]).substr(7)
                                   : std::string();
    auto x11 = window.empty() ? velmora::platform::openX11Desktop(nullptr, &displayError)
                              : velmora::platform::openX11WindowDesktop(
                                    std::strtoull(window.c_str(), nullptr, 0), {}, &displayError);
    if (!x11) {
        std::fprintf(stderr, "no X display: %s\n", displayError.c_str());
        return 1;
    }
    auto desktop = std::make_shared<TimedDesktop>(std::move(x11));
    CameraOptions options;
    options.desktop = desktop;
    TScreenCamera camera(host, options);
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
    camera.OnCameraError = [&](TScreenCamera*, const std::string& text) {
        error = text;
        std::fprintf(stderr, "engine: %s\n", text.c_str());
    };
    camera.OnStart = [&](TScreenCamera*) { desktop->timing = true; };

    // Run on this thread and end without the merge: the temporary file is
    // the recording being compared.
    camera.Recording = true;
    // SECONDS of the recording's own timeline, as ffmpeg's -t counts them:
    // the setting up before the first frame (codec, frame buffers) is not
    // part of it. Index i is due half a frame before i / FPS seconds, so the
    // stop comes a whole frame before SECONDS: after the last index of the
    // timeline is due and before the next one, SECONDS x FPS frames.
    std::atomic<bool> ended{false};
    std::thread stopper([&] {
        std::unique_lock lock(desktop->firstMutex);
        if (!desktop->firstGrab.wait_for(lock, std::chrono::seconds(60),
                                         [&] { return desktop->firstGrabNs >= 0 || ended; }))
            return;
        if (ended) return;
        const std::int64_t stopNs = desktop->firstGrabNs + std::int64_t(seconds) * 1000000000 -
                                    1000000000 / std::max(fps, 1);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::nanoseconds(stopNs - steadyNs()));
        camera.Recording = false;
    });
    const int result = camera.RunRecording(folder + "unused.avi");
    {
        std::lock_guard lock(desktop->firstMutex);
        ended = true;
    }
    desktop->firstGrab.notify_all();
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
    std::vector<double> late, took;
    // Against the engine's own timeline: its clock is in whole ms from the
    // loop's start, so a grab that begins in the ms it is due is on time.
    const std::int64_t startMs = camera.LoopStartMs();
    for (const auto& [begin, end] : desktop->grabs) {
        const std::int32_t index =
            TScreenCamera::FrameIndexAt(begin / 1000000 - startMs, camera.FramesPerSecond);
        const std::int64_t due = (startMs + dueMs(index, camera.FramesPerSecond)) * 1000000;
        late.push_back(static_cast<double>(begin - due) / 1e6);
        took.push_back(static_cast<double>(end - begin) / 1e6);
    }
    std::printf("grabs=%zu late_ms %s grab_ms %s\n", late.size(), percentiles(late).c_str(),
                percentiles(took).c_str());
    return 0;
}
