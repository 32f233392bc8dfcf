// The system mixer driver: PulseAudio's one device when a server answers,
// else one device per ALSA sound card, else none. Queries are answered from
// the open device's snapshot; writes go to the sound system.

#include <cstring>
#include <mutex>
#include <set>

#include "platform/mixer/MixerDevice.h"

namespace velmora::platform {
namespace {

using mixer::MixerModel;

std::mutex& liveMutex() {
    static std::mutex m;
    return m;
}
std::set<MixerDevice*>& live() {
    static std::set<MixerDevice*> s;
    return s;
}
bool isLive(HMIXER h) {
    std::lock_guard lock(liveMutex());
    return h && live().count(h) != 0;
}

class SystemMixerDriver final : public MixerDriver {
  public:
    UINT GetNumDevs() override {
        if (mixer::PulseMixerAvailable()) return 1;
        return static_cast<UINT>(mixer::AlsaCards().size());
    }

    MMRESULT GetDevCaps(UINT id, MIXERCAPS* caps, UINT size) override {
        if (!caps || size < sizeof(MIXERCAPS)) return MMSYSERR_INVALPARAM;
        std::string product;
        if (!ProductName(id, product)) return MMSYSERR_BADDEVICEID;
        std::memset(caps, 0, sizeof *caps);
        mixer::CopyName(caps->szPname, sizeof caps->szPname, product);
        caps->cDestinations = 1;
        return MMSYSERR_NOERROR;
    }

    MMRESULT Open(HMIXER* handle, UINT id, MixerCallback callback) override {
        if (!handle) return MMSYSERR_INVALPARAM;
        *handle = nullptr;
        std::string error;
        std::unique_ptr<MixerDevice> device;
        if (mixer::PulseMixerAvailable()) {
            if (id != 0) return MMSYSERR_BADDEVICEID;
            device = mixer::OpenPulseMixer(error);
        } else {
            const std::vector<int> cards = mixer::AlsaCards();
            if (id >= cards.size()) return MMSYSERR_BADDEVICEID;
            const int card = cards[id];
            device = mixer::OpenAlsaMixer("hw:" + std::to_string(card), mixer::AlsaCardName(card),
                                          error);
        }
        if (!device) return MMSYSERR_NODRIVER;
        device->setCallback(std::move(callback));
        std::lock_guard lock(liveMutex());
        *handle = device.release();
        live().insert(*handle);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close(HMIXER h) override {
        {
            std::lock_guard lock(liveMutex());
            if (!h || live().erase(h) == 0) return MMSYSERR_INVALHANDLE;
        }
        delete h;  // stops the device's thread: no callback after this
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetLineInfo(HMIXER h, MIXERLINE* line, DWORD flags) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        return mixer::ModelLineInfo(h->snapshot(), line, flags);
    }

    MMRESULT GetLineControls(HMIXER h, MIXERLINECONTROLS* controls, DWORD flags) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        return mixer::ModelLineControls(h->snapshot(), controls, flags);
    }

    MMRESULT GetControlDetails(HMIXER h, MIXERCONTROLDETAILS* details, DWORD flags) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        return mixer::ModelGetDetails(h->snapshot(), details, flags);
    }

    MMRESULT SetControlDetails(HMIXER h, MIXERCONTROLDETAILS* details, DWORD flags) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        if ((flags & 0xF) != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALFLAG;
        const MixerModel model = h->snapshot();
        const mixer::ModelControl* control = nullptr;
        std::vector<DWORD> values;
        const MMRESULT checked = mixer::ModelDecodeWrite(model, details, control, values);
        if (checked != MMSYSERR_NOERROR) return checked;
        return h->apply(*control, values);
    }

    MMRESULT GetLineSource(HMIXER h, DWORD lineId, std::string& source) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        const MixerModel model = h->snapshot();
        const mixer::ModelLine* line = model.lineById(lineId);
        if (!line) return MIXERR_INVALLINE;
        if (line->source.empty()) return MMSYSERR_NOTSUPPORTED;
        source = line->source;
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetDefaultSources(HMIXER h, std::string& microphone,
                               std::string& outputMonitor) override {
        if (!isLive(h)) return MMSYSERR_INVALHANDLE;
        const MixerModel model = h->snapshot();
        microphone = model.defaultMicrophone;
        outputMonitor = model.defaultOutputMonitor;
        return MMSYSERR_NOERROR;
    }

  private:
    static bool ProductName(UINT id, std::string& product) {
        if (mixer::PulseMixerAvailable()) {
            product = "PulseAudio";
            return id == 0;
        }
        const std::vector<int> cards = mixer::AlsaCards();
        if (id >= cards.size()) return false;
        product = mixer::AlsaCardName(cards[id]);
        return true;
    }
};

}  // namespace

MMRESULT MixerDriver::GetLineSource(HMIXER, DWORD, std::string&) {
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT MixerDriver::GetDefaultSources(HMIXER, std::string&, std::string&) {
    return MMSYSERR_NOTSUPPORTED;
}

MixerDriver& systemMixerDriver() {
    static SystemMixerDriver driver;
    return driver;
}

}  // namespace velmora::platform
