// The mixer snapshot the sound-system backends share: its answers to the
// mixer calls, the checks on writes, what counts as a change, and names made
// unique for matching; and the system driver where there is no sound system.

#include <gtest/gtest.h>

#include "platform/mixer/MixerDevice.h"
#include "platform/mixer/MixerModel.h"

using namespace velmora::platform;
using namespace velmora::platform::mixer;

namespace {

MixerModel TwoSources() {
    MixerModel m;
    m.product = "Card";
    m.destination = {0xFFFF0000, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording", {}};
    ModelControl mux{0x70,  MIXERCONTROL_CONTROLTYPE_MUX, "Source", 1, {"Mic", "Line"}, {1, 2},
                     {0, 1}};
    m.destination.controls = {mux};
    for (DWORD id : {1u, 2u}) {
        ModelLine line{id, MIXERLINE_COMPONENTTYPE_SRC_LINE, id == 1 ? "Mic" : "Line", {}};
        line.controls.push_back(
            {0x100 + id, MIXERCONTROL_CONTROLTYPE_VOLUME, "Volume", 65535, {}, {}, {100, 300}});
        m.sources.push_back(line);
    }
    return m;
}

TEST(MixerModel, AnswersTheMixerCallsFromTheSnapshot) {
    const MixerModel m = TwoSources();
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    ASSERT_EQ(ModelLineInfo(m, &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(line.cConnections, 2u);
    EXPECT_STREQ(line.szName, "Recording");
    line.dwSource = 1;
    ASSERT_EQ(ModelLineInfo(m, &line, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
    EXPECT_EQ(line.dwLineID, 2u);
    EXPECT_EQ(line.cChannels, 2u);
    line.dwSource = 2;
    EXPECT_EQ(ModelLineInfo(m, &line, MIXER_GETLINEINFOF_SOURCE), MIXERR_INVALLINE);

    MIXERCONTROL control{};
    MIXERLINECONTROLS query{};
    query.cbStruct = sizeof query;
    query.dwLineID = 0xFFFF0000;
    query.dwControlType = MIXERCONTROL_CONTROLTYPE_MUX;
    query.cControls = 1;
    query.cbmxctrl = sizeof control;
    query.pamxctrl = &control;
    ASSERT_EQ(ModelLineControls(m, &query, MIXER_GETLINECONTROLSF_ONEBYTYPE), MMSYSERR_NOERROR);
    EXPECT_EQ(control.dwControlID, 0x70u);
    EXPECT_EQ(control.cMultipleItems, 2u);
    query.dwControlType = MIXERCONTROL_CONTROLTYPE_MIXER;
    EXPECT_EQ(ModelLineControls(m, &query, MIXER_GETLINECONTROLSF_ONEBYTYPE), MIXERR_INVALCONTROL);

    // A uniform read of a stereo volume is the channels' mean; list texts
    // carry the line each item stands for.
    DWORD value = 0;
    MIXERCONTROLDETAILS d{sizeof d, 0x101, 1, 0, sizeof value, &value};
    ASSERT_EQ(ModelGetDetails(m, &d, MIXER_GETCONTROLDETAILSF_VALUE), MMSYSERR_NOERROR);
    EXPECT_EQ(value, 200u);
    MIXERCONTROLDETAILS_LISTTEXT texts[2]{};
    MIXERCONTROLDETAILS list{sizeof list, 0x70, 1, 2, sizeof texts[0], texts};
    ASSERT_EQ(ModelGetDetails(m, &list, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_NOERROR);
    EXPECT_STREQ(texts[1].szName, "Line");
    EXPECT_EQ(texts[1].dwParam1, 2u);
    // An item count from an older snapshot is refused rather than misread.
    list.cMultipleItems = 3;
    EXPECT_EQ(ModelGetDetails(m, &list, MIXER_GETCONTROLDETAILSF_LISTTEXT), MMSYSERR_INVALPARAM);
}

TEST(MixerModel, WritesAreCheckedBeforeTheSoundSystemSeesThem) {
    const MixerModel m = TwoSources();
    const ModelControl* control = nullptr;
    std::vector<DWORD> values;
    DWORD items[2] = {1, 1};
    MIXERCONTROLDETAILS d{sizeof d, 0x70, 1, 2, sizeof(DWORD), items};
    EXPECT_EQ(ModelDecodeWrite(m, &d, control, values), MIXERR_INVALVALUE);  // a mux takes one
    items[1] = 0;
    ASSERT_EQ(ModelDecodeWrite(m, &d, control, values), MMSYSERR_NOERROR);
    EXPECT_EQ(control->id, 0x70u);
    EXPECT_EQ(values, (std::vector<DWORD>{1, 0}));

    DWORD volume = 70000;
    MIXERCONTROLDETAILS v{sizeof v, 0x102, 1, 0, sizeof volume, &volume};
    EXPECT_EQ(ModelDecodeWrite(m, &v, control, values), MIXERR_INVALVALUE);
    volume = 65535;
    ASSERT_EQ(ModelDecodeWrite(m, &v, control, values), MMSYSERR_NOERROR);
    EXPECT_EQ(values, (std::vector<DWORD>{65535, 65535}));  // one value for both channels
}

TEST(MixerModel, ChangesNameWhatTheNextSnapshotAltered) {
    const MixerModel before = TwoSources();
    MixerModel after = before;
    EXPECT_TRUE(ModelChanges(before, after).empty());
    after.sources[0].controls[0].values = {5, 5};
    EXPECT_EQ(ModelChanges(before, after),
              (std::vector<std::pair<UINT, DWORD>>{{MM_MIXM_CONTROL_CHANGE, 0x101}}));
    // A source plugged in: the destination's lines and its list change.
    after = before;
    after.sources.push_back({3, 0, "Headset", {}});
    after.destination.controls[0].items.push_back("Headset");
    EXPECT_EQ(ModelChanges(before, after),
              (std::vector<std::pair<UINT, DWORD>>{{MM_MIXM_LINE_CHANGE, 0xFFFF0000},
                                                   {MM_MIXM_CONTROL_CHANGE, 0x70}}));
}

TEST(MixerModel, NamesAreCutAndMadeUnique) {
    const std::string longName(70, 'x');
    const auto names =
        UniqueLineNames({"Monitor of Null Output", "Monitor of Null Output", longName, longName},
                        {"a.monitor", "b.monitor", "c", "d"});
    EXPECT_EQ(names[0], "Monitor of Null Output");
    EXPECT_EQ(names[1], "Monitor of Null Output (b.monitor)");
    EXPECT_EQ(names[2], std::string(63, 'x'));
    EXPECT_EQ(names[3], std::string(59, 'x') + " (d)");
    // A cut never splits a character.
    const auto cut = UniqueLineNames({std::string(62, 'a') + "\xC3\xA9"}, {"k"});
    EXPECT_EQ(cut[0], std::string(62, 'a'));
}

}  // namespace

namespace {

// Where no sound server answers and no card exists (a build machine), the
// system driver has no device, and opening one fails without a handle.
TEST(SystemMixer, WithoutASoundSystemThereIsNoDevice) {
    if (mixer::PulseMixerAvailable() || !mixer::AlsaCards().empty())
        GTEST_SKIP() << "this machine has a sound system";
    MixerDriver& driver = systemMixerDriver();
    EXPECT_EQ(driver.GetNumDevs(), 0u);
    MIXERCAPS caps{};
    EXPECT_EQ(driver.GetDevCaps(0, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    HMIXER handle = reinterpret_cast<HMIXER>(1);
    EXPECT_EQ(driver.Open(&handle, 0, nullptr), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(handle, nullptr);
    MIXERLINE line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(driver.GetLineInfo(nullptr, &line, MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_INVALHANDLE);
}

}  // namespace
