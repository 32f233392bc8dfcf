// The microphone and what the speakers play in one recording, as a user sets
// it up: the second input chosen in Options by the keyboard, each tone at
// the level it has alone in the one track; two named tracks that line short
// beeps up with each other and the picture; and the speakers' input gone
// midway, the microphone's 440 Hz kept to the end, the speakers' 1000 Hz
// until then.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/FlashBeepScene.h"
#include "tests/sound/RootSquare.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;
using namespace std::chrono_literals;

namespace {

// Amplitude of the tone at hz in channel 0 of 44.1 kHz stereo, after the
// first `from` frames (the start may ramp): the median over tenths of a
// second, each measured on its own (Goertzel), so that a frame the capture
// clock added or left out, which moves the tone's phase, costs nothing.
double ToneLevel(const std::vector<std::int16_t>& s, double hz, std::size_t from = 22050) {
    constexpr int rate = 44100;
    constexpr std::size_t block = rate / 10;
    std::vector<double> levels;
    for (std::size_t at = from; at + block <= s.size() / 2; at += block) {
        double re = 0, im = 0;
        for (std::size_t i = at; i < at + block; ++i) {
            const double phase = 2 * M_PI * hz * static_cast<double>(i) / rate;
            re += s[2 * i] * std::cos(phase);
            im += s[2 * i] * std::sin(phase);
        }
        levels.push_back(2 * std::hypot(re, im) / block);
    }
    if (levels.empty()) return 0;
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

double Db(double ratio) {
    return 20 * std::log10(ratio);
}

std::string TrackTitle(const std::string& file, int n) {
    std::string t = capture("ffprobe -v error -select_streams a:" + std::to_string(n) +
                            " -show_entries stream_tags=title -of csv=p=0 '" + file + "'");
    while (!t.empty() && t.back() == '\n') t.pop_back();
    return t;
}

class TwoInputsProgramTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
        out_ = root_ / "out";
        fs::create_directory(out_);
        microphone_ = InputIndexOf("fakemic");
        ASSERT_FALSE(microphone_.empty());
    }
    // Setup.ini: stereo 16-bit 44.1 kHz from the input, and `more`.
    void WriteSetup(const std::string& input, const std::string& more,
                    const std::string& video = "") {
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\n"
            << video << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n"
            << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" << input
            << "\n"
            << more;
    }
    // A recording of `seconds` from the command line, moved out of the
    // output folder to `name`: its file, or "".
    std::string Record(int seconds, const std::string& name) {
        Program program(folder_, {"-vc", "time=" + std::to_string(seconds)});
        const std::string window = program.WaitForWindow(kMainTitle);
        if (window.empty()) return {};
        const fs::path file = MergedRecording(out_);
        program.Close(window);
        program.Exit();
        if (file.empty()) return {};
        fs::rename(file, root_ / name);
        fs::remove_all(folder_ / "Logs");
        return (root_ / name).string();
    }
    fs::path out_;
    std::string microphone_;
};

TEST_F(TwoInputsProgramTest, SpeakersChosenInOptionsAreMixedWithTheMicrophoneAtTheirOwnLevels) {
    // The speakers play a 1000 Hz tone, as loud as the microphone's 440 Hz.
    PulseModule tone("module-sine sink=speakers frequency=1000");
    ASSERT_TRUE(tone.Loaded());
    ASSERT_TRUE(WaitFor([] { return SourceFlows("speakers.monitor"); })) << "speakers silent";
    // Each input alone, as the one input records it.
    WriteSetup(microphone_, "");
    const std::string micAlone = Record(3, "microphone.avi");
    ASSERT_FALSE(micAlone.empty()) << TodaysLog();
    WriteSetup(InputIndexOf("speakers.monitor"), "");
    const std::string speakersAlone = Record(3, "speakers.avi");
    ASSERT_FALSE(speakersAlone.empty()) << TodaysLog();

    // Both: the microphone first, the speakers chosen in Options by keyboard.
    WriteSetup(microphone_, "");
    Program program(folder_, {});
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty());
    ASSERT_FALSE(program.OpenOptions(main).empty());
    // From the compressor list back past Cancel and OK to "Also record", the
    // last control the sound group offers while it records one input; open
    // it, type the input's name, Enter picks it and Enter again is OK.
    ASSERT_EQ(run("xdotool key --delay 60 shift+Tab shift+Tab shift+Tab space"), 0);
    ASSERT_EQ(run("xdotool type --delay 40 'Monitor of Speakers'"), 0);
    ASSERT_EQ(run("xdotool key --delay 60 Return Return"), 0);
    ASSERT_TRUE(WaitFor([&] { return program.Window("Options").empty(); })) << TodaysLog();
    const std::string ini = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(ini.find("AudioInput2Name=speakers.monitor\n"), std::string::npos) << ini;
    run("xdotool key F9");
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find(" - VideoRecord_") != std::string::npos; }));
    std::this_thread::sleep_for(5s);
    run("xdotool key F10");
    const std::string both = MergedRecording(out_).string();
    ASSERT_FALSE(both.empty()) << TodaysLog();
    program.Close(main);
    EXPECT_EQ(program.Exit(), 0);

    ASSERT_EQ(StreamCount(both), 2) << "one picture, one sound track";
    const auto mix = Samples(both), mic = Samples(micAlone), speakers = Samples(speakersAlone);
    const double mic440 = ToneLevel(mic, 440), speakers1000 = ToneLevel(speakers, 1000);
    const double mix440 = ToneLevel(mix, 440), mix1000 = ToneLevel(mix, 1000);
    std::printf(
        "440 Hz: %.0f alone, %.0f mixed (%+.2f dB); 1000 Hz: %.0f alone, %.0f mixed "
        "(%+.2f dB)\n",
        mic440, mix440, Db(mix440 / mic440), speakers1000, mix1000, Db(mix1000 / speakers1000));
    ASSERT_GT(mic440, 1000.0);
    ASSERT_GT(speakers1000, 1000.0);
    EXPECT_NEAR(Db(mix440 / mic440), 0.0, 1.0);
    EXPECT_NEAR(Db(mix1000 / speakers1000), 0.0, 1.0);
    int peak = 0;
    for (std::int16_t s : mix) peak = std::max(peak, std::abs(int(s)));
    EXPECT_LT(peak, 32767);
    const double video = std::stod(StreamInfo(both, 0).at("duration"));
    EXPECT_NEAR(static_cast<double>(mix.size()) / 2 / 44100, video, 1.0 / 15);
}

// Two tracks, each named after its input. Beeps played into both at once and
// a flash of the picture at the same instant line up in the file.
TEST_F(TwoInputsProgramTest, SeparateTracksLineUpWithEachOtherAndThePicture) {
    PulseModule voice(
        "module-null-sink sink_name=clickvoice "
        "sink_properties=device.description=Voice"),
        system("module-null-sink sink_name=clicksystem sink_properties=device.description=System");
    ASSERT_TRUE(voice.Loaded() && system.Loaded());
    Beeper intoVoice("clickvoice"), intoSystem("clicksystem");
    ASSERT_TRUE(intoVoice.Good() && intoSystem.Good());
    ASSERT_TRUE(Eventually([] { return SourceFlows("clickvoice.monitor"); }, 10s));
    ASSERT_TRUE(Eventually([] { return SourceFlows("clicksystem.monitor"); }, 10s));
    constexpr int kLeft = 32, kTop = 32, kSize = 64;
    RootSquare flash(kLeft + 16, kTop + 16, kSize);
    ASSERT_TRUE(flash.Good());
    flash.Paint(false);
    // HuffYUV at 60 frames a second places a flash within 8 ms.
    WriteSetup(InputIndexOf("clickvoice.monitor"),
               "AudioInput2Name=clicksystem.monitor\nAudioSeparateTracks=1\n",
               "TypeCapture=0\nCaptureCursor=0\nCodecIndex=4\nVideoFPS=60\nRegionLeftPos=" +
                   std::to_string(kLeft) + "\nRegionTopPos=" + std::to_string(kTop) +
                   "\nRegionWidthPos=96\nRegionHeightPos=96\n");
    Program program(folder_, {"-vc", "time=6"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find("VideoRecord_") != std::string::npos; }));
    // Each beep's time before the flash, as its sink plays it.
    std::vector<double> voiceEarly, systemEarly;
    const auto before = [](SceneClock::time_point a, SceneClock::time_point b) {
        return std::chrono::duration<double>(a - b).count();
    };
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(1200ms);
        // Both bursts written at once; each heard when its sink plays it.
        auto systemHeard = std::async(std::launch::async, [&] { return intoSystem.Beep(); });
        const auto voiceHeard = intoVoice.Beep();
        const auto other = systemHeard.get();
        const auto flashAt = std::max(voiceHeard, other);
        std::this_thread::sleep_until(flashAt);
        flash.Paint(true);
        voiceEarly.push_back(before(voiceHeard, flashAt));
        systemEarly.push_back(before(other, flashAt));
        std::this_thread::sleep_for(150ms);
        flash.Paint(false);
    }
    const std::string file = MergedRecording(out_).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);

    ASSERT_EQ(StreamCount(file), 3) << TodaysLog();
    EXPECT_EQ(TrackTitle(file, 0), "Monitor of Voice");
    EXPECT_EQ(TrackTitle(file, 1), "Monitor of System");
    const auto flashes = FlashTimes(FrameBrightness(file, "48:48:24:24"));
    const auto voiceBeeps = BeepTimes(Samples(file, 0), 2, 44100);
    const auto systemBeeps = BeepTimes(Samples(file, 1), 2, 44100);
    ASSERT_EQ(flashes.size(), 3u);
    ASSERT_EQ(voiceBeeps.size(), 3u);
    ASSERT_EQ(systemBeeps.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        // Where each beep should be: as far before the flash as it was played.
        const double voiceOff = voiceBeeps[i] - flashes[i] - voiceEarly[i];
        const double systemOff = systemBeeps[i] - flashes[i] - systemEarly[i];
        std::printf(
            "flash %.3f s; beep against when it was played: first track %+.1f ms, "
            "second %+.1f ms; between the tracks %+.1f ms\n",
            flashes[i], voiceOff * 1000, systemOff * 1000, (systemOff - voiceOff) * 1000);
        EXPECT_NEAR(voiceOff, systemOff, 0.010) << i;
        // A flash shows in the first frame grabbed after it.
        EXPECT_NEAR(voiceOff, 0.0, 0.020) << i;
        EXPECT_NEAR(systemOff, 0.0, 0.020) << i;
    }
}

// The speakers' input goes away 2.5 s into a 6 s recording: the microphone's
// track runs to the end, the speakers' is silent after the stop, and the log
// names the input that stopped.
TEST_F(TwoInputsProgramTest, SpeakersGoneMidwayLeaveTheMicrophoneToTheEnd) {
    // The speakers play a 1000 Hz tone, as loud as the microphone's 440 Hz.
    PulseModule tone("module-sine sink=speakers frequency=1000");
    ASSERT_TRUE(tone.Loaded());
    PulseModule loudspeakers(
        "module-remap-source master=speakers.monitor source_name=loudspeakers "
        "source_properties=device.description=Loudspeakers");
    ASSERT_TRUE(loudspeakers.Loaded());
    ASSERT_TRUE(WaitFor([] { return SourceFlows("loudspeakers"); }));
    // Xvid, as most recordings are.
    WriteSetup(microphone_, "AudioInput2Name=loudspeakers\nAudioSeparateTracks=1\n",
               "CodecIndex=1\n");
    Program program(folder_, {"-vc", "time=6"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find("VideoRecord_") != std::string::npos; }));
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(loudspeakers.Unload());
    ASSERT_TRUE(WaitFor(
        [&] {
            return Recordings(out_).size() == 1 &&
                   TodaysLog().find(" - the sound is incomplete: ") != std::string::npos;
        },
        40s))
        << TodaysLog();
    const std::string log = TodaysLog();
    EXPECT_NE(log.find("The sound input \"Loudspeakers\" stopped at "), std::string::npos) << log;
    EXPECT_NE(log.find(" - the sound is incomplete: Loudspeakers: "), std::string::npos) << log;

    const std::string file = Recordings(out_).front().string();
    ASSERT_EQ(StreamCount(file), 3) << log;
    const double video = std::stod(StreamInfo(file, 0).at("duration"));
    const auto first = Samples(file, 0), second = Samples(file, 1);
    std::printf("video %.3f s, tracks %.3f s and %.3f s\n", video,
                static_cast<double>(first.size()) / 2 / 44100,
                static_cast<double>(second.size()) / 2 / 44100);
    EXPECT_GT(video, 5.5);
    // Each track as long as the picture, within a frame.
    EXPECT_NEAR(static_cast<double>(first.size()) / 2 / 44100, video, 1.0 / 15);
    EXPECT_NEAR(static_cast<double>(second.size()) / 2 / 44100, video, 1.0 / 15);
    ASSERT_GT(first.size(), 2u * 44100);
    ASSERT_GT(second.size(), 2u * 44100);
    std::size_t firstSound = 0;
    while (firstSound < second.size() && std::abs(second[firstSound]) <= 100) ++firstSound;
    std::printf("the speakers' track starts at %.3f s\n",
                static_cast<double>(firstSound) / 2 / 44100);
    // 440 Hz in the first track, 1000 Hz in the second.
    EXPECT_NEAR(ToneHz(first, 2, 44100), 440.0, 2.0);
    // (A stream newly on the speakers' monitor may start with silence.)
    const std::vector<std::int16_t> beforeTheStop(second.begin() + 2 * 44100,
                                                  second.begin() + 4 * 44100);
    EXPECT_NEAR(ToneHz(beforeTheStop, 2, 44100), 1000.0, 5.0);
    // The microphone to the end: its tone in the last second too.
    const std::vector<std::int16_t> lastSecond(first.end() - 2 * 44100, first.end());
    EXPECT_GT(ToneLevel(lastSecond, 440, 0), 1000.0);
    // The speakers until the stop (about 2.5 s in), silence after it.
    std::size_t lastSound = 0;
    for (std::size_t i = 0; i < second.size(); ++i)
        if (std::abs(second[i]) > 100) lastSound = i;
    const double stoppedAt = static_cast<double>(lastSound) / 2 / 44100;
    std::printf("the speakers' track ends at %.3f s\n", stoppedAt);
    EXPECT_GT(stoppedAt, 1.0);
    EXPECT_LT(stoppedAt, 4.0);
    EXPECT_LT(stoppedAt, video - 1.5);

    const std::string box = program.WaitForWindow("Velmora");
    if (!box.empty()) program.Close(box);
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

// The second input's volume is a share of its amplitude: at 50 % its tone is
// 6 dB down in its track. A settings file naming an input the server does not
// have records the first alone, said once in the log.
TEST_F(TwoInputsProgramTest, HalfVolumeHalvesTheSecondInputAndOneThatIsNotThereIsLeftOut) {
    PulseModule tone("module-sine sink=speakers frequency=1000");
    ASSERT_TRUE(tone.Loaded());
    ASSERT_TRUE(WaitFor([] { return SourceFlows("speakers.monitor"); })) << "speakers silent";
    WriteSetup(microphone_,
               "AudioInput2Name=speakers.monitor\nAudioInput2Volume=50\nAudioSeparateTracks=1\n");
    const std::string half = Record(3, "half.avi");
    ASSERT_FALSE(half.empty()) << TodaysLog();
    ASSERT_EQ(StreamCount(half), 3);
    const double level = ToneLevel(Samples(half, 1), 1000);
    std::printf("the speakers' tone at 50 %%: %.0f of 16384, %+.2f dB\n", level, Db(level / 16384));
    EXPECT_NEAR(Db(level / 16384), -6.02, 0.5);
    EXPECT_NEAR(Db(ToneLevel(Samples(half, 0), 440) / 16384), 0.0, 0.5);

    WriteSetup(microphone_, "AudioInput2Name=alsa_input.usb-unplugged-headset\n");
    Program program(folder_, {"-vc", "time=2"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const std::string file = MergedRecording(out_).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    ASSERT_EQ(StreamCount(file), 2);
    EXPECT_NEAR(ToneHz(Samples(file), 2, 44100), 440.0, 2.0);
    const std::string log = TodaysLog();
    const std::string line =
        "The second sound input \"alsa_input.usb-unplugged-headset\" is not there; the first "
        "input is recorded alone.";
    const auto at = log.find(line);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(line, at + 1), std::string::npos) << log;
}

}  // namespace
