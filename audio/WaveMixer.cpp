#include "audio/WaveMixer.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "audio/WaveUtils.h"

namespace velmora::audio {

using namespace platform;

namespace {

constexpr DWORD kControlTypes[MixerControlTypeCount] = {
    MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLTYPE_MUX,
    MIXERCONTROL_CONTROLTYPE_MIXER};

std::string FieldText(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

// The first position of a name among names, letter case aside; -1 if none.
int PositionIgnoringCase(const std::vector<std::string>& names, const std::string& name) {
    const QString wanted = QString::fromStdString(name);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (QString::fromStdString(names[i]).compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

MIXERCONTROLDETAILS Details(DWORD controlId, DWORD items, DWORD entrySize, void* entries) {
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = controlId;
    d.cChannels = 1;  // one uniform channel
    d.cMultipleItems = items;
    d.cbDetails = entrySize;
    d.paDetails = entries;
    return d;
}

}  // namespace

// ---------------------------------------------------------------- TAudioMixerLine

TAudioMixerLine::TAudioMixerLine(TAudioMixer* mixer, std::int32_t sourceIndex) : mixer_(mixer) {
    Initialise(sourceIndex);
}

std::string TAudioMixerLine::Name() const {
    return FieldText(lineInfo_.szName, sizeof lineInfo_.szName);
}

std::string TAudioMixerLine::SourceName() const {
    std::string source;
    if (!mixer_->Handle() || mixer_->Driver().GetLineSource(mixer_->Handle(), lineInfo_.dwLineID,
                                                            source) != platform::MMSYSERR_NOERROR)
        return {};
    return source;
}

void TAudioMixerLine::Initialise(std::int32_t sourceIndex) {
    sourceIndex_ = sourceIndex;
    std::memset(&lineInfo_, 0, sizeof lineInfo_);
    lineInfo_.cbStruct = sizeof lineInfo_;
    lineInfo_.dwDestination = mixer_->DestinationID();
    MMRESULT rc;
    if (sourceIndex >= 0) {
        lineInfo_.dwSource = static_cast<DWORD>(sourceIndex);
        rc = mixer_->Driver().GetLineInfo(mixer_->Handle(), &lineInfo_,
                                          MIXER_GETLINEINFOF_SOURCE | MIXER_OBJECTF_HMIXER);
    } else {
        rc = mixer_->Driver().GetLineInfo(mixer_->Handle(), &lineInfo_,
                                          MIXER_GETLINEINFOF_DESTINATION | MIXER_OBJECTF_HMIXER);
    }
    controlSet_.reset();
    std::memset(controlInfo_, 0, sizeof controlInfo_);
    if (rc != MMSYSERR_NOERROR) return;
    for (int kind = mcVolume; kind <= mcMix; ++kind)
        RefreshControl(static_cast<TMixerControlType>(kind));
}

void TAudioMixerLine::RefreshControl(TMixerControlType kind) {
    MIXERCONTROL& control = controlInfo_[kind];
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    MIXERLINECONTROLS query{};
    query.cbStruct = sizeof query;
    query.dwLineID = lineInfo_.dwLineID;
    query.dwControlType = kControlTypes[kind];
    query.cControls = 1;
    query.cbmxctrl = sizeof control;
    query.pamxctrl = &control;
    const MMRESULT rc = mixer_->Driver().GetLineControls(
        mixer_->Handle(), &query, MIXER_GETLINECONTROLSF_ONEBYTYPE | MIXER_OBJECTF_HMIXER);
    controlSet_.set(kind, rc == MMSYSERR_NOERROR);
}

std::int32_t TAudioMixerLine::GetVolume() {
    if (!Has(mcVolume)) return -1;
    const MIXERCONTROL& control = controlInfo_[mcVolume];
    MIXERCONTROLDETAILS_UNSIGNED value{};
    MIXERCONTROLDETAILS d = Details(control.dwControlID, 0, sizeof value, &value);
    if (mixer_->Driver().GetControlDetails(mixer_->Handle(), &d,
                                           MIXER_GETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER) !=
        MMSYSERR_NOERROR)
        return -1;
    return MulDiv(static_cast<std::int32_t>(value.dwValue), 100,
                  static_cast<std::int32_t>(control.Bounds.dwMaximum));
}

void TAudioMixerLine::SetVolume(std::int32_t percent) {
    if (!Has(mcVolume)) return;
    const MIXERCONTROL& control = controlInfo_[mcVolume];
    MIXERCONTROLDETAILS_UNSIGNED value{};
    value.dwValue = static_cast<DWORD>(MulDiv(static_cast<std::int32_t>(control.Bounds.dwMaximum),
                                              std::clamp(percent, 0, 100), 100));
    MIXERCONTROLDETAILS d = Details(control.dwControlID, 0, sizeof value, &value);
    mixer_->Driver().SetControlDetails(mixer_->Handle(), &d,
                                       MIXER_SETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER);
}

bool TAudioMixerLine::SelectionControl(TMixerControlType& kind) const {
    // A mixer-type control, where a line has one, decides before a multiplexer.
    if (Has(mcMix)) {
        kind = mcMix;
        return true;
    }
    if (Has(mcSelect)) {
        kind = mcSelect;
        return true;
    }
    return false;
}

std::int32_t TAudioMixerLine::GetSelectedSource() {
    TMixerControlType kind;
    if (!SelectionControl(kind)) return -1;
    const MIXERCONTROL& control = controlInfo_[kind];
    std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(control.cMultipleItems);
    MIXERCONTROLDETAILS d = Details(control.dwControlID, control.cMultipleItems,
                                    sizeof(MIXERCONTROLDETAILS_BOOLEAN), values.data());
    if (mixer_->Driver().GetControlDetails(mixer_->Handle(), &d,
                                           MIXER_GETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER) !=
        MMSYSERR_NOERROR)
        return -1;
    for (std::size_t item = 0; item < values.size(); ++item)
        if (values[item].fValue & 0xFF) return ItemToSource(kind, static_cast<std::int32_t>(item));
    return -1;
}

void TAudioMixerLine::SelectSource(std::int32_t source) {
    TMixerControlType kind;
    if (!SelectionControl(kind)) return;
    const std::int32_t item = SourceToItem(kind, source);
    if (item < 0) return;
    const MIXERCONTROL& control = controlInfo_[kind];
    // One item set and every other cleared, so exactly one source stays
    // chosen on a mixer-type control as well.
    std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(control.cMultipleItems);
    values[static_cast<std::size_t>(item)].fValue = 1;
    MIXERCONTROLDETAILS d = Details(control.dwControlID, control.cMultipleItems,
                                    sizeof(MIXERCONTROLDETAILS_BOOLEAN), values.data());
    mixer_->Driver().SetControlDetails(mixer_->Handle(), &d,
                                       MIXER_SETCONTROLDETAILSF_VALUE | MIXER_OBJECTF_HMIXER);
}

bool TAudioMixerLine::ReadListTexts(TMixerControlType kind, std::vector<std::string>& names) {
    const MIXERCONTROL& control = controlInfo_[kind];
    std::vector<MIXERCONTROLDETAILS_LISTTEXT> texts(control.cMultipleItems);
    MIXERCONTROLDETAILS d = Details(control.dwControlID, control.cMultipleItems,
                                    sizeof(MIXERCONTROLDETAILS_LISTTEXT), texts.data());
    if (mixer_->Driver().GetControlDetails(
            mixer_->Handle(), &d, MIXER_GETCONTROLDETAILSF_LISTTEXT | MIXER_OBJECTF_HMIXER) !=
        MMSYSERR_NOERROR)
        return false;
    names.clear();
    for (const auto& t : texts) names.push_back(FieldText(t.szName, sizeof t.szName));
    return true;
}

std::int32_t TAudioMixerLine::ItemToSource(TMixerControlType kind, std::int32_t item) {
    if (item < 0 || static_cast<DWORD>(item) >= controlInfo_[kind].cMultipleItems) return -1;
    std::vector<std::string> names;
    if (!ReadListTexts(kind, names)) return -1;
    const std::string& name = names[static_cast<std::size_t>(item)];
    for (const auto& line : mixer_->Lines())
        if (line->Name() == name) return line->SourceIndex();
    return -1;
}

std::int32_t TAudioMixerLine::SourceToItem(TMixerControlType kind, std::int32_t source) {
    // A stored source number may outlive the source (a headset unplugged).
    const TAudioMixerLine* line =
        source >= 0 ? mixer_->Line(static_cast<std::size_t>(source)) : nullptr;
    if (!line) return -1;
    std::vector<std::string> names;
    if (!ReadListTexts(kind, names)) return -1;
    const auto found = std::find(names.begin(), names.end(), line->Name());
    return found == names.end() ? -1 : static_cast<std::int32_t>(found - names.begin());
}

// ---------------------------------------------------------------- TAudioMixer

TAudioMixer::TAudioMixer(platform::MixerDriver* driver)
    : driver_(driver ? driver : &systemMixerDriver()), window_(std::make_unique<QObject>()) {
    window_->setObjectName(QStringLiteral("MixerNotifyWindow"));
    master_ = std::make_unique<TAudioMixerLine>(this, -1);
    Reopen(false);
}

TAudioMixer::~TAudioMixer() {
    while (!lines_.empty()) lines_.pop_back();
    master_.reset();
    CloseDevice();  // no message is sent after this
    window_.reset();
}

void TAudioMixer::CloseDevice() {
    if (handle_) driver_->Close(handle_);
    handle_ = nullptr;
}

void TAudioMixer::Reopen(bool keepDevice) {
    while (!lines_.empty()) lines_.pop_back();
    if (!keepDevice) {
        CloseDevice();
        caps_ = {};
        if (driver_->GetDevCaps(mixerId_, &caps_, sizeof caps_) != MMSYSERR_NOERROR) caps_ = {};
        // The driver calls from its own thread: the message goes to the
        // window's thread, the one that uses this mixer.
        QObject* window = window_.get();
        MixerCallback callback = [this, window](UINT message, HMIXER device, DWORD id) {
            QMetaObject::invokeMethod(
                window, [this, message, device, id] { HandleMixerMessage(message, device, id); },
                Qt::QueuedConnection);
        };
        HMIXER opened = nullptr;
        if (driver_->Open(&opened, mixerId_, std::move(callback)) == MMSYSERR_NOERROR)
            handle_ = opened;
    }
    if (destinationId_ >= DestinationCount()) destinationId_ = 0;
    master_->Initialise(-1);
    for (std::int32_t i = 0; i < LineCount(); ++i)
        lines_.push_back(std::make_unique<TAudioMixerLine>(this, i));
}

void TAudioMixer::SetMixerID(std::uint32_t value) {
    if (value == mixerId_ || value >= DeviceCount()) return;
    mixerId_ = value;
    Reopen(false);
}

std::string TAudioMixer::MixerName() const {
    return FieldText(caps_.szPname, sizeof caps_.szPname);
}

void TAudioMixer::SetMixerName(const std::string& value) {
    if (value == MixerName()) return;
    std::vector<std::string> names;
    GetDeviceNames(names);
    if (const int found = PositionIgnoringCase(names, value); found >= 0)
        SetMixerID(static_cast<std::uint32_t>(found));
}

void TAudioMixer::SetDestinationID(std::uint32_t value) {
    if (value == destinationId_) return;
    destinationId_ = value;
    Reopen(true);
}

void TAudioMixer::SetDestinationName(const std::string& value) {
    if (value == DestinationName()) return;
    std::vector<std::string> names;
    GetDestinationNames(names);
    if (const int found = PositionIgnoringCase(names, value); found >= 0)
        SetDestinationID(static_cast<std::uint32_t>(found));
}

std::uint16_t TAudioMixer::DeviceCount() {
    return static_cast<std::uint16_t>(driver_->GetNumDevs());
}

std::uint16_t TAudioMixer::DestinationCount() const {
    return static_cast<std::uint16_t>(caps_.cDestinations);
}

std::uint16_t TAudioMixer::LineCount() const {
    return static_cast<std::uint16_t>(master_->LineInfo().cConnections);
}

bool TAudioMixer::DefaultSources(std::string& microphone, std::string& outputMonitor) const {
    return handle_ && driver_->GetDefaultSources(handle_, microphone, outputMonitor) ==
                          platform::MMSYSERR_NOERROR;
}

int TAudioMixer::GetDeviceNames(std::vector<std::string>& names) {
    const int count = DeviceCount();
    for (int i = 0; i < count; ++i) {
        MIXERCAPS caps{};
        if (driver_->GetDevCaps(static_cast<UINT>(i), &caps, sizeof caps) != MMSYSERR_NOERROR)
            caps = {};
        names.push_back(FieldText(caps.szPname, sizeof caps.szPname));
    }
    return count;
}

int TAudioMixer::GetDestinationNames(std::vector<std::string>& names) {
    const int count = DestinationCount();
    for (int d = 0; d < count; ++d) {
        MIXERLINE line{};
        line.cbStruct = sizeof line;
        line.dwDestination = static_cast<DWORD>(d);
        if (driver_->GetLineInfo(handle_, &line,
                                 MIXER_GETLINEINFOF_DESTINATION | MIXER_OBJECTF_HMIXER) !=
            MMSYSERR_NOERROR)
            line = {};
        names.push_back(FieldText(line.szName, sizeof line.szName));
    }
    return count;
}

bool TAudioMixer::HandleMixerMessage(std::uint32_t message, HMIXER device, std::uint32_t id) {
    if (message != MM_MIXM_LINE_CHANGE && message != MM_MIXM_CONTROL_CHANGE) return false;
    if (!handle_ || device != handle_) return true;
    if (message == MM_MIXM_LINE_CHANGE) {
        TAudioMixerLine* changed = nullptr;
        if (master_->LineInfo().dwLineID == id) {
            // The destination's sources came or went: its lines are built
            // again, so the next listing shows them.
            Reopen(true);
            changed = master_.get();
        } else {
            for (const auto& line : lines_)
                if (line->LineInfo().dwLineID == id) {
                    line->Initialise(line->SourceIndex());
                    changed = line.get();
                    break;
                }
        }
        if (changed && OnLineChange) OnLineChange(this, changed);
        return true;
    }
    auto raise = [this, id](TAudioMixerLine& line) {
        for (int k = mcVolume; k <= mcMix; ++k) {
            const auto kind = static_cast<TMixerControlType>(k);
            if (line.Has(kind) && line.ControlInfo(kind).dwControlID == id) {
                line.RefreshControl(kind);
                if (OnControlChange) OnControlChange(this, &line, kind);
                return true;
            }
        }
        return false;
    };
    if (raise(*master_)) return true;
    for (const auto& line : lines_)
        if (raise(*line)) break;
    return true;
}

}  // namespace velmora::audio
