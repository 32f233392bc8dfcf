// Pausing the whole program as a user does: the Pause button, F11 and
// `velmora --pause/--resume`, over a scene whose picture shows the time and
// whose sound is a steady tone with a beep at each flash. The file must leave
// the paused stretches out of picture and sound alike and keep every beep
// with its flash.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <regex>
#include <thread>

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;
using namespace std::chrono_literals;

namespace {

// Where the scene stands on the test display, clear of the main window in
// its middle: a square that flashes, and one whose grey level is the clock.
constexpr int kFlashLeft = 40, kClockLeft = 120, kSquareTop = 40, kSquare = 64;
// The clock square counts tenths of a second in grey levels, three for two,
// from level 10 when the program is started: 16 s fit.
constexpr double kLevelsPerTenth = 1.5;
constexpr int kClockBase = 10;

// Seconds since t on the scene's clock.
double Since(SceneClock::time_point t) {
    return std::chrono::duration<double>(SceneClock::now() - t).count();
}

// The scene clock's reading in each frame of a file: its square's grey
// level back from the luma ffmpeg reads (limited range), as seconds.
// clockAtStart: the scene's time when the clock started.
std::vector<double> ClockReadings(const std::string& file, int areaLeft, int areaTop,
                                  double clockAtStart) {
    const std::string crop = std::to_string(kSquare - 16) + ":" + std::to_string(kSquare - 16) +
                             ":" + std::to_string(kClockLeft - areaLeft + 8) + ":" +
                             std::to_string(kSquareTop - areaTop + 8);
    std::vector<double> readings;
    for (const auto& [time, luma] : FrameBrightness(file, crop)) {
        const double level = (luma - 16) * 255 / 219;
        readings.push_back((level - kClockBase) / kLevelsPerTenth / 10 + clockAtStart);
    }
    return readings;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The longest run of samples near silence, in samples: the tone passes zero
// in one or two of them.
std::size_t LongestQuiet(const std::vector<std::int16_t>& samples) {
    std::size_t longest = 0, run = 0;
    for (std::int16_t s : samples) {
        run = std::abs(s) < 30 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

class PauseTest : public ProgramTest {
  protected:
    static constexpr int kAreaLeft = 32, kAreaTop = 32, kAreaWidth = 160, kAreaHeight = 80;

    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
        source_ = std::make_unique<BeepSource>();
        ASSERT_TRUE(source_->Good());
        beeper_ = std::make_unique<Beeper>("lipsync", true);
        ASSERT_TRUE(beeper_->Good());
        ASSERT_TRUE(Eventually([] { return SourceFlows("lipsync.monitor"); }, 10s));
        flash_ = std::make_unique<RootSquare>(kFlashLeft, kSquareTop, kSquare);
        clock_ = std::make_unique<RootSquare>(kClockLeft, kSquareTop, kSquare);
        ASSERT_TRUE(flash_->Good() && clock_->Good());
        flash_->Paint(false);
        clock_->PaintLevel(0);
        out_ = root_ / "out";
        fs::create_directory(out_);
        const std::string input = InputIndexOf("lipsync.monitor");
        ASSERT_FALSE(input.empty());
        // HuffYUV keeps the clock's levels; 60 frames a second place a flash
        // within 8 ms; no window
        // moves, no reports; stereo 16-bit 44.1 kHz from the scene's sink.
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=0\nCaptureCursor=0\n"
            << "CodecIndex=4\nVideoFPS=60\nRegionLeftPos=" << kAreaLeft
            << "\nRegionTopPos=" << kAreaTop << "\nRegionWidthPos=" << kAreaWidth
            << "\nRegionHeightPos=" << kAreaHeight
            << "\n[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n"
            << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" << input
            << "\n";
    }
    void TearDown() override {
        StopClock();
        ProgramTest::TearDown();
    }

    // Starts the scene clock and the program recording: its window's id,
    // or "". The scene's times count from the recording's start.
    std::string StartRecording(std::unique_ptr<Program>& program) {
        const auto clockStart = SceneClock::now();
        ticking_ = true;
        ticker_ = std::thread([this, clockStart] {
            while (ticking_) {
                const int tenths = static_cast<int>(Since(clockStart) * 10);
                clock_->PaintLevel(
                    std::min(255, kClockBase + static_cast<int>(kLevelsPerTenth * tenths)));
                std::this_thread::sleep_for(5ms);
            }
        });
        program = std::make_unique<Program>(folder_, std::vector<std::string>{"-vc"});
        const std::string window = program->WaitForWindow(kMainTitle);
        if (window.empty()) return {};
        // The log names the recording's file as it starts.
        if (!WaitFor([&] { return TodaysLog().find("VideoRecord_") != std::string::npos; }))
            return {};
        start_ = SceneClock::now();
        clockAtStart_ = -std::chrono::duration<double>(start_ - clockStart).count();
        return window;
    }
    void StopClock() {
        ticking_ = false;
        if (ticker_.joinable()) ticker_.join();
    }
    void At(double seconds) { std::this_thread::sleep_until(start_ + 1ms * (1000 * seconds)); }
    // A flash and a beep at the same instant: how late the paint began, in
    // milliseconds (a loaded machine wakes this thread late).
    double FlashAndBeep() {
        const auto heardAt = beeper_->Beep();
        std::this_thread::sleep_until(heardAt);
        const auto painting = SceneClock::now();
        flash_->Paint(true);
        std::this_thread::sleep_for(150ms);
        flash_->Paint(false);
        return std::chrono::duration<double, std::milli>(painting - heardAt).count();
    }
    // Flash and beep times in the file, paired, with their offsets less how
    // late each flash was painted.
    void ExpectEachBeepWithItsFlash(const std::string& file, const std::vector<double>& lateMs) {
        const std::size_t pairs = lateMs.size();
        const std::string crop = std::to_string(kSquare - 16) + ":" + std::to_string(kSquare - 16) +
                                 ":" + std::to_string(kFlashLeft - kAreaLeft + 8) + ":" +
                                 std::to_string(kSquareTop - kAreaTop + 8);
        const auto flashes = FlashTimes(FrameBrightness(file, crop));
        const auto beeps = BeepTimes(Samples(file), 2, 44100);
        ASSERT_EQ(flashes.size(), pairs) << "flashes of paused stretches must not be in the file";
        ASSERT_EQ(beeps.size(), pairs) << "beeps of paused stretches must not be in the file";
        for (std::size_t i = 0; i < pairs; ++i) {
            const double offsetMs = (beeps[i] - flashes[i]) * 1000 + lateMs[i];
            std::printf(
                "flash at %.3f s (painted %.1f ms late), beep at %.4f s: beep - flash = %+.1f "
                "ms\n",
                flashes[i], lateMs[i], beeps[i], offsetMs);
            // Cut at the same edges: a pause that left picture and sound
            // apart moves what follows by a part of its length. (Their
            // precision, 20 ms, is held at the engine's FlashBeepTest.)
            EXPECT_LE(std::abs(offsetMs), 50.0) << "pair " << i;
        }
    }
    int Send(const std::string& command) {
        Program sender(folder_, {command});
        return sender.Exit().value_or(-1);
    }

    fs::path out_;
    std::unique_ptr<BeepSource> source_;
    std::unique_ptr<Beeper> beeper_;
    std::unique_ptr<RootSquare> flash_, clock_;
    SceneClock::time_point start_;
    double clockAtStart_ = 0;  // the clock's start in the scene's time
    std::atomic<bool> ticking_{false};
    std::thread ticker_;
};

// Two pauses in one recording, each way a user has reaching it: the Pause
// button pauses and F11 resumes, `velmora --pause` pauses and `velmora
// --resume` resumes. The file leaves both paused stretches out of picture
// and sound (a flash and a beep in each), the frame after each pause shows
// the time of its resume, and the tone runs on without a gap. (Many pauses
// and their precision: FlashBeepTest in tests/sound/SoundRecordingTest.cpp.)
TEST_F(PauseTest, TheButtonF11AndTheCommandsLeaveThePausesOutOfPictureAndSound) {
    std::unique_ptr<Program> program;
    const std::string window = StartRecording(program);
    ASSERT_FALSE(window.empty()) << TodaysLog();
    // The log's count of a line reaching n: the program has carried it out.
    const auto logged = [&](const std::string& line, std::size_t n) {
        return WaitFor([&] { return Count(TodaysLog(), line) >= n; });
    };
    // Between a beep and a pause's edge: the beep's sound, still on its way
    // from the server when its flash ends, stays on its side of the edge.
    const auto settle = [] { std::this_thread::sleep_for(400ms); };
    struct Pause {
        double sent, paused, resumeSent, resumed;
    } pauses[2];
    const std::function<void()> pauseBy[2] = {
        [&] { ASSERT_TRUE(Program::Click(window, Program::kOptionsX, Program::kOptionsY)); },
        [&] { EXPECT_EQ(Send("--pause"), 0); }};
    const std::function<void()> resumeBy[2] = {[&] { run("xdotool key F11"); },
                                               [&] { EXPECT_EQ(Send("--resume"), 0); }};
    std::vector<double> lateMs;  // of the flashes recorded
    At(0.7);
    lateMs.push_back(FlashAndBeep());
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE("pause " + std::to_string(k + 1));
        settle();
        pauses[k].sent = Since(start_);
        pauseBy[k]();
        ASSERT_TRUE(logged("Recording paused at", k + 1)) << TodaysLog();
        pauses[k].paused = Since(start_);
        FlashAndBeep();  // paused: neither may be in the file
        settle();
        pauses[k].resumeSent = Since(start_);
        resumeBy[k]();
        ASSERT_TRUE(logged("Recording resumed", k + 1)) << TodaysLog();
        pauses[k].resumed = Since(start_);
        settle();
        lateMs.push_back(FlashAndBeep());
    }
    settle();
    const double stopped = Since(start_);
    EXPECT_EQ(Send("--stop"), 0);
    const std::string file = MergedRecording(out_).string();
    const double merged = Since(start_);
    ASSERT_FALSE(file.empty()) << TodaysLog();
    StopClock();
    const std::string log = TodaysLog();
    EXPECT_EQ(Count(log, "Recording paused at"), 2u) << log;
    EXPECT_EQ(Count(log, "Recording resumed"), 2u) << log;
    // The recording's own time, which began a little after this test's
    // clock, rounded to the nearest second: a second behind at most.
    std::smatch at;
    ASSERT_TRUE(std::regex_search(log, at, std::regex(R"(Recording paused at (\d+)s)"))) << log;
    EXPECT_GE(std::stoi(at[1]), std::lround(pauses[0].sent) - 1) << log;
    EXPECT_LE(std::stoi(at[1]), std::lround(pauses[0].paused)) << log;

    // A jump in the clock at each pause; everywhere else a frame a 60th.
    const auto clock = ClockReadings(file, kAreaLeft, kAreaTop, clockAtStart_);
    ASSERT_GT(clock.size(), 120u);
    std::vector<std::size_t> jumps;
    for (std::size_t i = 1; i < clock.size(); ++i)
        if (clock[i] - clock[i - 1] > 0.2) jumps.push_back(i);
    ASSERT_EQ(jumps.size(), 2u) << "the pauses in the picture";
    double paused = 0;
    for (std::size_t k = 0; k < 2; ++k) {
        const Pause& p = pauses[k];
        const std::size_t jump = jumps[k];
        std::printf(
            "pause %zu: sent %.3f, logged %.3f; resume sent %.3f, logged %.3f: frames show "
            "%.2f, then %.2f\n",
            k + 1, p.sent, p.paused, p.resumeSent, p.resumed, clock[jump - 1], clock[jump]);
        // Within the clock's tenths and what a loaded machine adds to a grab
        // and a paint of the clock (seen up to 0.2 s late).
        EXPECT_GE(clock[jump - 1], p.sent - 0.3) << "pause " << k + 1;
        EXPECT_LE(clock[jump - 1], p.paused + 0.3) << "pause " << k + 1;
        EXPECT_GE(clock[jump], p.resumeSent - 0.3) << "pause " << k + 1;
        EXPECT_LE(clock[jump], p.resumed + 0.3) << "pause " << k + 1;
        paused += clock[jump] - clock[jump - 1];
    }

    const double recorded = clock.back() - clock.front() - paused;
    const double videoSeconds = std::stod(StreamInfo(file, 0).at("duration"));
    std::printf("video %.3f s; the clock ran %.3f s, of which %.3f s paused\n", videoSeconds,
                clock.back() - clock.front(), paused);
    // The clock counts tenths and its paints lag on a loaded machine.
    EXPECT_NEAR(videoSeconds, recorded, 0.3);
    // By this test's clock: each pause began between its command and its
    // log line, and so did its end; the recording ended between the stop's
    // command and the merge.
    double shortest = 0, longest = 0;
    for (const Pause& p : pauses) {
        shortest += p.resumeSent - p.paused;
        longest += p.resumed - p.sent;
    }
    EXPECT_GE(videoSeconds, stopped - longest - 0.3);
    EXPECT_LE(videoSeconds, merged - shortest + 0.3);

    // The sound runs on past the picture's end until the recorder closes,
    // as without a pause: a few hundredths, more on a loaded machine.
    const auto samples = Samples(file);
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    EXPECT_GE(soundSeconds, videoSeconds - 0.02);
    EXPECT_LE(soundSeconds, videoSeconds + 0.15);
    // The tone goes on through the cuts: no stretch of silence after the
    // first fifth of a second (where the sound's start may be padded).
    const std::vector<std::int16_t> left = [&] {
        std::vector<std::int16_t> l;
        for (std::size_t i = 44100 / 5; i < samples.size() / 2; ++i) l.push_back(samples[2 * i]);
        return l;
    }();
    EXPECT_LT(LongestQuiet(left), 44100 / 200) << "a gap in the sound";
    ExpectEachBeepWithItsFlash(file, lateMs);

    program->Close(window);
    EXPECT_EQ(program->Exit(), 0);
}

}  // namespace
