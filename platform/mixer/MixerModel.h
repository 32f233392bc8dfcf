#pragma once
// One mixer device as the sound system shows it at one moment: the recording
// destination, its source lines and their controls with their values. The
// sound system backends build such snapshots; the mixer calls' records are
// answered from them the same way for every backend.

#include <string>
#include <utility>
#include <vector>

#include "platform/mixer/MixerApi.h"

namespace velmora::platform::mixer {

struct ModelControl {
    DWORD id = 0;
    DWORD type = 0;
    std::string name;
    DWORD maximum = 0;
    // Multiplexer and mixer-type controls: one item per listed line.
    std::vector<std::string> items;
    std::vector<DWORD> itemLineIds;
    // One value per channel (volume, mute) or per item (selectors).
    std::vector<DWORD> values;
};

struct ModelLine {
    DWORD id = 0;
    DWORD componentType = 0;
    std::string name;
    // The sound server's name of the source this line is; empty for a
    // sound card's lines.
    std::string source;
    std::vector<ModelControl> controls;
};

struct MixerModel {
    std::string product;
    // The server's names of its default microphone and of its default
    // output's monitor (GetDefaultSources); empty without a server.
    std::string defaultMicrophone, defaultOutputMonitor;
    ModelLine destination;  // the one destination, "Recording"
    std::vector<ModelLine> sources;

    const ModelLine* lineById(DWORD id) const;
    const ModelControl* controlById(DWORD id) const;
    ModelControl* controlById(DWORD id);
};

// The answers of mixerGetLineInfo, mixerGetLineControls and
// mixerGetControlDetails on a snapshot.
MMRESULT ModelLineInfo(const MixerModel& model, MIXERLINE* line, DWORD flags);
MMRESULT ModelLineControls(const MixerModel& model, MIXERLINECONTROLS* controls, DWORD flags);
MMRESULT ModelGetDetails(const MixerModel& model, MIXERCONTROLDETAILS* details, DWORD flags);
// Checks a mixerSetControlDetails request against the snapshot; on success
// `control` is the control and `values` its new values, one per channel or
// item as ModelControl::values holds them.
MMRESULT ModelDecodeWrite(const MixerModel& model, const MIXERCONTROLDETAILS* details,
                          const ModelControl*& control, std::vector<DWORD>& values);

// The notifications that tell a mixer's user what changed from one snapshot
// to the next: (MM_MIXM_LINE_CHANGE or MM_MIXM_CONTROL_CHANGE, id).
std::vector<std::pair<UINT, DWORD>> ModelChanges(const MixerModel& before, const MixerModel& after);

// Names cut to what a record holds (63 bytes, whole UTF-8 characters) and
// made unique, because sources and list items are matched by name: a
// repeated name gets " (<key>)" from `keys`.
std::vector<std::string> UniqueLineNames(const std::vector<std::string>& names,
                                         const std::vector<std::string>& keys);

// The ids the backends give their lines and controls: a source's volume and
// mute carry its index in the low bits.
inline constexpr DWORD kDestinationId = 0xFFFF0000;
inline constexpr DWORD kMuxId = 0x70000000;
inline constexpr DWORD kSwitchesId = 0x71000000;
inline constexpr DWORD kVolumeBase = 0x10000000;
inline constexpr DWORD kMuteBase = 0x20000000;
inline constexpr DWORD kIndexMask = 0x0FFFFFFF;
// Volumes run from 0 to this, whatever the sound system's own range.
inline constexpr DWORD kMixerMaximum = 65535;

// A snapshot with the destination "Recording" and no sources yet.
MixerModel RecordingModel(const std::string& product);
ModelControl VolumeControl(DWORD index, std::vector<DWORD> values);
ModelControl MuteControl(DWORD index, bool muted);

// Copies text into a fixed record field, cut at a character boundary.
void CopyName(char* field, std::size_t size, const std::string& text);

}  // namespace velmora::platform::mixer
