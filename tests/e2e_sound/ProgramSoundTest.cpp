// The whole program recording with sound: "-vc time=4" with sound enabled in
// Setup.ini ends as an AVI with the picture first and the microphone's tone
// beside it, both of one length.

#include <regex>
#include <thread>

#include "tests/e2e/ProgramHarness.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

std::vector<fs::path> Recordings(const fs::path& folder) {
    std::vector<fs::path> found;
    static const std::regex name(R"(VideoRecord_\d{8}_\d{6}(_\d+)?\.avi)");
    for (const auto& entry : fs::directory_iterator(folder))
        if (std::regex_match(entry.path().filename().string(), name)) found.push_back(entry.path());
    return found;
}

TEST_F(ProgramTest, CommandLineRecordingWithSoundHasTheToneBesideThePicture) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    ASSERT_TRUE(WaitFor([] {
        return capture(
                   "timeout 1 parec --latency-msec=20 -d fakemic --raw 2>/dev/null | "
                   "head -c 4410 | wc -c") == "4410\n";
    })) << "fakemic is silent";
    const fs::path out = root_ / "out";
    fs::create_directory(out);
    // The input is the microphone's line; the mixer lists the sound server's
    // sources in its order.
    const std::string input = capture(
        "pactl list short sources | awk '$2 == \"fakemic\" "
        "{ print NR - 1 }'");
    ASSERT_FALSE(input.empty());
    // Format 16 of the catalogue, stereo 16-bit 44.1 kHz, is list entry 15.
    std::ofstream(folder_ / "Setup.ini")
        << "[SetupAudio]\nAudioRecordEnable=1\nAudioFormatIndex=15\nAudioInputIndex=" << input;

    Program program(folder_, {"-vc", "time=4", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor(
        [&] {
            return Recordings(out).size() == 1 &&
                   TodaysLog().find(" - Video file saved\n") != std::string::npos;
        },
        std::chrono::seconds(40)))
        << TodaysLog();

    const std::string file = Recordings(out).front().string();
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
    EXPECT_GT(videoSeconds, 3.5);
    EXPECT_NEAR(soundSeconds, videoSeconds, 0.1);
    EXPECT_NEAR(ToneHz(samples, 2, 44100), 440.0, 2.0);
    // The temporary files go (the engine keeps them in the program folder).
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(folder_ / "~tempaudio.wav"); }));
    EXPECT_FALSE(fs::exists(out / "~tempaudio.wav"));

    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
}

// Position of a source in the program's input list: the mixer lists the
// sound server's sources in the server's order.
std::string InputIndexOf(const std::string& source) {
    std::string index =
        capture("pactl list short sources | awk '$2 == \"" + source + "\" { print NR - 1 }'");
    while (!index.empty() && index.back() == '\n') index.pop_back();
    return index;
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
    Program program(folder_, {"-vc", "time=6", "path=" + out.string() + "/"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return TodaysLog().find("VideoRecord_") != std::string::npos; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_EQ(velmora::test::run("pactl unload-module " + module), 0);
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
    std::printf("video %.3f s, sound %.3f s\n", videoSeconds, soundSeconds);
    EXPECT_GT(videoSeconds, 5.5);
    // Pulled 2.5 s after the start was logged; the sound starts a little
    // after that line, and a loaded machine makes it later.
    EXPECT_GT(soundSeconds, 1.0);
    EXPECT_LT(soundSeconds, 3.5);
    EXPECT_LT(soundSeconds, videoSeconds - 2.0);
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

}  // namespace
