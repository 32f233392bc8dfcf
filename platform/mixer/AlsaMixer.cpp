// ALSA's simple mixer of a sound card, for machines without a sound server:
// the capture elements are the sources of the destination "Recording" (their
// capture volumes, and their capture switches as mute), the card's
// "Capture Source"/"Input Source" enumeration is the multiplexer, and the
// capture switches together form a mixer-type selector. A thread follows the
// card's events and rebuilds the snapshot after each.

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/mixer/MixerDevice.h"

namespace velmora::platform::mixer {
namespace {

constexpr DWORD kLineBase = 0x100;

std::vector<snd_mixer_selem_channel_id_t> CaptureChannels(snd_mixer_elem_t* e) {
    std::vector<snd_mixer_selem_channel_id_t> channels;
    if (snd_mixer_selem_is_capture_mono(e)) return {SND_MIXER_SCHN_MONO};
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
        if (snd_mixer_selem_has_capture_channel(e, ch)) channels.push_back(ch);
    }
    if (channels.empty()) channels.push_back(SND_MIXER_SCHN_MONO);
    return channels;
}

std::string ElementName(snd_mixer_elem_t* e) {
    std::string name = snd_mixer_selem_get_name(e);
    if (const unsigned index = snd_mixer_selem_get_index(e); index > 0)
        name += " " + std::to_string(index);
    return name;
}

bool IsCaptureSourceEnum(snd_mixer_elem_t* e) {
    if (!snd_mixer_selem_is_enumerated(e)) return false;
    const std::string name = snd_mixer_selem_get_name(e);
    return snd_mixer_selem_is_enum_capture(e) || name == "Capture Source" || name == "Input Source";
}

class AlsaMixerDevice final : public MixerDevice {
  public:
    explicit AlsaMixerDevice(std::string product) : product_(std::move(product)) {}

    ~AlsaMixerDevice() override {
        setCallback(nullptr);
        if (thread_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t woken = ::write(wake_, &one, sizeof one);
            thread_.join();
        }
        if (wake_ >= 0) ::close(wake_);
        if (handle_) snd_mixer_close(handle_);
    }

    bool start(const std::string& ctlName, std::string& error) {
        int rc = snd_mixer_open(&handle_, 0);
        if (rc == 0) rc = snd_mixer_attach(handle_, ctlName.c_str());
        if (rc == 0) rc = snd_mixer_selem_register(handle_, nullptr, nullptr);
        if (rc == 0) rc = snd_mixer_load(handle_);
        if (rc < 0) {
            error = snd_strerror(rc);
            return false;
        }
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) return false;
        Rebuild();
        thread_ = std::thread([this] { Follow(); });
        return true;
    }

    MMRESULT apply(const ModelControl& control, const std::vector<DWORD>& values) override {
        {
            std::lock_guard lock(alsa_);
            if (control.id == kMuxId) {
                if (!mux_) return MIXERR_INVALCONTROL;
                const auto item = std::find(values.begin(), values.end(), 1u) - values.begin();
                if (snd_mixer_selem_set_enum_item(mux_, SND_MIXER_SCHN_FRONT_LEFT,
                                                  static_cast<unsigned>(item)) < 0)
                    return MMSYSERR_ERROR;
                snd_mixer_selem_set_enum_item(mux_, SND_MIXER_SCHN_FRONT_RIGHT,
                                              static_cast<unsigned>(item));
            } else if (control.id == kSwitchesId) {
                for (std::size_t i = 0; i < values.size() && i < switched_.size(); ++i)
                    snd_mixer_selem_set_capture_switch_all(switched_[i], values[i] ? 1 : 0);
            } else {
                const DWORD index = control.id & kIndexMask;
                if (index >= elements_.size()) return MIXERR_INVALCONTROL;
                snd_mixer_elem_t* e = elements_[index];
                if (control.type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
                    long low = 0, high = 0;
                    snd_mixer_selem_get_capture_volume_range(e, &low, &high);
                    const auto channels = CaptureChannels(e);
                    for (std::size_t c = 0; c < channels.size(); ++c) {
                        const DWORD v = values[c < values.size() ? c : 0];
                        const long raw =
                            low + static_cast<long>((static_cast<std::int64_t>(v) * (high - low) +
                                                     kMixerMaximum / 2) /
                                                    kMixerMaximum);
                        if (snd_mixer_selem_set_capture_volume(e, channels[c], raw) < 0)
                            return MMSYSERR_ERROR;
                    }
                } else if (control.type == MIXERCONTROL_CONTROLTYPE_MUTE) {
                    if (snd_mixer_selem_set_capture_switch_all(e, values.at(0) ? 0 : 1) < 0)
                        return MMSYSERR_ERROR;
                }
            }
        }
        Rebuild();
        return MMSYSERR_NOERROR;
    }

  private:
    void Follow() {
        for (;;) {
            std::vector<pollfd> fds(1);
            fds[0] = {wake_, POLLIN, 0};
            {
                std::lock_guard lock(alsa_);
                const int n = snd_mixer_poll_descriptors_count(handle_);
                if (n > 0) {
                    fds.resize(1 + static_cast<std::size_t>(n));
                    snd_mixer_poll_descriptors(handle_, fds.data() + 1, static_cast<unsigned>(n));
                }
            }
            if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
            if (fds[0].revents & POLLIN) return;
            {
                std::lock_guard lock(alsa_);
                snd_mixer_handle_events(handle_);
            }
            Rebuild();
        }
    }

    void Rebuild() {
        MixerModel m;
        {
            std::lock_guard lock(alsa_);
            m = Build();
        }
        replaceModel(std::move(m));
    }

    // Under alsa_.
    MixerModel Build() {
        elements_.clear();
        switched_.clear();
        mux_ = nullptr;
        MixerModel m = RecordingModel(product_);
        ModelControl switches;
        switches.id = kSwitchesId;
        switches.type = MIXERCONTROL_CONTROLTYPE_MIXER;
        switches.name = "Capture Switches";
        switches.maximum = 1;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(handle_); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e)) continue;
            if (IsCaptureSourceEnum(e)) {
                if (!mux_) mux_ = e;
                continue;
            }
            const bool volume = snd_mixer_selem_has_capture_volume(e);
            const bool capture = snd_mixer_selem_has_capture_switch(e);
            if (!volume && !capture) continue;
            const auto index = static_cast<DWORD>(elements_.size());
            elements_.push_back(e);
            ModelLine line;
            line.id = kLineBase + index;
            line.componentType = MIXERLINE_COMPONENTTYPE_SRC_LINE;
            line.name = ElementName(e);
            const auto channels = CaptureChannels(e);
            if (volume) {
                long low = 0, high = 0;
                snd_mixer_selem_get_capture_volume_range(e, &low, &high);
                std::vector<DWORD> values;
                for (auto ch : channels) {
                    long raw = low;
                    snd_mixer_selem_get_capture_volume(e, ch, &raw);
                    const long span = std::max(high - low, 1L);
                    values.push_back(static_cast<DWORD>(
                        (static_cast<std::int64_t>(std::clamp(raw, low, high) - low) *
                             kMixerMaximum +
                         span / 2) /
                        span));
                }
                line.controls.push_back(VolumeControl(index, std::move(values)));
            }
            if (capture) {
                int on = 0;
                for (auto ch : channels) {
                    int v = 0;
                    snd_mixer_selem_get_capture_switch(e, ch, &v);
                    on |= v;
                }
                line.controls.push_back(MuteControl(index, !on));
                switched_.push_back(e);
                switches.items.push_back(line.name);
                switches.itemLineIds.push_back(line.id);
                switches.values.push_back(on ? 1 : 0);
            }
            m.sources.push_back(std::move(line));
        }
        if (mux_) {
            ModelControl c;
            c.id = kMuxId;
            c.type = MIXERCONTROL_CONTROLTYPE_MUX;
            c.name = snd_mixer_selem_get_name(mux_);
            c.maximum = 1;
            unsigned current = 0;
            snd_mixer_selem_get_enum_item(mux_, SND_MIXER_SCHN_FRONT_LEFT, &current);
            const int items = std::max(snd_mixer_selem_get_enum_items(mux_), 0);
            for (int i = 0; i < items; ++i) {
                char text[MIXER_LONG_NAME_CHARS] = {};
                snd_mixer_selem_get_enum_item_name(mux_, static_cast<unsigned>(i), sizeof text,
                                                   text);
                c.items.push_back(text);
                DWORD lineId = 0;
                for (const ModelLine& l : m.sources)
                    if (l.name == text) lineId = l.id;
                c.itemLineIds.push_back(lineId);
                c.values.push_back(static_cast<unsigned>(i) == current ? 1 : 0);
            }
            m.destination.controls.push_back(c);
        }
        if (!switches.items.empty()) m.destination.controls.push_back(switches);
        return m;
    }

    const std::string product_;
    std::mutex alsa_;  // the mixer handle and the element tables
    snd_mixer_t* handle_ = nullptr;
    std::vector<snd_mixer_elem_t*> elements_;  // by source index
    std::vector<snd_mixer_elem_t*> switched_;  // by item of the switches
    snd_mixer_elem_t* mux_ = nullptr;
    int wake_ = -1;
    std::thread thread_;
};

}  // namespace

std::vector<int> AlsaCards() {
    std::vector<int> cards;
    for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) cards.push_back(card);
    return cards;
}

std::string AlsaCardName(int card) {
    char* name = nullptr;
    if (snd_card_get_name(card, &name) < 0 || !name) return "Sound card " + std::to_string(card);
    std::string result = name;
    std::free(name);
    return result;
}

std::unique_ptr<MixerDevice> OpenAlsaMixer(const std::string& ctlName, const std::string& product,
                                           std::string& error) {
    auto device = std::make_unique<AlsaMixerDevice>(product);
    if (!device->start(ctlName, error)) return nullptr;
    return device;
}

}  // namespace velmora::platform::mixer
