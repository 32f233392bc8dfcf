// The engine's recording inputs on the private PulseAudio server of the test
// fixture: "Microphone" (fakemic, a 440 Hz tone) is the default source and
// "Speakers" a null sink whose monitor records what is played there.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "audio/EngineMixer.h"
#include "audio/WaveMixer.h"
#include "audio/WaveRecorders.h"
#include "engine/ScreenCamera.h"
#include "tests/audio/WaveTestSupport.h"
#include "tests/doubles/FakeDesktop.h"
#include "tests/doubles/ScriptedHost.h"
#include "tests/sound/SoundCheck.h"
#include "tests/support/TestEnv.h"

using namespace velmora;
using namespace std::chrono_literals;
using test::capture;

namespace {

int Position(const std::vector<std::string>& names, const std::string& name) {
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

// The volume pactl reports for a source, in percent of its first channel.
int PactlPercent(const std::string& source) {
    const std::string out = capture("pactl get-source-volume " + source +
                                    " | sed -n 's|^Volume: [^/]*/ *\\([0-9]*\\)%.*|\\1|p'");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::seconds patience = 10s) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class MixerOnPulse : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(test::pulseServer().empty()) << "no sound server: run the test through ctest";
        std::filesystem::create_directories(folder);
        host.makeMixer = [] { return audio::CreateEngineMixer(); };
        engine::CameraOptions options;
        options.desktop = std::make_shared<test::FakeDesktop>(640, 480, 32);
        cam = std::make_unique<engine::TScreenCamera>(host, options);
    }
    void TearDown() override {
        cam.reset();
        for (const std::string& module : modules) test::run("pactl unload-module " + module);
        test::run("pactl set-source-volume fakemic 100%");
        std::filesystem::remove_all(folder);
    }
    std::string LoadModule(const std::string& arguments) {
        std::string index = capture("pactl load-module " + arguments);
        while (!index.empty() && index.back() == '\n') index.pop_back();
        if (!index.empty()) modules.push_back(index);
        return index;
    }

    std::string folder =
        (std::filesystem::temp_directory_path() / ("velmora-mixer-" + std::to_string(getpid())))
            .string();
    test::ScriptedHost host;
    std::unique_ptr<engine::TScreenCamera> cam;
    std::vector<std::string> modules;
};

TEST_F(MixerOnPulse, ListsTheMicrophoneAndTheMonitorOfTheSpeakers) {
    const engine::AudioInputInfo info = cam->ListAudioInputs();
    const auto& names = *info.names;
    const int microphone = Position(names, "Microphone");
    EXPECT_GE(microphone, 0);
    EXPECT_GE(Position(names, "Monitor of Speakers"), 0);
    EXPECT_GE(Position(names, "Monitor of MicSink"), 0);
    // Nothing chosen yet: the server's default source is the selected one.
    EXPECT_EQ(info.selected, microphone);
}

TEST_F(MixerOnPulse, TheChosenMonitorIsWhatARecordingTakes) {
    ASSERT_FALSE(LoadModule("module-sine sink=speakers frequency=1000").empty());
    const int monitor = Position(*cam->ListAudioInputs().names, "Monitor of Speakers");
    ASSERT_GE(monitor, 0);
    cam->SelectAudioInput(monitor);
    EXPECT_EQ(cam->ListAudioInputs().selected, monitor);
    // The desktop's own default input stays as the user set it.
    EXPECT_EQ(capture("pactl get-default-source"), "fakemic\n");

    test::ReportedErrors errors;
    const std::string file = folder + "/~tempaudio.wav";
    audio::TStockAudioRecorder recorder;
    recorder.SetPCMFormat(audio::Stereo16bit44100Hz);
    recorder.SetAsync(true);
    ASSERT_TRUE(recorder.RecordToFile(file));
    std::this_thread::sleep_for(3s);
    recorder.SetActive(false);
    ASSERT_TRUE(recorder.WaitForInactive(5s));
    EXPECT_TRUE(errors.texts().empty());
    const auto samples = soundtest::Samples(file);
    ASSERT_GT(samples.size(), 44100u * 2);
    EXPECT_NEAR(soundtest::ToneHz(samples, 2, 44100), 1000.0, 5.0);
}

// Root mean square of 16-bit samples after the first tenth of a second
// (the stream's start may ramp).
double Rms(const std::vector<std::int16_t>& samples, std::size_t skip) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = skip; i < samples.size(); ++i, ++n)
        sum += static_cast<double>(samples[i]) * samples[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

TEST_F(MixerOnPulse, OurVolumeScalesOurSamplesAndLeavesTheSourceAlone) {
    test::run("pactl set-source-volume fakemic 73%");
    const int microphone = Position(*cam->ListAudioInputs().names, "Microphone");
    ASSERT_GE(microphone, 0);
    cam->SelectAudioInput(microphone);
    cam->SetAudioInputVolume(50);
    EXPECT_EQ(PactlPercent("fakemic"), 73);

    const auto record = [&](int gain) {
        test::ReportedErrors errors;
        const std::string file = folder + "/gain" + std::to_string(gain) + ".wav";
        audio::TStockAudioRecorder recorder;
        recorder.SetPCMFormat(audio::Stereo16bit44100Hz);
        recorder.SetAsync(true);
        recorder.SetGain(gain);
        EXPECT_TRUE(recorder.RecordToFile(file));
        std::this_thread::sleep_for(1500ms);
        recorder.SetActive(false);
        EXPECT_TRUE(recorder.WaitForInactive(5s));
        EXPECT_TRUE(errors.texts().empty());
        return soundtest::Samples(file);
    };
    const auto whole = record(100), half = record(50);
    ASSERT_GT(whole.size(), 44100u * 2);
    ASSERT_GT(half.size(), 44100u * 2);
    const double full = Rms(whole, 4410 * 2);
    ASSERT_GT(full, 1000.0) << "fakemic is silent";
    // 50 % on the desktop's cubic scale: an eighth of the amplitude.
    EXPECT_NEAR(Rms(half, 4410 * 2) / full, 0.125, 0.01);
    EXPECT_NEAR(soundtest::ToneHz(half, 2, 44100), 440.0, 5.0);
    EXPECT_EQ(PactlPercent("fakemic"), 73);
}

TEST_F(MixerOnPulse, ASourcePluggedInWhileRunningAppearsAndGoes) {
    audio::TAudioMixer mixer;
    int lineChanges = 0;
    mixer.OnLineChange = [&](audio::TAudioMixer*, audio::TAudioMixerLine* line) {
        if (line == &mixer.Master()) ++lineChanges;
    };
    auto names = [&] {
        std::vector<std::string> n;
        for (const auto& line : mixer.Lines()) n.push_back(line->Name());
        return n;
    };
    ASSERT_LT(Position(names(), "Monitor of Headset"), 0);
    const std::string module =
        LoadModule("module-null-sink sink_name=headset sink_properties=device.description=Headset");
    ASSERT_FALSE(module.empty());
    EXPECT_TRUE(PumpUntil([&] { return Position(names(), "Monitor of Headset") >= 0; }));
    EXPECT_GE(lineChanges, 1);
    EXPECT_TRUE(PumpUntil(
        [&] { return Position(*cam->ListAudioInputs().names, "Monitor of Headset") >= 0; }));

    test::run("pactl unload-module " + module);
    modules.clear();
    EXPECT_TRUE(PumpUntil([&] { return Position(names(), "Monitor of Headset") < 0; }));
    EXPECT_TRUE(PumpUntil(
        [&] { return Position(*cam->ListAudioInputs().names, "Monitor of Headset") < 0; }));
}

}  // namespace
