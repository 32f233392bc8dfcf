// The input mixer on a fake mixer driver: percent scaling, the choice of the
// selection control, name matching between items and sources, reopening,
// change messages and the engine's three calls.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <thread>

#include "audio/EngineMixer.h"
#include "audio/WaveMixer.h"
#include "tests/doubles/FakeMixer.h"

using namespace velmora::audio;
using namespace velmora::platform;
using velmora::test::FakeControl;
using velmora::test::FakeLine;
using velmora::test::FakeMixer;
using velmora::test::Selector;
using velmora::test::Volume;

namespace {

constexpr DWORD kRecording = 0xFFFF0000, kPlayback = 0xFFFF0001;
constexpr DWORD kMux = 0x700, kMix = 0x710, kMic = 1, kLine = 2, kMicVolume = 0x101,
                kLineVolume = 0x102;

// One device: destination 0 "Playback" without a selector, destination 1
// "Recording" with a multiplexer over Mic and Line.
FakeMixer Card() {
    FakeMixer fake;
    velmora::test::FakeMixerDevice device;
    device.name = "Test Card";
    velmora::test::FakeDestination playback;
    playback.line = {kPlayback, "Playback", {Volume(0x900, 100)}};
    playback.sources = {{3, "Wave", {Volume(0x103, 1)}}};
    velmora::test::FakeDestination recording;
    recording.line = {kRecording,
                      "Recording",
                      {Selector(kMux, MIXERCONTROL_CONTROLTYPE_MUX, {"Mic", "Line"}, {0, 1})}};
    recording.sources = {{kMic, "Mic", {Volume(kMicVolume, 32768)}},
                         {kLine, "Line", {Volume(kLineVolume, 65535)}}};
    device.destinations = {playback, recording};
    fake.devices = {device};
    return fake;
}

void Deliver() {
    QCoreApplication::processEvents();
}

TEST(WaveMixer, VolumeIsScaledToPercentAndRounded) {
    FakeMixer fake = Card();
    TAudioMixer mixer(&fake);
    mixer.SetDestinationID(1);
    TAudioMixerLine& mic = *mixer.Line(0);
    EXPECT_EQ(mic.GetVolume(), 50);  // 32768 of 65535
    mic.SetVolume(33);
    EXPECT_EQ(fake.writes.back(), std::make_pair(kMicVolume, std::vector<DWORD>{21627}));
    mic.SetVolume(150);
    EXPECT_EQ(fake.Control(kMicVolume)->value, 65535u);
    mic.SetVolume(-5);
    EXPECT_EQ(fake.Control(kMicVolume)->value, 0u);

    fake.Control(kLineVolume)->maximum = 0;
    mixer.SetDestinationID(0);
    mixer.SetDestinationID(1);  // reads the control's bounds again
    EXPECT_EQ(mixer.Line(1)->GetVolume(), -1);
    fake.Control(kMicVolume)->failReads = true;
    EXPECT_EQ(mixer.Line(0)->GetVolume(), -1);
}

TEST(WaveMixer, MixerTypeControlDecidesBeforeTheMultiplexer) {
    FakeMixer fake = Card();
    auto& recording = fake.devices[0].destinations[1].line;
    recording.controls.push_back(
        Selector(kMix, MIXERCONTROL_CONTROLTYPE_MIXER, {"Line", "Mic"}, {0, 1}));
    TAudioMixer mixer(&fake);
    mixer.SetDestinationID(1);
    EXPECT_TRUE(mixer.Master().Has(mcSelect));
    EXPECT_TRUE(mixer.Master().Has(mcMix));
    // The multiplexer says Line, the mixer-type control says Mic.
    EXPECT_EQ(mixer.Master().GetSelectedSource(), 0);
    mixer.Master().SelectSource(1);  // Line: item 0 of the mixer-type control
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0], std::make_pair(kMix, std::vector<DWORD>{1, 0}));
    EXPECT_EQ(fake.Control(kMux)->itemValues, (std::vector<DWORD>{0, 1}));
}

TEST(WaveMixer, ItemsAndSourcesAreMatchedByName) {
    FakeMixer fake = Card();
    // The list in another order than the sources, and an item no source has.
    *fake.Control(kMux) =
        Selector(kMux, MIXERCONTROL_CONTROLTYPE_MUX, {"CD", "Line", "Mic"}, {0, 0, 1});
    TAudioMixer mixer(&fake);
    mixer.SetDestinationID(1);
    EXPECT_EQ(mixer.Master().GetSelectedSource(), 0);  // Mic
    mixer.Master().SelectSource(1);
    EXPECT_EQ(fake.writes.back(), std::make_pair(kMux, std::vector<DWORD>{0, 1, 0}));

    fake.Control(kMux)->itemValues = {1, 0, 0};
    EXPECT_EQ(mixer.Master().GetSelectedSource(), -1);  // CD is no source here
    fake.Control(kMux)->itemValues = {0, 0, 0};
    EXPECT_EQ(mixer.Master().GetSelectedSource(), -1);

    // A source whose name the list does not have, and numbers beyond the
    // lines (a stale setting), write nothing.
    fake.devices[0].destinations[1].sources[1].name = "Aux";
    mixer.SetDestinationID(0);
    mixer.SetDestinationID(1);
    const auto writes = fake.writes.size();
    mixer.Master().SelectSource(1);
    mixer.Master().SelectSource(7);
    mixer.Master().SelectSource(-1);
    EXPECT_EQ(fake.writes.size(), writes);
}

TEST(WaveMixer, WithoutAMixerEverythingReportsMinusOne) {
    FakeMixer none;
    TAudioMixer mixer(&none);
    EXPECT_EQ(mixer.Handle(), nullptr);
    EXPECT_EQ(mixer.DeviceCount(), 0);
    EXPECT_EQ(mixer.DestinationCount(), 0);
    EXPECT_TRUE(mixer.Lines().empty());
    EXPECT_TRUE(mixer.Master().ControlSet().none());
    EXPECT_EQ(mixer.Master().GetVolume(), -1);
    EXPECT_EQ(mixer.Master().GetSelectedSource(), -1);
    mixer.Master().SelectSource(0);
    mixer.Master().SetVolume(50);
    EXPECT_EQ(mixer.MixerName(), "");
    EXPECT_EQ(mixer.DestinationName(), "");

    auto engine = CreateEngineMixer(&none);
    engine->SetMixerID(0);
    EXPECT_EQ(engine->DestinationCount(), 0);
    EXPECT_EQ(engine->LineCount(), 0);
    EXPECT_FALSE(engine->MasterHasSelect());
    EXPECT_EQ(engine->GetSelectedSource(), -1);
    engine->SelectSource(3);
}

TEST(WaveMixer, OnlyChangedIdsReopen) {
    FakeMixer fake = Card();
    fake.devices.push_back({"Second Card", {}});
    TAudioMixer mixer(&fake);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(mixer.DestinationName(), "Playback");
    ASSERT_EQ(mixer.Lines().size(), 1u);

    const int queries = fake.lineQueries;
    mixer.SetMixerID(0);
    mixer.SetDestinationID(0);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(fake.lineQueries, queries);

    // Another destination: new lines, the device stays open.
    mixer.SetDestinationID(1);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(mixer.DestinationName(), "Recording");
    ASSERT_EQ(mixer.Lines().size(), 2u);
    EXPECT_EQ(mixer.Line(1)->Name(), "Line");
    EXPECT_EQ(mixer.Line(1)->SourceIndex(), 1);

    mixer.SetMixerID(5);  // beyond the devices: ignored
    mixer.SetMixerName("No Such Card");
    EXPECT_EQ(fake.opens, 1);
    mixer.SetDestinationName("recording");  // same name, other case: looked up, same id
    EXPECT_EQ(mixer.DestinationID(), 1u);
    mixer.SetDestinationName("PLAYBACK");
    EXPECT_EQ(mixer.DestinationID(), 0u);

    mixer.SetDestinationID(1);
    std::vector<std::string> names;
    EXPECT_EQ(mixer.GetDeviceNames(names), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"Test Card", "Second Card"}));
    mixer.SetMixerName("second card");
    EXPECT_EQ(mixer.MixerID(), 1u);
    EXPECT_EQ(fake.opens, 2);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(mixer.DestinationID(), 0u);  // the new device has no destination 1
    EXPECT_TRUE(mixer.Lines().empty());
}

TEST(WaveMixer, ChangeMessagesReachTheMixersThread) {
    FakeMixer fake = Card();
    TAudioMixer mixer(&fake);
    mixer.SetDestinationID(1);
    std::vector<std::string> seen;
    QThread* const uiThread = QThread::currentThread();
    mixer.OnLineChange = [&](TAudioMixer* sender, TAudioMixerLine* line) {
        EXPECT_EQ(sender, &mixer);
        EXPECT_EQ(QThread::currentThread(), uiThread);
        seen.push_back("line " + line->Name() + " " + std::to_string(sender->LineCount()));
    };
    mixer.OnControlChange = [&](TAudioMixer*, TAudioMixerLine* line, TMixerControlType kind) {
        EXPECT_EQ(QThread::currentThread(), uiThread);
        seen.push_back("control " + line->Name() + " " + std::to_string(kind));
    };

    // A headset plugged in: a new source and a longer list, announced from
    // the driver's own thread.
    auto& recording = fake.devices[0].destinations[1];
    recording.sources.push_back({4, "Headset", {Volume(0x104, 0)}});
    fake.Control(kMux)->items.push_back("Headset");
    fake.Control(kMux)->itemValues.push_back(0);
    std::thread driver([&] {
        fake.Notify(MM_MIXM_LINE_CHANGE, kRecording);
        fake.Notify(MM_MIXM_CONTROL_CHANGE, kMux);
        fake.Notify(MM_MIXM_CONTROL_CHANGE, 0x104);
        fake.NotifyFromOtherDevice(MM_MIXM_CONTROL_CHANGE, kMicVolume);
    });
    driver.join();
    EXPECT_TRUE(seen.empty());  // nothing runs on the driver's thread
    Deliver();
    EXPECT_EQ(seen, (std::vector<std::string>{"line Recording 3", "control Recording 2",
                                              "control Headset 0"}));
    ASSERT_EQ(mixer.Lines().size(), 3u);
    mixer.Master().SelectSource(2);
    EXPECT_EQ(fake.writes.back(), std::make_pair(kMux, std::vector<DWORD>{0, 0, 1}));

    EXPECT_FALSE(mixer.HandleMixerMessage(0x0400, mixer.Handle(), kMux));
}

TEST(WaveMixer, EngineCallsActOnTheListedDestination) {
    FakeMixer fake = Card();
    auto engine = CreateEngineMixer(&fake);
    engine->SetMixerID(0);
    ASSERT_EQ(engine->DestinationCount(), 2);
    engine->SetDestinationID(0);
    EXPECT_FALSE(engine->MasterHasSelect());
    engine->SetDestinationID(1);
    EXPECT_TRUE(engine->MasterHasSelect());
    EXPECT_EQ(engine->GetSelectedSource(), 1);
    EXPECT_EQ(engine->LineName(1), "Line");
    const DWORD volume = fake.Control(kMicVolume)->value;
    engine->SelectSource(0);
    EXPECT_EQ(fake.Control(kMux)->itemValues, (std::vector<DWORD>{1, 0}));
    // Choosing an input leaves its volume, the desktop's, alone.
    EXPECT_EQ(fake.Control(kMicVolume)->value, volume);
    // Stale indexes from the settings file do nothing.
    const auto writes = fake.writes.size();
    engine->SelectSource(9);
    EXPECT_EQ(engine->LineName(9), "");
    EXPECT_EQ(fake.writes.size(), writes);
}

}  // namespace
