#include "tests/doubles/FakeMixer.h"

#include <algorithm>
#include <cstring>

namespace velmora::test {

using namespace platform;

namespace {

void Copy(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

bool IsSelector(DWORD type) {
    return type == MIXERCONTROL_CONTROLTYPE_MUX || type == MIXERCONTROL_CONTROLTYPE_MIXER;
}

}  // namespace

FakeControl Volume(DWORD id, DWORD value, DWORD maximum) {
    FakeControl c;
    c.id = id;
    c.type = MIXERCONTROL_CONTROLTYPE_VOLUME;
    c.value = value;
    c.maximum = maximum;
    return c;
}

FakeControl Selector(DWORD id, DWORD type, std::vector<std::string> items,
                     std::vector<DWORD> values) {
    FakeControl c;
    c.id = id;
    c.type = type;
    c.maximum = 1;
    c.items = std::move(items);
    c.itemValues = std::move(values);
    return c;
}

FakeMixerDevice* FakeMixer::Device(HMIXER h) {
    if (!h || h != open_ || openDevice_ >= devices.size()) return nullptr;
    return &devices[openDevice_];
}

FakeLine* FakeMixer::LineById(HMIXER h, DWORD id) {
    FakeMixerDevice* d = Device(h);
    if (!d) return nullptr;
    for (auto& dest : d->destinations) {
        if (dest.line.id == id) return &dest.line;
        for (auto& s : dest.sources)
            if (s.id == id) return &s;
    }
    return nullptr;
}

FakeControl* FakeMixer::Control(DWORD id) {
    for (auto& device : devices)
        for (auto& dest : device.destinations) {
            for (auto& c : dest.line.controls)
                if (c.id == id) return &c;
            for (auto& s : dest.sources)
                for (auto& c : s.controls)
                    if (c.id == id) return &c;
        }
    return nullptr;
}

void FakeMixer::Notify(UINT message, DWORD id) {
    if (callback_) callback_(message, open_, id);
}

void FakeMixer::NotifyFromOtherDevice(UINT message, DWORD id) {
    if (callback_) callback_(message, reinterpret_cast<HMIXER>(nextHandle_ + 1), id);
}

UINT FakeMixer::GetNumDevs() {
    return static_cast<UINT>(devices.size());
}

MMRESULT FakeMixer::GetDevCaps(UINT id, MIXERCAPS* caps, UINT size) {
    if (!caps || size < sizeof(MIXERCAPS)) return MMSYSERR_INVALPARAM;
    if (id >= devices.size()) return MMSYSERR_BADDEVICEID;
    std::memset(caps, 0, sizeof *caps);
    Copy(caps->szPname, sizeof caps->szPname, devices[id].name);
    caps->cDestinations = static_cast<DWORD>(devices[id].destinations.size());
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMixer::Open(HMIXER* mixer, UINT id, MixerCallback callback) {
    if (!mixer) return MMSYSERR_INVALPARAM;
    if (id >= devices.size()) return MMSYSERR_BADDEVICEID;
    ++opens;
    open_ = reinterpret_cast<HMIXER>(nextHandle_++);
    openDevice_ = id;
    callback_ = std::move(callback);
    *mixer = open_;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMixer::Close(HMIXER mixer) {
    if (!mixer || mixer != open_) return MMSYSERR_INVALHANDLE;
    ++closes;
    open_ = nullptr;
    callback_ = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMixer::GetLineInfo(HMIXER mixer, MIXERLINE* line, DWORD flags) {
    FakeMixerDevice* d = Device(mixer);
    if (!d) return MMSYSERR_INVALHANDLE;
    if (!line || line->cbStruct != sizeof(MIXERLINE)) return MMSYSERR_INVALPARAM;
    ++lineQueries;
    if (line->dwDestination >= d->destinations.size()) return MIXERR_INVALLINE;
    const FakeDestination& dest = d->destinations[line->dwDestination];
    const FakeLine* found = &dest.line;
    DWORD connections = static_cast<DWORD>(dest.sources.size());
    if ((flags & 0xF) == MIXER_GETLINEINFOF_SOURCE) {
        if (line->dwSource >= dest.sources.size()) return MIXERR_INVALLINE;
        found = &dest.sources[line->dwSource];
        connections = 0;
    } else if ((flags & 0xF) != MIXER_GETLINEINFOF_DESTINATION) {
        return MMSYSERR_INVALFLAG;
    }
    line->dwLineID = found->id;
    line->cConnections = connections;
    line->cControls = static_cast<DWORD>(found->controls.size());
    Copy(line->szName, sizeof line->szName, found->name);
    Copy(line->szShortName, sizeof line->szShortName, found->name);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMixer::GetLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, DWORD flags) {
    if (!Device(mixer)) return MMSYSERR_INVALHANDLE;
    if (!controls || controls->cbStruct != sizeof(MIXERLINECONTROLS) || controls->cControls != 1 ||
        controls->cbmxctrl != sizeof(MIXERCONTROL) || !controls->pamxctrl)
        return MMSYSERR_INVALPARAM;
    if ((flags & 0xF) != MIXER_GETLINECONTROLSF_ONEBYTYPE) return MMSYSERR_INVALFLAG;
    const FakeLine* line = LineById(mixer, controls->dwLineID);
    if (!line) return MIXERR_INVALLINE;
    for (const FakeControl& c : line->controls) {
        if (c.type != controls->dwControlType) continue;
        MIXERCONTROL& out = *controls->pamxctrl;
        std::memset(&out, 0, sizeof out);
        out.cbStruct = sizeof out;
        out.dwControlID = c.id;
        out.dwControlType = c.type;
        out.cMultipleItems = static_cast<DWORD>(c.items.size());
        out.Bounds.dwMaximum = c.maximum;
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT FakeMixer::GetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* d, DWORD flags) {
    if (!Device(mixer)) return MMSYSERR_INVALHANDLE;
    if (!d || d->cbStruct != sizeof(MIXERCONTROLDETAILS) || d->cChannels != 1 || !d->paDetails)
        return MMSYSERR_INVALPARAM;
    FakeControl* c = Control(d->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    if (c->failReads) return MMSYSERR_ERROR;
    if (IsSelector(c->type) && d->cMultipleItems != c->items.size()) return MMSYSERR_INVALPARAM;
    auto* bytes = static_cast<char*>(d->paDetails);
    if ((flags & 0xF) == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
        if (!IsSelector(c->type) || d->cbDetails != sizeof(MIXERCONTROLDETAILS_LISTTEXT))
            return MMSYSERR_INVALPARAM;
        for (std::size_t i = 0; i < c->items.size(); ++i) {
            MIXERCONTROLDETAILS_LISTTEXT text{};
            Copy(text.szName, sizeof text.szName, c->items[i]);
            std::memcpy(bytes + i * d->cbDetails, &text, sizeof text);
        }
        return MMSYSERR_NOERROR;
    }
    if (d->cbDetails != sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    if (!IsSelector(c->type)) {
        std::memcpy(bytes, &c->value, sizeof c->value);
        return MMSYSERR_NOERROR;
    }
    for (std::size_t i = 0; i < c->itemValues.size(); ++i)
        std::memcpy(bytes + i * sizeof(DWORD), &c->itemValues[i], sizeof(DWORD));
    return MMSYSERR_NOERROR;
}

MMRESULT FakeMixer::SetControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* d, DWORD) {
    if (!Device(mixer)) return MMSYSERR_INVALHANDLE;
    if (!d || d->cbStruct != sizeof(MIXERCONTROLDETAILS) || d->cChannels != 1 || !d->paDetails ||
        d->cbDetails != sizeof(DWORD))
        return MMSYSERR_INVALPARAM;
    FakeControl* c = Control(d->dwControlID);
    if (!c) return MIXERR_INVALCONTROL;
    const std::size_t n = IsSelector(c->type) ? c->items.size() : 1;
    if (IsSelector(c->type) && d->cMultipleItems != n) return MMSYSERR_INVALPARAM;
    std::vector<DWORD> values(n);
    std::memcpy(values.data(), d->paDetails, n * sizeof(DWORD));
    writes.emplace_back(c->id, values);
    if (IsSelector(c->type))
        c->itemValues = values;
    else
        c->value = values[0];
    return MMSYSERR_NOERROR;
}

}  // namespace velmora::test
