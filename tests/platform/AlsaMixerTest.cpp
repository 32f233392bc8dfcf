// ALSA's simple mixer, on the control device of ALSA's pulse plugin (the
// only ALSA mixer a machine without a sound card has): its "Capture"
// element is the test server's default source, with a volume and a switch.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mixer/MixerDevice.h"
#include "tests/support/TestEnv.h"

using namespace velmora::platform;
using namespace std::chrono_literals;
using velmora::test::capture;

namespace {

const mixer::ModelLine* Find(const mixer::MixerModel& m, const std::string& name) {
    const auto found = std::find_if(m.sources.begin(), m.sources.end(),
                                    [&](const mixer::ModelLine& l) { return l.name == name; });
    return found == m.sources.end() ? nullptr : &*found;
}

const mixer::ModelControl* ControlOf(const mixer::ModelLine& line, DWORD type) {
    for (const auto& c : line.controls)
        if (c.type == type) return &c;
    return nullptr;
}

int PactlPercent() {
    const std::string out = capture(
        "pactl get-source-volume fakemic | sed -n 's|^Volume: [^/]*/ *\\([0-9]*\\)%.*|\\1|p'");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

TEST(AlsaMixer, CaptureElementsAreSourcesWithVolumeAndSwitch) {
    ASSERT_FALSE(velmora::test::pulseServer().empty()) << "needs the audio fixture";
    std::string error;
    auto device = mixer::OpenAlsaMixer("pulse", "ALSA on PulseAudio", error);
    ASSERT_TRUE(device) << error;
    std::atomic<int> changes{0};
    std::atomic<DWORD> changedId{0};
    device->setCallback([&](UINT message, HMIXER, DWORD id) {
        if (message == MM_MIXM_CONTROL_CHANGE) {
            changedId = id;
            ++changes;
        }
    });

    mixer::MixerModel m = device->snapshot();
    EXPECT_EQ(m.product, "ALSA on PulseAudio");
    EXPECT_EQ(m.destination.name, "Recording");
    const mixer::ModelLine* capture = Find(m, "Capture");
    ASSERT_NE(capture, nullptr);
    const mixer::ModelControl* volume = ControlOf(*capture, MIXERCONTROL_CONTROLTYPE_VOLUME);
    ASSERT_NE(volume, nullptr);
    EXPECT_NE(ControlOf(*capture, MIXERCONTROL_CONTROLTYPE_MUTE), nullptr);
    // The capture switches form the mixer-type selector.
    const mixer::ModelControl* switches = ControlOf(m.destination, MIXERCONTROL_CONTROLTYPE_MIXER);
    ASSERT_NE(switches, nullptr);
    EXPECT_NE(std::find(switches->items.begin(), switches->items.end(), "Capture"),
              switches->items.end());

    // Half the range on the element is half the source's volume.
    ASSERT_EQ(device->apply(*volume, {32768}), MMSYSERR_NOERROR);
    EXPECT_NEAR(PactlPercent(), 50, 1);
    // A change made on the server arrives through the mixer's events.
    const int before = changes;
    velmora::test::run("pactl set-source-volume fakemic 100%");
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (changes == before && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
    EXPECT_GT(changes, before);
    m = device->snapshot();
    ASSERT_NE(Find(m, "Capture"), nullptr);
    EXPECT_EQ(ControlOf(*Find(m, "Capture"), MIXERCONTROL_CONTROLTYPE_VOLUME)->values.front(),
              65535u);
}

}  // namespace
