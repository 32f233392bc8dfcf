// Records the flash-and-beep scene with the engine and the real recorder for
// a number of minutes and prints how far the sound is from the picture: at
// the start, at the end, the worst, and the trend in ms per minute.
//   bench_sync MINUTES FOLDER [uncorrected]
// "uncorrected" records the sound as the device counts it, for comparison.
// bench/run-sync-bench.sh starts the private servers and runs it.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "audio/EngineRecorder.h"
#include "platform/wavein/WaveInApi.h"
#include "tests/doubles/ScriptedHost.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"
#include "tests/sound/SoundCheck.h"

using namespace velmora;
using namespace std::chrono_literals;
using soundtest::SceneClock;

namespace {

constexpr int kStereo16bit44100Hz = 16;
constexpr auto kEventEvery = 5s;

// Least-squares slope of y over x.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_sync MINUTES FOLDER [uncorrected]\n");
        return 2;
    }
    const double minutes = std::atof(argv[1]);
    std::string folder = argv[2];
    if (folder.back() != '/') folder += '/';
    std::filesystem::create_directories(folder);
    const bool corrected = argc < 4 || std::string(argv[3]) != "uncorrected";
    test::loadFixtureEnvironment();
    platform::waveInSetClockCorrection(corrected);

    soundtest::BeepSource source;
    soundtest::Beeper beeper("lipsync");
    if (!source.Good() || !beeper.Good() ||
        !soundtest::Eventually([] { return soundtest::SourceFlows("lipsync.monitor"); }, 10s)) {
        std::fprintf(stderr, "the sound server gives no beep source\n");
        return 1;
    }
    soundtest::RootSquare square(600, 300, 64);
    if (!square.Good()) {
        std::fprintf(stderr, "no test display\n");
        return 1;
    }
    square.Paint(false);

    test::ScriptedHost host;
    engine::TEngineAudioRecorder* recorder = nullptr;  // the camera's own
    host.makeRecorder = [&recorder] {
        auto made = audio::CreateEngineAudioRecorder();
        recorder = made.get();
        return made;
    };
    engine::TScreenCamera cam(host);
    cam.CaptureMode = 1;
    cam.Left = 600;
    cam.Top = 300;
    cam.Width = cam.Height = 64;
    cam.CaptureCursor = false;
    cam.RecordAudio = true;
    cam.AudioFormatIndex = kStereo16bit44100Hz - 1;
    // A frame every 10 ms places each flash that finely.
    cam.FramesPerSecond = 100;
    cam.FrameInterval = 10;
    cam.KeyFrameEvery = 100;
    soundtest::PickCompressor(cam, "FFV1");
    std::mutex mutex;
    cam.OnCameraError = [&](engine::TScreenCamera*, const std::string& text) {
        std::lock_guard lock(mutex);
        std::printf("engine: %s\n", text.c_str());
    };
    const std::string target = folder + "VideoRecord_sync.avi";
    cam.Recording = true;
    std::thread worker([&] { cam.RunRecording(target); });
    while (cam.FramesWritten == 0) std::this_thread::sleep_for(10ms);
    const auto end = SceneClock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
    auto next = SceneClock::now() + 1500ms;
    while (next + 1s < end) {
        std::this_thread::sleep_until(next);
        const auto heardAt = beeper.Beep();
        std::this_thread::sleep_until(heardAt);
        square.Paint(true);
        std::this_thread::sleep_for(300ms);
        square.Paint(false);
        next += kEventEvery;
    }
    std::this_thread::sleep_until(end);
    cam.StopRecording();
    worker.join();
    host.ProcessEvents();

    const auto c = recorder->Corrections();
    std::printf(
        "sound corrections: holes %lld ms, bursts dropped %lld ms, no buffer %lld ms, frames "
        "added %llu, removed %llu, overruns %u, stalls %zu\n",
        static_cast<long long>(c.holeMs), static_cast<long long>(c.droppedMs),
        static_cast<long long>(c.unqueuedMs), static_cast<unsigned long long>(c.addedFrames),
        static_cast<unsigned long long>(c.removedFrames), c.overruns, c.stalls.size());
    const auto flashes = soundtest::FlashTimes(soundtest::FrameBrightness(target));
    const auto beeps = soundtest::BeepTimes(soundtest::Samples(target), 2, 44100);
    std::vector<double> at, offset;
    for (double flash : flashes) {
        double best = 1e9;
        for (double beep : beeps)
            if (std::abs(beep - flash) < std::abs(best)) best = beep - flash;
        if (std::abs(best) < 0.5) {
            at.push_back(flash / 60);
            offset.push_back(best * 1000);
        }
    }
    if (offset.size() < 2) {
        std::printf("flashes %zu, beeps %zu: too few events paired\n", flashes.size(),
                    beeps.size());
        return 1;
    }
    double worst = 0;
    for (std::size_t i = 0; i < offset.size(); ++i) {
        worst = std::max(worst, std::abs(offset[i]));
        std::fprintf(stderr, "%.2f min %+.1f ms\n", at[i], offset[i]);
    }
    std::printf(
        "%s, %.1f min: %zu events (flashes %zu, beeps %zu); beep - flash at the start %+.1f ms, "
        "at the end %+.1f ms, worst %.1f ms, trend %+.2f ms/min\n",
        corrected ? "corrected" : "uncorrected", minutes, offset.size(), flashes.size(),
        beeps.size(), offset.front(), offset.back(), worst, Slope(at, offset));
    return 0;
}
