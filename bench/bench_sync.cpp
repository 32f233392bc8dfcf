// Records the flash-and-beep scene with the engine and the real recorder for
// a number of minutes and prints how far the sound is from the picture: at
// the start, at the end, the worst, and the trend in ms per minute.
//   bench_sync MINUTES FOLDER [uncorrected|two]
// "uncorrected" records the sound as the device counts it, for comparison.
// "two" records a second input beside the first, each beeped at once through
// a sink of its own, into two tracks: each track against the picture, and
// the two against each other. The CPU time of the run is printed for
// comparing one input with two.
// bench/run-sync-bench.sh starts the private servers and runs it.

#include <sys/resource.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "audio/EngineMixer.h"
#include "audio/EngineRecorder.h"
#include "platform/wavein/WaveInApi.h"
#include "tests/doubles/ScriptedHost.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"
#include "tests/sound/SoundCheck.h"

using namespace velmora;
using namespace std::chrono_literals;
using soundtest::Samples;
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

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The beep nearest each flash (within half a second), beep - flash in ms.
std::vector<std::pair<double, double>> Offsets(const std::vector<double>& flashes,
                                               const std::vector<double>& beeps) {
    std::vector<std::pair<double, double>> found;
    for (double flash : flashes) {
        double best = 1e9;
        for (double beep : beeps)
            if (std::abs(beep - flash) < std::abs(best)) best = beep - flash;
        if (std::abs(best) < 0.5) found.emplace_back(flash, best * 1000);
    }
    return found;
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
    const std::string mode = argc < 4 ? "" : argv[3];
    const bool corrected = mode != "uncorrected", two = mode == "two";
    test::loadFixtureEnvironment();
    platform::waveInSetClockCorrection(corrected);
    // The mixer, which names the second input, wants an application.
    QCoreApplication application(argc, argv);

    soundtest::BeepSource source;
    soundtest::Beeper beeper("lipsync");
    if (!source.Good() || !beeper.Good() ||
        !soundtest::Eventually([] { return soundtest::SourceFlows("lipsync.monitor"); }, 10s)) {
        std::fprintf(stderr, "the sound server gives no beep source\n");
        return 1;
    }
    // The second input: a sink of its own, beeped with the first.
    std::string secondSink;
    std::unique_ptr<soundtest::Beeper> beeper2;
    if (two) {
        secondSink = test::capture("pactl load-module module-null-sink sink_name=lipsync2");
        while (!secondSink.empty() && secondSink.back() == '\n') secondSink.pop_back();
        beeper2 = std::make_unique<soundtest::Beeper>("lipsync2");
        if (secondSink.empty() || !beeper2->Good() ||
            !soundtest::Eventually([] { return soundtest::SourceFlows("lipsync2.monitor"); },
                                   10s)) {
            std::fprintf(stderr, "the sound server gives no second beep source\n");
            return 1;
        }
    }
    struct Unload {
        std::string module;
        ~Unload() {
            if (!module.empty()) test::run("pactl unload-module " + module);
        }
    } unload{secondSink};
    soundtest::RootSquare square(600, 300, 64);
    if (!square.Good()) {
        std::fprintf(stderr, "no test display\n");
        return 1;
    }
    square.Paint(false);

    test::ScriptedHost host;
    engine::TEngineAudioRecorder* recorder = nullptr;  // the camera's first input's
    host.makeRecorder = [&recorder] {
        auto made = audio::CreateEngineAudioRecorder();
        if (!recorder) recorder = made.get();
        return made;
    };
    if (two) host.makeMixer = [] { return audio::CreateEngineMixer(); };
    engine::TScreenCamera cam(host);
    if (two) {
        cam.SelectSecondAudioInput("lipsync2.monitor");
        cam.SeparateSoundTracks = true;
    }
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
    const double cpuBefore = CpuSeconds();
    std::thread worker;
    if (two) {
        // The second input is looked up as a recording starts.
        cam.StartRecording(target);
    } else {
        cam.Recording = true;
        worker = std::thread([&] { cam.RunRecording(target); });
    }
    while (cam.FramesWritten == 0) std::this_thread::sleep_for(10ms);
    const auto end = SceneClock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
    auto next = SceneClock::now() + 1500ms;
    std::vector<double> early[2];  // ms each input's beep was heard before its flash
    while (next + 1s < end) {
        std::this_thread::sleep_until(next);
        auto second = std::async(std::launch::async, [&] {
            return beeper2 ? beeper2->Beep() : SceneClock::time_point();
        });
        const auto firstHeard = beeper.Beep(), secondHeard = second.get();
        const auto heardAt = std::max(firstHeard, secondHeard);
        // The flash goes with the later beep; how early the other was heard
        // is taken off its offset.
        early[0].push_back(std::chrono::duration<double, std::milli>(firstHeard - heardAt).count());
        early[1].push_back(
            std::chrono::duration<double, std::milli>(secondHeard - heardAt).count());
        std::this_thread::sleep_until(heardAt);
        square.Paint(true);
        std::this_thread::sleep_for(300ms);
        square.Paint(false);
        next += kEventEvery;
    }
    std::this_thread::sleep_until(end);
    const double cpuRecording = CpuSeconds() - cpuBefore;
    cam.StopRecording();
    if (worker.joinable()) worker.join();
    host.RunUntil([&] { return !cam.WorkerRunning(); }, 3600000);
    std::printf("CPU while recording: %.1f s in %.1f min (%.1f %% of one processor), %s\n",
                cpuRecording, minutes, cpuRecording / (minutes * 60) * 100,
                two ? "two inputs" : "one input");

    const auto c = recorder->Corrections();
    std::printf(
        "sound corrections: holes %lld ms, bursts dropped %lld ms, no buffer %lld ms, frames "
        "added %llu, removed %llu, overruns %u, stalls %zu\n",
        static_cast<long long>(c.holeMs), static_cast<long long>(c.droppedMs),
        static_cast<long long>(c.unqueuedMs), static_cast<unsigned long long>(c.addedFrames),
        static_cast<unsigned long long>(c.removedFrames), c.overruns, c.stalls.size());
    const auto flashes = soundtest::FlashTimes(soundtest::FrameBrightness(target));
    if (two) {
        // Each track against the picture, and the two against each other.
        auto first = Offsets(flashes, soundtest::BeepTimes(Samples(target, 0), 2, 44100));
        auto second = Offsets(flashes, soundtest::BeepTimes(Samples(target, 1), 2, 44100));
        // Flash k is event k when every flash was seen.
        const bool counted = flashes.size() == early[0].size();
        const auto indexOf = [&](double flash) {
            return static_cast<std::size_t>(std::find(flashes.begin(), flashes.end(), flash) -
                                            flashes.begin());
        };
        double worstFirst = 0, worstSecond = 0, worstBetween = 0;
        std::size_t paired = 0;
        for (auto [flash, offset] : first) {
            if (counted) offset -= early[0][indexOf(flash)];
            worstFirst = std::max(worstFirst, std::abs(offset));
            for (auto [flash2, offset2] : second)
                if (flash2 == flash) {
                    if (counted) offset2 -= early[1][indexOf(flash)];
                    ++paired;
                    worstSecond = std::max(worstSecond, std::abs(offset2));
                    worstBetween = std::max(worstBetween, std::abs(offset2 - offset));
                    std::fprintf(stderr, "%.2f min first %+.1f ms, second %+.1f ms\n", flash / 60,
                                 offset, offset2);
                }
        }
        if (!counted)
            std::printf("%zu flashes for %zu events: offsets not corrected for beeps heard early\n",
                        flashes.size(), early[0].size());
        std::printf(
            "two inputs, %.1f min: %zu flashes, %zu paired; worst beep - flash: first %.1f ms, "
            "second %.1f ms; worst between the tracks %.1f ms%s\n",
            minutes, flashes.size(), paired, worstFirst, worstSecond, worstBetween,
            paired > 1 && worstBetween <= 5 && worstFirst <= 20 && worstSecond <= 20
                ? " (within 5 ms of each other and 20 ms of the picture)"
                : " (OUTSIDE 5 ms of each other or 20 ms of the picture)");
        return paired > 1 ? 0 : 1;
    }
    const auto beeps = soundtest::BeepTimes(Samples(target), 2, 44100);
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
