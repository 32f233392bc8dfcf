// The whole program recording with sound: "-vc time=2" with sound enabled in
// Setup.ini ends as an AVI with the picture first and the microphone's tone
// beside it, both of one length.

#include <algorithm>
#include <cmath>

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

TEST_F(SoundProgramTest, CommandLineRecordingWithSoundHasTheToneBesideThePicture) {
    const fs::path out = out_;
    Program program(folder_, {"-vc", "time=2", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    const std::string file = MergedRecording(out).string();
    ASSERT_FALSE(file.empty()) << TodaysLog();
    ASSERT_EQ(StreamCount(file), 2) << TodaysLog();
    const auto video = StreamInfo(file, 0), sound = StreamInfo(file, 1);
    EXPECT_EQ(video.at("codec_type"), "video");
    EXPECT_EQ(sound.at("codec_type"), "audio");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "44100");
    EXPECT_EQ(sound.at("channels"), "2");

    const auto samples = Samples(file);
    const double videoSeconds = std::stod(video.at("duration"));
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    std::printf("video %.3f s, sound %.3f s\n", videoSeconds, soundSeconds);
    EXPECT_GT(videoSeconds, 1.8);
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);
    // The temporary files, made beside the recording, go.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(out / "~tempaudio.wav"); }));
    EXPECT_FALSE(fs::exists(folder_ / "~tempaudio.wav"));

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

bool Flows(const std::string& source) {
    return capture("timeout 1 parec --latency-msec=20 -d " + source +
                   " --raw 2>/dev/null | head -c 4410 | wc -c") == "4410\n";
}

// A headset pulled out during a recording: the picture goes on to the end,
// the sound is kept up to that moment, and the user is told.
TEST_F(ProgramTest, SourceUnpluggedMidwayKeepsTheVideoAndTheSoundBeforeIt) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    std::string module = capture(
        "pactl load-module module-remap-source master=micsink.monitor source_name=headsetmic "
        "source_properties=device.description=HeadsetMic");
    ASSERT_FALSE(module.empty());
    module.pop_back();
    struct Unload {
        std::string& module;
        ~Unload() {
            if (!module.empty()) velmora::test::run("pactl unload-module " + module);
        }
    } unload{module};
    ASSERT_TRUE(WaitFor([] { return Flows("headsetmic"); })) << "the headset is silent";
    const std::string input = InputIndexOf("headsetmic");
    ASSERT_FALSE(input.empty());

    const fs::path out = root_ / "out";
    fs::create_directory(out);
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" << input;
    Program program(folder_, {"-vc", "time=3", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(out / "~tempaudio.wav"); })) << TodaysLog();
    const auto started = std::chrono::steady_clock::now();
    // Pulled once a second of its sound is stored.
    ASSERT_TRUE(WaitForSound(out / "~tempaudio.wav", 1.0)) << TodaysLog();
    ASSERT_EQ(velmora::test::run("pactl unload-module " + module), 0);
    const double pulledAt =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    module.clear();

    // The merge's result line, after "Video file saved", says what is missing.
    ASSERT_TRUE(WaitFor(
        [&] {
            return Recordings(out).size() == 1 &&
                   TodaysLog().find(" - the sound is incomplete: ") != std::string::npos;
        },
        std::chrono::seconds(40)))
        << TodaysLog();
    const std::string log = TodaysLog();
    EXPECT_NE(log.find(" - Sound recording stopped: "), std::string::npos) << log;

    const std::string file = Recordings(out).front().string();
    ASSERT_EQ(StreamCount(file), 2) << log;
    const double videoSeconds = std::stod(StreamInfo(file, 0).at("duration"));
    const auto samples = Samples(file);
    const double soundSeconds = static_cast<double>(samples.size()) / 2 / 44100;
    std::printf("video %.3f s, sound %.3f s, pulled %.3f s after the sound began\n", videoSeconds,
                soundSeconds, pulledAt);
    EXPECT_GT(videoSeconds, 2.8);
    // What was stored at the pull, and what was on its way, not more.
    EXPECT_GT(soundSeconds, 0.95);
    EXPECT_LT(soundSeconds, pulledAt + 0.5);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);

    // Still answering: the error box closes, then the window, and the
    // program ends normally.
    const std::string box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty());
    program.Close(box);
    ASSERT_TRUE(WaitFor([&] { return program.Window("Velmora").empty(); }));
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

// The volume pactl reports for a source, in percent of its first channel.
int SourcePercent(const std::string& source) {
    const std::string out = capture("pactl get-source-volume " + source +
                                    " | sed -n 's|^Volume: [^/]*/ *\\([0-9]*\\)%.*|\\1|p'");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

double Rms(const std::vector<std::int16_t>& samples) {
    double sum = 0;
    // The first half second aside: the stream's start may ramp.
    const std::size_t skip = std::min<std::size_t>(samples.size(), 44100);
    for (std::size_t i = skip; i < samples.size(); ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return samples.size() > skip ? std::sqrt(sum / static_cast<double>(samples.size() - skip)) : 0;
}

// The Options volume is our gain on our recording: the microphone's own
// volume, which every other program on the desktop shares, stays as the user
// set it, before, during and after, and a fresh install records the input at
// its own level.
TEST_F(SoundProgramTest, TheVolumeSliderScalesOurRecordingAndNeverTheDesktopsInput) {
    ASSERT_EQ(velmora::test::run("pactl set-source-volume fakemic 73%"), 0);
    struct Restore {
        ~Restore() { velmora::test::run("pactl set-source-volume fakemic 100%"); }
    } restore;
    const fs::path out = out_;
    fs::path first;
    {
        Program program(folder_, {"-vc", "time=2", OutArg()});
        ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
        ASSERT_TRUE(WaitFor([&] {
            return TodaysLog().find(" - VideoRecord_") != std::string::npos;
        })) << TodaysLog();
        EXPECT_EQ(SourcePercent("fakemic"), 73);
        first = MergedRecording(out);
        ASSERT_FALSE(first.empty()) << TodaysLog();
        program.Close(program.WaitForWindow(kMainTitle));
        ASSERT_EQ(program.Exit(), 0);
    }
    EXPECT_EQ(SourcePercent("fakemic"), 73);
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("AudioInputGain=100\n"), std::string::npos);

    // Half way on the slider, by the keyboard as a user would: an eighth of
    // the amplitude, on the desktop's cubic percent scale.
    Program program(folder_, {});
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty());
    ASSERT_FALSE(program.OpenOptions(main).empty());
    // From the compressor list back past Cancel, OK and "Also record" (the
    // second input's volume is off while it records none) to the slider;
    // five pages down from 100, Enter for OK.
    ASSERT_EQ(run("xdotool key --delay 60 shift+Tab shift+Tab shift+Tab shift+Tab "
                  "Next Next Next Next Next Return"),
              0);
    ASSERT_TRUE(WaitFor([&] { return program.Window("Options").empty(); })) << TodaysLog();
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("AudioInputGain=50\n"), std::string::npos)
        << Slurp(folder_ / "Setup.ini");
    EXPECT_EQ(SourcePercent("fakemic"), 73);

    const auto saved = [&] {
        const std::string log = TodaysLog();
        std::size_t n = 0;
        for (auto at = log.find(" - Video file saved\n"); at != std::string::npos;
             at = log.find(" - Video file saved\n", at + 1))
            ++n;
        return n;
    };
    run("xdotool key F9");
    ASSERT_TRUE(WaitForSound(out / "~tempaudio.wav", 2.0)) << TodaysLog();
    EXPECT_EQ(SourcePercent("fakemic"), 73);
    run("xdotool key F10");
    ASSERT_TRUE(WaitFor([&] { return saved() == 2 && Recordings(out).size() == 2; },
                        std::chrono::seconds(40)))
        << TodaysLog();
    const auto files = Recordings(out);
    const fs::path second = files.front() == first ? files.back() : files.front();
    program.Close(main);
    ASSERT_EQ(program.Exit(), 0);
    EXPECT_EQ(SourcePercent("fakemic"), 73);

    const auto whole = Samples(first.string()), half = Samples(second.string());
    const double full = Rms(whole);
    ASSERT_GT(full, 1000.0) << "fakemic is silent";
    EXPECT_NEAR(Rms(half) / full, 0.125, 0.015);
    EXPECT_NEAR(ToneHz(half, 2, 44100), 440.0, 2.0);
}

}  // namespace
