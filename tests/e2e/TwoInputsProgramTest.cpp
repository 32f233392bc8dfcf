// The microphone and what the speakers play in one recording, where the real
// sound server matters: two named tracks that line short beeps up with each
// other and the picture; and both inputs at 50 %, each 18 dB down in its
// track, the speakers' input gone midway, the microphone's 440 Hz kept to the
// end, the speakers' 1000 Hz until then. (Both inputs chosen in Options and
// mixed into one track: tests/e2e/OptionsProgramTest.cpp; the mix, the
// tracks' names and an input that is not there: tests/engine/TwoInputsTest.cpp.)
// And the sound server killed midway: both inputs silent from then to the end.

#include <signal.h>

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
    fs::path out_;
    std::string microphone_;
};

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
    Program program(folder_, {"-vc"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    // Both inputs deliver: a second of each stored.
    ASSERT_TRUE(WaitForSound(out_ / "~tempaudio.wav", 1.0)) << TodaysLog();
    ASSERT_TRUE(WaitForSound(out_ / "~tempaudio2.wav", 1.0)) << TodaysLog();
    // Each beep's time before the flash, as its sink plays it.
    std::vector<double> voiceEarly, systemEarly;
    const auto before = [](SceneClock::time_point a, SceneClock::time_point b) {
        return std::chrono::duration<double>(a - b).count();
    };
    for (int i = 0; i < 3; ++i) {
        // Both bursts written at once; each heard when its sink plays it.
        auto systemHeard = std::async(std::launch::async, [&] { return intoSystem.Beep(); });
        const auto voiceHeard = intoVoice.Beep();
        const auto other = systemHeard.get();
        std::this_thread::sleep_until(std::max(voiceHeard, other));
        // When it is painted: a loaded machine wakes this thread late.
        const auto flashAt = SceneClock::now();
        flash.Paint(true);
        voiceEarly.push_back(before(voiceHeard, flashAt));
        systemEarly.push_back(before(other, flashAt));
        std::this_thread::sleep_for(150ms);
        flash.Paint(false);
        // Beeps half a second apart count as one; the last one's sound is
        // on its way from the server still.
        std::this_thread::sleep_for(400ms);
    }
    run("xdotool key F10");
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
        // Each input is dated by its source's latency reports, which for
        // the monitor of a null sink move with the sink's rendering blocks
        // of 25 ms: between two inputs that puts 0-15 ms in most runs and
        // up to 26 ms in one of twenty (as much with both inputs over one
        // sink). An input dated without its latency lies further off still.
        EXPECT_NEAR(voiceOff, systemOff, 0.030) << i;
        // A flash shows in the first frame grabbed after it.
        EXPECT_NEAR(voiceOff, 0.0, 0.020) << i;
        EXPECT_NEAR(systemOff, 0.0, 0.020) << i;
    }
}

// Both volumes at 50 %: the same level change on both inputs. The speakers'
// input goes away midway: its track is 18 dB down until then and silent
// after, the microphone's runs to the end 18 dB down too, and the log names
// the input that stopped.
TEST_F(TwoInputsProgramTest, BothAtHalfVolumeTheSpeakersGoneMidwayLeaveTheMicrophoneToTheEnd) {
    // The speakers play a 1000 Hz tone, as loud as the microphone's 440 Hz
    // (half of full scale).
    PulseModule tone("module-sine sink=speakers frequency=1000");
    ASSERT_TRUE(tone.Loaded());
    PulseModule loudspeakers(
        "module-remap-source master=speakers.monitor source_name=loudspeakers "
        "source_properties=device.description=Loudspeakers");
    ASSERT_TRUE(loudspeakers.Loaded());
    ASSERT_TRUE(WaitFor([] { return SourceFlows("loudspeakers"); }));
    // Xvid, as most recordings are.
    WriteSetup(microphone_,
               "AudioInputGain=50\nAudioInput2Name=loudspeakers\nAudioInput2Volume=50\n"
               "AudioInput2VolumeLaw=cubic\nAudioSeparateTracks=1\n",
               "CodecIndex=1\n");
    Program program(folder_, {"-vc"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find("VideoRecord_") != std::string::npos; }));
    const auto started = std::chrono::steady_clock::now();
    // Two seconds of the speakers stored, then they go; a second of picture
    // (15 frames) after the loss is logged.
    ASSERT_TRUE(WaitForSound(out_ / "~tempaudio2.wav", 2.0)) << TodaysLog();
    ASSERT_TRUE(loudspeakers.Unload());
    const double goneAt =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find(" - Sound recording stopped: Loudspeakers: ") != std::string::npos;
    })) << TodaysLog();
    ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi", 15)) << TodaysLog();
    run("xdotool key F10");
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
    std::printf("video %.3f s, tracks %.3f s and %.3f s; the speakers went %.3f s in\n", video,
                static_cast<double>(first.size()) / 2 / 44100,
                static_cast<double>(second.size()) / 2 / 44100, goneAt);
    // Each track as long as the picture, within a frame.
    EXPECT_NEAR(static_cast<double>(first.size()) / 2 / 44100, video, 1.0 / 15);
    EXPECT_NEAR(static_cast<double>(second.size()) / 2 / 44100, video, 1.0 / 15);
    ASSERT_GT(first.size(), 2u * 44100);
    ASSERT_GT(second.size(), 2u * 44100);
    // The microphone's 440 Hz in the first track, to the end: its tone in
    // the last second too. At 50 % on the desktop's scale: 18 dB down.
    EXPECT_NEAR(ToneHz(first, 2, 44100), 440.0, 2.0);
    const double microphoneDb = Db(ToneLevel(first, 440) / 16384);
    EXPECT_NEAR(microphoneDb, -18.06, 0.5);
    const std::vector<std::int16_t> lastSecond(first.end() - 2 * 44100, first.end());
    EXPECT_GT(ToneLevel(lastSecond, 440, 44100, 0), 1000.0);
    // The speakers until the loss, silence after it. (A stream newly on the
    // speakers' monitor may start with silence.)
    std::size_t firstSound = 0, lastSound = 0;
    while (firstSound < second.size() && std::abs(second[firstSound]) <= 100) ++firstSound;
    for (std::size_t i = 0; i < second.size(); ++i)
        if (std::abs(second[i]) > 100) lastSound = i;
    firstSound -= firstSound % 2;
    lastSound -= lastSound % 2;
    const double stoppedAt = static_cast<double>(lastSound) / 2 / 44100;
    std::printf("the speakers' track sounds from %.3f s to %.3f s\n",
                static_cast<double>(firstSound) / 2 / 44100, stoppedAt);
    // Its first second (at the loss the server's last blocks may come late).
    ASSERT_GT(lastSound, firstSound + 2 * 44100);
    const std::vector<std::int16_t> sounding(second.begin() + firstSound,
                                             second.begin() + firstSound + 2 * 44100);
    EXPECT_NEAR(ToneHz(sounding, 2, 44100), 1000.0, 5.0);
    // At 50 % as far down as the microphone at 50 %.
    const double level = ToneLevel(sounding, 1000, 44100, 0.1);
    std::printf("at 50 %%: the speakers' tone %+.2f dB, the microphone's %+.2f dB\n",
                Db(level / 16384), microphoneDb);
    EXPECT_NEAR(Db(level / 16384), -18.06, 0.5);
    EXPECT_NEAR(Db(level / 16384), microphoneDb, 0.5);
    EXPECT_NEAR(stoppedAt, goneAt, 1.5);
    EXPECT_LT(stoppedAt, video - 0.8) << "silence after the loss";

    const std::string box = program.WaitForWindow("Velmora");
    if (!box.empty()) program.Close(box);
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

// A sound server of this test's own, which it may kill: the microphone's
// 440 Hz and the speakers' 1000 Hz, each from a null sink.
class PrivateSoundServer {
  public:
    explicit PrivateSoundServer(const fs::path& dir) : dir_(dir) {
        fs::create_directories(dir / "runtime");
        fs::create_directories(dir / "home");
        fs::permissions(dir / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        std::ofstream(dir / "server.pa")
            << "load-module module-native-protocol-unix\n"
               "load-module module-null-sink sink_name=speakers\n"
               "load-module module-null-sink sink_name=micsink\n"
               "load-module module-sine sink=micsink frequency=440\n"
               "load-module module-sine sink=speakers frequency=1000\n"
               "load-module module-remap-source master=micsink.monitor source_name=fakemic\n";
        std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + (dir / "runtime").string(),
                                                "HOME=" + (dir / "home").string()};
        if (const char* path = std::getenv("PATH"))
            environment.push_back(std::string("PATH=") + path);
        server_.emplace(
            std::vector<std::string>{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1",
                                     "--system=false", "--disallow-exit", "-n", "-F",
                                     (dir / "server.pa").string(),
                                     "--log-target=file:" + (dir / "log").string()},
            environment, dir);
    }
    ~PrivateSoundServer() { Kill(); }
    std::string Address() const {
        return "unix:" + (dir_ / "runtime" / "pulse" / "native").string();
    }
    std::string Pactl(const std::string& arguments) const {
        return capture("PULSE_SERVER=" + Address() + " pactl " + arguments + " 2>/dev/null");
    }
    bool Up() const {
        return WaitFor([&] { return Pactl("info").find("Server Name") != std::string::npos; });
    }
    // Where the program lists a source.
    std::string InputIndex(const std::string& source) const {
        std::string index =
            capture("PULSE_SERVER=" + Address() + " pactl list short sources | awk '$2 == \"" +
                    source + "\" { print NR - 1 }'");
        while (!index.empty() && index.back() == '\n') index.pop_back();
        return index;
    }
    void Kill() {
        if (!server_ || !server_->Running()) return;
        ::kill(server_->pid(), SIGKILL);
        server_->Exit();
    }

  private:
    fs::path dir_;
    std::optional<Program> server_;
};

// The sound server killed midway through a recording of both inputs: each
// input has silence from then to the end of the picture, as the log says,
// in separate tracks and in the mix alike.
TEST_F(TwoInputsProgramTest, SoundServerKilledMidwayLeavesSilenceToThePicturesEnd) {
    for (const bool tracks : {true, false}) {
        SCOPED_TRACE(tracks ? "separate tracks" : "mixed");
        fs::remove_all(folder_ / "Logs");
        const fs::path out = root_ / (tracks ? "tracks" : "mix");
        fs::create_directory(out);
        PrivateSoundServer server(root_ / (tracks ? "server-tracks" : "server-mix"));
        ASSERT_TRUE(server.Up());
        const std::string microphone = server.InputIndex("fakemic");
        ASSERT_FALSE(microphone.empty());
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out.string() << "/\nCodecIndex=1\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n"
            << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex="
            << microphone
            << "\nAudioInput2Name=speakers.monitor\nAudioSeparateTracks=" << (tracks ? 1 : 0)
            << "\n";
        Program program(folder_, {"-vc"}, {"PULSE_SERVER=" + server.Address()});
        const std::string window = program.WaitForWindow(kMainTitle);
        ASSERT_FALSE(window.empty());
        ASSERT_TRUE(WaitForSound(out / "~tempaudio.wav", 1.0)) << TodaysLog();
        ASSERT_TRUE(WaitForSound(out / "~tempaudio2.wav", 1.0)) << TodaysLog();
        server.Kill();
        const double stored = std::min(StoredSoundSeconds(out / "~tempaudio.wav"),
                                       StoredSoundSeconds(out / "~tempaudio2.wav"));
        // Both losses told, then two seconds more of picture (30 frames).
        ASSERT_TRUE(WaitFor([&] {
            const std::string log = TodaysLog();
            const auto first = log.find(" - Sound recording stopped: ");
            return first != std::string::npos &&
                   log.find(" - Sound recording stopped: ", first + 1) != std::string::npos;
        })) << TodaysLog();
        ASSERT_TRUE(WaitForGrowth(out / "~tempvideo.avi", 30)) << TodaysLog();
        run("xdotool key F10");
        ASSERT_TRUE(WaitFor(
            [&] {
                return Recordings(out).size() == 1 &&
                       TodaysLog().find(" - the sound is incomplete: ") != std::string::npos;
            },
            40s))
            << TodaysLog();
        const std::string log = TodaysLog();
        EXPECT_NE(log.find("the recording has silence from it after that"), std::string::npos)
            << log;

        const std::string file = Recordings(out).front().string();
        ASSERT_EQ(StreamCount(file), tracks ? 3 : 2) << log;
        const double video = std::stod(StreamInfo(file, 0).at("duration"));
        for (int n = 0; n < (tracks ? 2 : 1); ++n) {
            const auto samples = Samples(file, n);
            const double seconds = static_cast<double>(samples.size()) / 2 / 44100;
            std::printf("video %.3f s, sound %d %.3f s; the server was killed with %.3f s stored\n",
                        video, n, seconds, stored);
            EXPECT_NEAR(seconds, video, 0.2) << n;
            // The tone until the kill (its start may be silence the
            // alignment put there), silence in its last half second.
            const double hz = tracks && n == 1 ? 1000 : 440;
            const auto levels = ToneLevels(samples, hz, 44100, 0);
            ASSERT_FALSE(levels.empty()) << n;
            EXPECT_GT(*std::max_element(levels.begin(), levels.end()), 1000.0) << n;
            const std::vector<std::int16_t> end(samples.end() - 44100, samples.end());
            EXPECT_LT(ToneLevel(end, hz, 44100, 0), 10.0) << n;
        }
        // Each input's loss left its box open: the program ends as a
        // desktop's logout ends it.
        ::kill(program.pid(), SIGTERM);
        EXPECT_EQ(program.Exit(), 0) << TodaysLog();
    }
}

}  // namespace
