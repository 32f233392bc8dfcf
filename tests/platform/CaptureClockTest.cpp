// The capture clock on simulated time: a source whose clock is off, whose
// server loses sound or stalls, read every 20 ms with datings that scatter
// as a sound server's do.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/wavein/CaptureClock.h"
#include "tests/doubles/ScriptedCapture.h"

namespace velmora::test {
namespace {

using platform::WAVEFORMATEX;
using platform::wavein::CaptureClock;

constexpr std::uint32_t kRate = 48000;
constexpr std::int64_t kStartNs = 1'000'000'000'000;
constexpr std::int64_t kStallNs = 4'000'000'000;

struct Source {
    double ppm = 0;
    double seconds = 60;
    bool correct = true;
    double jitterMs = 3;                     // the datings scatter this much either way
    std::vector<ScriptedCapture::Gap> gaps;  // frames lost without notice
    ScriptedCapture::Gap reportedHole{-1, 0};
    std::vector<SourceGap> pauses;  // the recording paused, by the steady clock
};

struct Result {
    std::vector<std::int16_t> out;
    std::int64_t firstNs = -1;
    platform::WaveInReport report;
};

// Feeds the clock as the capture thread would, on simulated time.
Result Simulate(Source run) {
    const WAVEFORMATEX format{platform::WAVE_FORMAT_PCM, 1, kRate, kRate * 2, 2, 16, 0};
    CaptureClock clock(format);
    clock.setCorrection(run.correct);
    clock.restart(kStartNs);
    const double actual = kRate * (1 + run.ppm / 1e6);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-run.jitterMs, run.jitterMs);
    std::vector<char> out;
    std::vector<std::int16_t> chunk;
    std::int64_t next = 0;
    const auto at = [](double s) { return kStartNs + static_cast<std::int64_t>(s * 1e9); };
    for (double t = 0.020; t < run.seconds; t += 0.020) {
        const std::int64_t now = kStartNs + static_cast<std::int64_t>((t + 0.020) * 1e9);
        // Pressed as the reads go on: sound taken before a press may still be on its way.
        for (const SourceGap& p : run.pauses) {
            if (t >= p.fromS && t - 0.020 < p.fromS) clock.pause(at(p.fromS));
            if (t >= p.fromS + p.lengthS && t - 0.020 < p.fromS + p.lengthS)
                clock.resume(at(p.fromS + p.lengthS));
        }
        auto due = static_cast<std::int64_t>(t * actual);
        const bool handsOver = SkipGaps(run.gaps, actual, next, due);
        if (run.reportedHole.fromS >= 0 && next / actual >= run.reportedHole.fromS) {
            const auto lost = static_cast<std::int64_t>(run.reportedHole.lengthS * actual);
            next += lost;
            clock.hole(static_cast<std::uint64_t>(lost) * 2, out);
            run.reportedHole.fromS = -1;
        }
        if (!handsOver || next >= due) {
            clock.idle(now, kStallNs, out);
            continue;
        }
        chunk.resize(static_cast<std::size_t>(due - next));
        for (std::size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = BeepToneSample(next + static_cast<std::int64_t>(i), actual);
        const auto dated =
            kStartNs + static_cast<std::int64_t>((next / actual + jitter(random) / 1000) * 1e9);
        clock.take(reinterpret_cast<const char*>(chunk.data()), chunk.size() * 2, dated, now, out);
        next = due;
    }
    Result r;
    r.out.resize(out.size() / 2);
    std::memcpy(r.out.data(), out.data(), r.out.size() * 2);
    r.firstNs = clock.firstSampleNs();
    r.report = clock.counters();
    return r;
}

// Where each beep is in the sound against when it was taken (ms; + late).
std::vector<double> BeepOffsetsMs(const Result& r) {
    std::vector<double> offsets;
    const double fileStartS = (r.firstNs - kStartNs) / 1e9;
    const auto onsets = BeepOnsets(r.out, kRate);
    for (std::size_t onset : onsets) {
        const double at = fileStartS + static_cast<double>(onset) / kRate;
        offsets.push_back((at - std::round(at)) * 1000);
    }
    return offsets;
}

TEST(CaptureClock, ASourceThousandPpmFastStaysWithinTenMillisecondsOverAMinute) {
    Source run;
    run.ppm = 1000;  // 48,048 frames a second
    const auto offsets = BeepOffsetsMs(Simulate(run));
    ASSERT_GE(offsets.size(), 58u);
    std::printf("corrected: first beep %+.1f ms, last %+.1f ms\n", offsets.front(), offsets.back());
    EXPECT_LT(std::abs(offsets.back() - offsets.front()), 10.0);
    for (double o : offsets) EXPECT_LT(std::abs(o), 20.0);

    // The same source as the device counts it moves a millisecond a second.
    run.correct = false;
    const auto drifting = BeepOffsetsMs(Simulate(run));
    ASSERT_GE(drifting.size(), 58u);
    std::printf("uncorrected: first beep %+.1f ms, last %+.1f ms\n", drifting.front(),
                drifting.back());
    EXPECT_NEAR(drifting.back() - drifting.front(), 59.0, 3.0);
}

TEST(CaptureClock, ASlowSourceIsHeldAsWellAndNothingClicks) {
    Source run;
    run.ppm = -300;
    const Result r = Simulate(run);
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_GE(offsets.size(), 58u);
    EXPECT_LT(std::abs(offsets.back() - offsets.front()), 5.0);
    EXPECT_GT(r.report.addedFrames, 700u);  // 14 frames a second after the start
    EXPECT_EQ(r.report.removedFrames, 0u);
    // Frames are repeated at the quietest point of the tone, never in a beep:
    // no step between neighbours beyond the tone's own steepest.
    const double steepest = kToneLevel * 2 * M_PI * 440 / kRate;
    for (std::size_t i = 1; i < r.out.size(); ++i) {
        if (std::abs(r.out[i]) < kToneLevel + 1 && std::abs(r.out[i - 1]) < kToneLevel + 1) {
            ASSERT_LE(std::abs(r.out[i] - r.out[i - 1]), 2 * steepest) << "at frame " << i;
        }
    }
}

TEST(CaptureClock, AnExactSourceIsLeftAlone) {
    Source run;
    run.seconds = 30;
    const Result r = Simulate(run);
    // The scatter of the datings alone moves next to nothing.
    EXPECT_EQ(r.report.holeFrames + r.report.droppedFrames, 0u);
    EXPECT_LT(r.report.addedFrames + r.report.removedFrames, 20u);
    EXPECT_NEAR(static_cast<double>(r.out.size()), 30.0 * kRate, 1000);
}

TEST(CaptureClock, AHoleTheServerKeptQuietAboutBecomesSilenceOfItsLength) {
    Source run;
    run.seconds = 12;
    run.gaps = {{6.5, 0.200}};
    const Result r = Simulate(run);
    const auto [at, length] = LongestSilence(r.out);
    EXPECT_NEAR(length / double(kRate), 0.200, 0.005);
    EXPECT_NEAR(at / double(kRate), 6.5, 0.150);  // filled once five readings agree
    EXPECT_EQ(r.report.holeFrames, length);
    for (double o : BeepOffsetsMs(r)) EXPECT_LT(std::abs(o), 5.0);
}

TEST(CaptureClock, AReportedHoleIsSilenceInPlace) {
    Source run;
    run.seconds = 8;
    run.reportedHole = {4.5, 0.200};
    const Result r = Simulate(run);
    const auto [at, length] = LongestSilence(r.out);
    EXPECT_NEAR(length / double(kRate), 0.200, 0.001);
    EXPECT_NEAR(at / double(kRate), 4.5, 0.021);
    for (double o : BeepOffsetsMs(r)) EXPECT_LT(std::abs(o), 5.0);
}

TEST(CaptureClock, AStallIsSilenceForItsTimeAndCaptureGoesOn) {
    Source run;
    run.seconds = 14;
    run.gaps = {{5.5, 4.5}};
    const Result r = Simulate(run);
    const auto [at, length] = LongestSilence(r.out);
    EXPECT_NEAR(at / double(kRate), 5.5, 0.030);
    EXPECT_NEAR(length / double(kRate), 4.5, 0.030);
    ASSERT_EQ(r.report.stalls.size(), 1u);
    EXPECT_NEAR(r.report.stalls[0].atFrame / double(kRate), 5.5, 0.030);
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_EQ(offsets.size(), 10u);  // the beeps of the stalled seconds never came
    for (double o : offsets) EXPECT_LT(std::abs(o), 5.0);
}

// Beeps sound at every whole second; pauses of whole seconds leave them on
// whole seconds of the file, where the picture's time puts them too.
TEST(CaptureClock, PausesLeaveOutWhatWasTakenInThemAndTheRestStaysOnTime) {
    Source run;
    run.seconds = 40;
    run.pauses = {{5.5, 3.0}, {12.25, 1.0}, {20.7, 4.0}};
    const Result r = Simulate(run);
    // The reads end within 20 ms of the run's end.
    EXPECT_NEAR(static_cast<double>(r.out.size()) / kRate, 40 - 8, 0.025);
    const auto offsets = BeepOffsetsMs(r);
    // Those taken in the pauses (6, 7, 8, 13, 21, 22, 23, 24 s) are not in the file.
    ASSERT_EQ(offsets.size(), 40u - 8u);
    for (double o : offsets) EXPECT_LT(std::abs(o), 5.0);
    // A pause is no hole, burst or drift to the clock: the scatter of the
    // datings moves a cut by a few milliseconds at most, which the drift
    // correction takes back a frame at a time.
    EXPECT_EQ(r.report.holeFrames + r.report.droppedFrames, 0u);
    EXPECT_LT(r.report.addedFrames + r.report.removedFrames, 150u);
    EXPECT_TRUE(r.report.stalls.empty());
    EXPECT_NEAR((r.firstNs - kStartNs) / 1e9, 0.0, 0.005);
}

// A pause outlasts the server's buffers and the stall limit: capture goes on,
// and a source that gives nothing meanwhile owes no silence for it.
TEST(CaptureClock, ALongPauseOverAQuietSourceAddsNothing) {
    Source run;
    run.seconds = 30;
    run.gaps = {{10.0, 12.0}};
    run.pauses = {{9.5, 13.0}};
    const Result r = Simulate(run);
    // The sound lost in the pause cannot be counted: the cut ends by the
    // datings, within a few tens of milliseconds.
    EXPECT_NEAR(static_cast<double>(r.out.size()) / kRate, 30 - 13, 0.04);
    EXPECT_TRUE(r.report.stalls.empty());
    EXPECT_EQ(r.report.holeFrames, 0u);
    EXPECT_LT(LongestSilence(r.out).second, kRate / 100);
    // The sound after it starts up to the cut's slack early, and the clock
    // takes that back within seconds.
    const auto offsets = BeepOffsetsMs(r);
    ASSERT_EQ(offsets.size(), 30u - 13u);
    for (double o : offsets) EXPECT_LT(std::abs(o), 25.0);
    EXPECT_LT(std::abs(offsets.back()), 5.0);
}

}  // namespace
}  // namespace velmora::test
