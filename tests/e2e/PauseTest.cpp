// Pausing the whole program as a user does: the Pause button, F11 and
// `velmora --resume`, over a scene whose picture shows the time and whose
// sound is a steady tone with a beep at each flash. The file must leave the
// paused stretches out of picture and sound alike and keep every beep with
// its flash.

#include <algorithm>
#include <atomic>
#include <cmath>
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
    // A flash and a beep at the same instant.
    void FlashAndBeep() {
        std::this_thread::sleep_until(beeper_->Beep());
        flash_->Paint(true);
        std::this_thread::sleep_for(150ms);
        flash_->Paint(false);
    }
    // Flash and beep times in the file, paired, with their offsets.
    void ExpectEachBeepWithItsFlash(const std::string& file, std::size_t pairs) {
        const std::string crop = std::to_string(kSquare - 16) + ":" + std::to_string(kSquare - 16) +
                                 ":" + std::to_string(kFlashLeft - kAreaLeft + 8) + ":" +
                                 std::to_string(kSquareTop - kAreaTop + 8);
        const auto flashes = FlashTimes(FrameBrightness(file, crop));
        const auto beeps = BeepTimes(Samples(file), 2, 44100);
        ASSERT_EQ(flashes.size(), pairs) << "flashes of paused stretches must not be in the file";
        ASSERT_EQ(beeps.size(), pairs) << "beeps of paused stretches must not be in the file";
        for (std::size_t i = 0; i < pairs; ++i) {
            const double offsetMs = (beeps[i] - flashes[i]) * 1000;
            std::printf("flash at %.3f s, beep at %.4f s: beep - flash = %+.1f ms\n", flashes[i],
                        beeps[i], offsetMs);
            EXPECT_LE(std::abs(offsetMs), 20.0) << "pair " << i;
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

// Twelve seconds, paused from the third to the seventh by the Pause button
// and resumed by `velmora --resume`: eight seconds in the file, the frame
// after the pause showing the time of the resume, the tone without a gap.
TEST_F(PauseTest, TheButtonAndResumeCommandLeaveThePauseOutOfPictureAndSound) {
    std::unique_ptr<Program> program;
    const std::string window = StartRecording(program);
    ASSERT_FALSE(window.empty()) << TodaysLog();
    At(1.5);
    FlashAndBeep();
    At(3);
    const double pauseClicked = Since(start_);
    ASSERT_TRUE(Program::Click(window, Program::kOptionsX, Program::kOptionsY));
    const double pauseDone = Since(start_);
    At(5);
    FlashAndBeep();  // paused: neither may be in the file
    At(7);
    const double resumeSent = Since(start_);
    EXPECT_EQ(Send("--resume"), 0);
    const double resumeDone = Since(start_);
    At(9.5);
    FlashAndBeep();
    At(11.6);
    FlashAndBeep();
    At(12);
    EXPECT_EQ(Send("--stop"), 0);
    const std::string file = MergedRecording(out_).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    StopClock();
    const std::string log = TodaysLog();
    // The recording's own time, which began a little after this test's
    // clock: the click at 3 s may fall before its third second.
    EXPECT_TRUE(log.find("Recording paused at 3s") != std::string::npos ||
                log.find("Recording paused at 2s") != std::string::npos)
        << log;
    EXPECT_NE(log.find("Recording resumed"), std::string::npos) << log;

    // One jump in the clock, the pause; everywhere else a frame a 60th.
    const auto clock = ClockReadings(file, kAreaLeft, kAreaTop, clockAtStart_);
    ASSERT_GT(clock.size(), 400u);
    std::size_t jump = 0;
    for (std::size_t i = 1; i < clock.size(); ++i)
        if (clock[i] - clock[i - 1] > 0.2) {
            EXPECT_EQ(jump, 0u) << "a second gap at " << clock[i - 1] << " s";
            jump = i;
        }
    ASSERT_NE(jump, 0u) << "no pause in the picture";
    std::printf(
        "paused %.3f-%.3f s (clicked %.3f-%.3f, resumed %.3f-%.3f): frames show %.2f, "
        "then %.2f\n",
        pauseClicked, resumeDone, pauseClicked, pauseDone, resumeSent, resumeDone, clock[jump - 1],
        clock[jump]);
    // Within the clock's tenths and what a loaded machine adds to a grab
    // and a paint of the clock (seen up to 0.2 s late).
    EXPECT_NEAR(clock[jump - 1], (pauseClicked + pauseDone) / 2, 0.3);
    EXPECT_GE(clock[jump], resumeSent - 0.3);
    EXPECT_LE(clock[jump], resumeDone + 0.3);

    const double paused = clock[jump] - clock[jump - 1];
    const double recorded = clock.back() - clock.front() - paused;
    const double videoSeconds = std::stod(StreamInfo(file, 0).at("duration"));
    std::printf("video %.3f s; the clock ran %.3f s, of which %.3f s paused\n", videoSeconds,
                clock.back() - clock.front(), paused);
    // The clock counts tenths and its paints lag on a loaded machine.
    EXPECT_NEAR(videoSeconds, recorded, 0.3);
    EXPECT_NEAR(videoSeconds, 12.0 - 4.0, 0.7);

    // The sound runs on past the picture's end until the recorder closes,
    // as without a pause: a few hundredths, more on a loaded machine.
    const auto samples = Samples(file);
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    EXPECT_GE(soundSeconds, videoSeconds - 0.02);
    EXPECT_LE(soundSeconds, videoSeconds + 0.15);
    // The tone goes on through the cut: no stretch of silence after the
    // first fifth of a second (where the sound's start may be padded).
    const std::vector<std::int16_t> left = [&] {
        std::vector<std::int16_t> l;
        for (std::size_t i = 44100 / 5; i < samples.size() / 2; ++i) l.push_back(samples[2 * i]);
        return l;
    }();
    EXPECT_LT(LongestQuiet(left), 44100 / 200) << "a gap in the sound";
    ExpectEachBeepWithItsFlash(file, 3);

    program->Close(window);
    EXPECT_EQ(program->Exit(), 0);
}

// Five pauses by F11, a flash and a beep in every stretch, paused or not.
TEST_F(PauseTest, FivePausesByHotKeyKeepEveryBeepWithItsFlash) {
    std::unique_ptr<Program> program;
    const std::string window = StartRecording(program);
    ASSERT_FALSE(window.empty()) << TodaysLog();
    double t = 0.7;
    for (int stretch = 0; stretch < 6; ++stretch) {
        At(t);
        FlashAndBeep();
        if (stretch == 5) break;
        At(t += 0.8);
        run("xdotool key F11");
        At(t += 0.5);
        FlashAndBeep();
        At(t += 0.8);
        run("xdotool key F11");
        t += 0.5;
    }
    At(t + 0.8);
    run("xdotool key F10");
    const std::string file = MergedRecording(out_).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    StopClock();
    ExpectEachBeepWithItsFlash(file, 6);
    const std::string log = TodaysLog();
    std::size_t pauses = 0, resumes = 0;
    for (std::size_t at = 0; (at = log.find("Recording paused at", at)) != std::string::npos; ++at)
        ++pauses;
    for (std::size_t at = 0; (at = log.find("Recording resumed", at)) != std::string::npos; ++at)
        ++resumes;
    EXPECT_EQ(pauses, 5u);
    EXPECT_EQ(resumes, 5u);
    program->Close(window);
    EXPECT_EQ(program->Exit(), 0);
}

}  // namespace
