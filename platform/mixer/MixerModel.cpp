#include "platform/mixer/MixerModel.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace velmora::platform::mixer {
namespace {

constexpr DWORD kTargetTypeWaveIn = 2;
constexpr DWORD kQueryMask = 0xF;

bool IsSelector(DWORD type) {
    return type == MIXERCONTROL_CONTROLTYPE_MUX || type == MIXERCONTROL_CONTROLTYPE_MIXER;
}

// Bytes of text that fit `room`, not ending inside a UTF-8 character.
std::size_t FittingLength(const std::string& text, std::size_t room) {
    if (text.size() <= room) return text.size();
    std::size_t n = room;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

std::string Cut(const std::string& text, std::size_t room) {
    return text.substr(0, FittingLength(text, room));
}

DWORD ChannelsOf(const ModelLine& line) {
    for (const ModelControl& c : line.controls)
        if (c.type == MIXERCONTROL_CONTROLTYPE_VOLUME) return static_cast<DWORD>(c.values.size());
    return 1;
}

void FillLine(const MixerModel& model, const ModelLine& from, bool source, DWORD sourceIndex,
              MIXERLINE& line) {
    const DWORD size = line.cbStruct;
    std::memset(&line, 0, sizeof line);
    line.cbStruct = size;
    line.dwSource = source ? sourceIndex : 0;
    line.dwLineID = from.id;
    line.fdwLine = MIXERLINE_LINEF_ACTIVE | (source ? MIXERLINE_LINEF_SOURCE : 0);
    line.dwComponentType = from.componentType;
    line.cChannels = ChannelsOf(from);
    line.cConnections = source ? 0 : static_cast<DWORD>(model.sources.size());
    line.cControls = static_cast<DWORD>(from.controls.size());
    CopyName(line.szShortName, sizeof line.szShortName, from.name);
    CopyName(line.szName, sizeof line.szName, from.name);
    line.Target.dwType = kTargetTypeWaveIn;
    CopyName(line.Target.szPname, sizeof line.Target.szPname, model.product);
}

void FillControl(const ModelControl& from, MIXERCONTROL& control) {
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    control.dwControlID = from.id;
    control.dwControlType = from.type;
    control.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM;
    if (IsSelector(from.type)) {
        control.fdwControl |= MIXERCONTROL_CONTROLF_MULTIPLE;
        control.cMultipleItems = static_cast<DWORD>(from.items.size());
    }
    CopyName(control.szShortName, sizeof control.szShortName, from.name);
    CopyName(control.szName, sizeof control.szName, from.name);
    control.Bounds.dwMinimum = 0;
    control.Bounds.dwMaximum = from.maximum;
    control.Metrics.cSteps = from.type == MIXERCONTROL_CONTROLTYPE_VOLUME ? from.maximum + 1 : 0;
}

const ModelLine* OwnerOf(const MixerModel& model, DWORD controlId) {
    auto has = [controlId](const ModelLine& l) {
        return std::any_of(l.controls.begin(), l.controls.end(),
                           [controlId](const ModelControl& c) { return c.id == controlId; });
    };
    if (has(model.destination)) return &model.destination;
    for (const ModelLine& l : model.sources)
        if (has(l)) return &l;
    return nullptr;
}

// The shape of a details request the control accepts: selectors take one
// entry per item on one channel, the others one per channel or one for all.
MMRESULT CheckShape(const ModelControl& control, const MIXERCONTROLDETAILS* d) {
    if (IsSelector(control.type))
        return d->cChannels == 1 && d->cMultipleItems == control.items.size() ? MMSYSERR_NOERROR
                                                                              : MMSYSERR_INVALPARAM;
    if (d->cMultipleItems != 0) return MMSYSERR_INVALPARAM;
    return d->cChannels == 1 || d->cChannels == control.values.size() ? MMSYSERR_NOERROR
                                                                      : MMSYSERR_INVALPARAM;
}

DWORD Average(const std::vector<DWORD>& values) {
    if (values.empty()) return 0;
    std::uint64_t sum = 0;
    for (DWORD v : values) sum += v;
    return static_cast<DWORD>((sum + values.size() / 2) / values.size());
}

char* Entry(const MIXERCONTROLDETAILS* d, std::size_t i) {
    return static_cast<char*>(d->paDetails) + i * d->cbDetails;
}

}  // namespace

const ModelLine* MixerModel::lineById(DWORD id) const {
    if (destination.id == id) return &destination;
    for (const ModelLine& l : sources)
        if (l.id == id) return &l;
    return nullptr;
}

const ModelControl* MixerModel::controlById(DWORD id) const {
    const ModelLine* line = OwnerOf(*this, id);
    if (!line) return nullptr;
    for (const ModelControl& c : line->controls)
        if (c.id == id) return &c;
    return nullptr;
}

ModelControl* MixerModel::controlById(DWORD id) {
    return const_cast<ModelControl*>(static_cast<const MixerModel*>(this)->controlById(id));
}

MMRESULT ModelLineInfo(const MixerModel& model, MIXERLINE* line, DWORD flags) {
    if (!line || line->cbStruct < sizeof(MIXERLINE)) return MMSYSERR_INVALPARAM;
    switch (flags & kQueryMask) {
        case MIXER_GETLINEINFOF_DESTINATION:
            if (line->dwDestination != 0) return MMSYSERR_INVALPARAM;
            FillLine(model, model.destination, false, 0, *line);
            return MMSYSERR_NOERROR;
        case MIXER_GETLINEINFOF_SOURCE: {
            if (line->dwDestination != 0 || line->dwSource >= model.sources.size())
                return MIXERR_INVALLINE;
            const DWORD s = line->dwSource;
            FillLine(model, model.sources[s], true, s, *line);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINEINFOF_LINEID: {
            const DWORD id = line->dwLineID;
            if (id == model.destination.id) {
                FillLine(model, model.destination, false, 0, *line);
                return MMSYSERR_NOERROR;
            }
            for (std::size_t s = 0; s < model.sources.size(); ++s)
                if (model.sources[s].id == id) {
                    FillLine(model, model.sources[s], true, static_cast<DWORD>(s), *line);
                    return MMSYSERR_NOERROR;
                }
            return MIXERR_INVALLINE;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT ModelLineControls(const MixerModel& model, MIXERLINECONTROLS* c, DWORD flags) {
    if (!c || c->cbStruct < sizeof(MIXERLINECONTROLS) || c->cbmxctrl < sizeof(MIXERCONTROL) ||
        !c->pamxctrl || c->cControls == 0)
        return MMSYSERR_INVALPARAM;
    auto put = [c](std::size_t i, const ModelControl& from) {
        MIXERCONTROL record;
        FillControl(from, record);
        std::memcpy(reinterpret_cast<char*>(c->pamxctrl) + i * c->cbmxctrl, &record, sizeof record);
    };
    switch (flags & kQueryMask) {
        case MIXER_GETLINECONTROLSF_ALL: {
            const ModelLine* line = model.lineById(c->dwLineID);
            if (!line) return MIXERR_INVALLINE;
            if (c->cControls != line->controls.size()) return MMSYSERR_INVALPARAM;
            for (std::size_t i = 0; i < line->controls.size(); ++i) put(i, line->controls[i]);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINECONTROLSF_ONEBYID: {
            const ModelControl* control = model.controlById(c->dwControlID);
            if (!control) return MIXERR_INVALCONTROL;
            c->dwLineID = OwnerOf(model, control->id)->id;
            put(0, *control);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
            const ModelLine* line = model.lineById(c->dwLineID);
            if (!line) return MIXERR_INVALLINE;
            for (const ModelControl& control : line->controls)
                if (control.type == c->dwControlType) {
                    put(0, control);
                    return MMSYSERR_NOERROR;
                }
            return MIXERR_INVALCONTROL;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT ModelGetDetails(const MixerModel& model, MIXERCONTROLDETAILS* d, DWORD flags) {
    if (!d || d->cbStruct < sizeof(MIXERCONTROLDETAILS) || !d->paDetails)
        return MMSYSERR_INVALPARAM;
    const ModelControl* control = model.controlById(d->dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    if (const MMRESULT shape = CheckShape(*control, d); shape != MMSYSERR_NOERROR) return shape;
    switch (flags & kQueryMask) {
        case MIXER_GETCONTROLDETAILSF_VALUE: {
            if (d->cbDetails < sizeof(DWORD)) return MMSYSERR_INVALPARAM;
            const bool uniform = !IsSelector(control->type) && d->cChannels == 1;
            const std::size_t n = uniform ? 1 : control->values.size();
            for (std::size_t i = 0; i < n; ++i) {
                const DWORD v = uniform ? Average(control->values) : control->values[i];
                std::memcpy(Entry(d, i), &v, sizeof v);
            }
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETCONTROLDETAILSF_LISTTEXT: {
            if (!IsSelector(control->type)) return MMSYSERR_INVALPARAM;
            if (d->cbDetails < sizeof(MIXERCONTROLDETAILS_LISTTEXT)) return MMSYSERR_INVALPARAM;
            for (std::size_t i = 0; i < control->items.size(); ++i) {
                MIXERCONTROLDETAILS_LISTTEXT text{};
                text.dwParam1 = i < control->itemLineIds.size() ? control->itemLineIds[i] : 0;
                if (const ModelLine* line = model.lineById(text.dwParam1))
                    text.dwParam2 = line->componentType;
                CopyName(text.szName, sizeof text.szName, control->items[i]);
                std::memcpy(Entry(d, i), &text, sizeof text);
            }
            return MMSYSERR_NOERROR;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT ModelDecodeWrite(const MixerModel& model, const MIXERCONTROLDETAILS* d,
                          const ModelControl*& control, std::vector<DWORD>& values) {
    if (!d || d->cbStruct < sizeof(MIXERCONTROLDETAILS) || !d->paDetails ||
        d->cbDetails < sizeof(DWORD))
        return MMSYSERR_INVALPARAM;
    control = model.controlById(d->dwControlID);
    if (!control) return MIXERR_INVALCONTROL;
    if (const MMRESULT shape = CheckShape(*control, d); shape != MMSYSERR_NOERROR) return shape;
    auto read = [d](std::size_t i) {
        DWORD v;
        std::memcpy(&v, Entry(d, i), sizeof v);
        return v;
    };
    values.clear();
    if (IsSelector(control->type)) {
        for (std::size_t i = 0; i < control->items.size(); ++i) values.push_back(read(i) ? 1 : 0);
        if (control->type == MIXERCONTROL_CONTROLTYPE_MUX &&
            std::count(values.begin(), values.end(), 1u) != 1)
            return MIXERR_INVALVALUE;
        return MMSYSERR_NOERROR;
    }
    for (std::size_t i = 0; i < control->values.size(); ++i) {
        const DWORD v = read(d->cChannels == 1 ? 0 : i);
        if (v > control->maximum) return MIXERR_INVALVALUE;
        values.push_back(v);
    }
    return MMSYSERR_NOERROR;
}

std::vector<std::pair<UINT, DWORD>> ModelChanges(const MixerModel& before,
                                                 const MixerModel& after) {
    std::vector<std::pair<UINT, DWORD>> changes;
    auto ids = [](const MixerModel& m) {
        std::vector<DWORD> v;
        for (const ModelLine& l : m.sources) v.push_back(l.id);
        return v;
    };
    auto compareControls = [&changes](const ModelLine& was, const ModelLine& now) {
        for (const ModelControl& c : now.controls) {
            const auto old = std::find_if(was.controls.begin(), was.controls.end(),
                                          [&c](const ModelControl& o) { return o.id == c.id; });
            if (old == was.controls.end() || old->values != c.values || old->items != c.items)
                changes.emplace_back(MM_MIXM_CONTROL_CHANGE, c.id);
        }
    };
    if (ids(before) != ids(after) || before.destination.name != after.destination.name)
        changes.emplace_back(MM_MIXM_LINE_CHANGE, after.destination.id);
    compareControls(before.destination, after.destination);
    for (const ModelLine& now : after.sources) {
        const ModelLine* was = before.lineById(now.id);
        if (!was) continue;
        if (was->name != now.name) changes.emplace_back(MM_MIXM_LINE_CHANGE, now.id);
        compareControls(*was, now);
    }
    return changes;
}

std::vector<std::string> UniqueLineNames(const std::vector<std::string>& names,
                                         const std::vector<std::string>& keys) {
    constexpr std::size_t room = MIXER_LONG_NAME_CHARS - 1;
    std::vector<std::string> result;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string name = Cut(names[i], room);
        const std::string key = i < keys.size() ? keys[i] : std::to_string(i + 1);
        for (int n = 1; taken.count(name) && n < 1000; ++n) {
            // Appended, not " (" + ...: GCC 12 warns falsely (-Wrestrict) there.
            std::string suffix = " (";
            suffix += key;
            if (n != 1) suffix.append(1, ' ').append(std::to_string(n));
            suffix += ')';
            name = Cut(names[i], room - std::min(room, suffix.size())) + suffix;
            name = Cut(name, room);
        }
        taken.insert(name);
        result.push_back(name);
    }
    return result;
}

MixerModel RecordingModel(const std::string& product) {
    MixerModel m;
    m.product = product;
    m.destination.id = kDestinationId;
    m.destination.componentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    m.destination.name = "Recording";
    return m;
}

ModelControl VolumeControl(DWORD index, std::vector<DWORD> values) {
    ModelControl c;
    c.id = kVolumeBase | index;
    c.type = MIXERCONTROL_CONTROLTYPE_VOLUME;
    c.name = "Volume";
    c.maximum = kMixerMaximum;
    c.values = values.empty() ? std::vector<DWORD>{0} : std::move(values);
    return c;
}

ModelControl MuteControl(DWORD index, bool muted) {
    ModelControl c;
    c.id = kMuteBase | index;
    c.type = MIXERCONTROL_CONTROLTYPE_MUTE;
    c.name = "Mute";
    c.maximum = 1;
    c.values = {muted ? 1u : 0u};
    return c;
}

void CopyName(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    if (size == 0) return;
    std::memcpy(field, text.data(), FittingLength(text, size - 1));
}

}  // namespace velmora::platform::mixer
