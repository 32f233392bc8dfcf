// The mixer of a PulseAudio server (PipeWire's included): one destination
// "Recording" whose sources are the server's sources, monitors of the outputs
// among them, so what the computer plays can be recorded. Its multiplexer
// chooses the source our own recordings take (the wave mapper's source); the
// desktop's default input is left as the user set it. Each source has its
// volume (0..65535 for the server's 0..100 %) and mute.
//
// A threaded main loop follows the server's source and server events and
// rebuilds the snapshot after each, which announces what changed.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>

#include "platform/mixer/MixerDevice.h"
#include "platform/wavein/CaptureBackend.h"

namespace velmora::platform::mixer {
namespace {

constexpr auto kAnswerTimeout = std::chrono::seconds(3);

DWORD ToMixer(pa_volume_t v) {
    const std::uint64_t clamped = std::min<pa_volume_t>(v, PA_VOLUME_NORM);
    return static_cast<DWORD>((clamped * kMixerMaximum + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM);
}

pa_volume_t ToPulse(DWORD v) {
    return static_cast<pa_volume_t>(
        (static_cast<std::uint64_t>(v) * PA_VOLUME_NORM + kMixerMaximum / 2) / kMixerMaximum);
}

struct Source {
    std::uint32_t index = 0;
    std::string name, description;
    pa_cvolume volume{};
    bool mute = false;
    bool monitor = false;
    std::string monitorOf;  // the sink's name, for a monitor
};

// The server's defaults as the mixer shows them: its default source unless
// that is a monitor, else the first source that is none; and the monitor of
// its default sink.
struct Defaults {
    std::string source, sink;
};

class PulseMixerDevice final : public MixerDevice {
  public:
    ~PulseMixerDevice() override {
        if (!loop_) return;
        setCallback(nullptr);
        pa_threaded_mainloop_stop(loop_);
        if (ctx_) {
            pa_context_disconnect(ctx_);
            pa_context_unref(ctx_);
        }
        pa_threaded_mainloop_free(loop_);
    }

    bool start(std::string& error) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Velmora mixer");
        if (!ctx_) return false;
        pa_context_set_state_callback(ctx_, &PulseMixerDevice::OnState, this);
        pa_context_set_subscribe_callback(ctx_, &PulseMixerDevice::OnEvent, this);
        if (pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(loop_) < 0) {
            error = "no sound server";
            return false;
        }
        std::unique_lock lock(mutex_);
        if (!answered_.wait_for(lock, kAnswerTimeout, [this] { return loaded_ || failed_; }) ||
            failed_) {
            error = "the sound server does not answer";
            return false;
        }
        return true;
    }

    MMRESULT apply(const ModelControl& control, const std::vector<DWORD>& values) override {
        if (control.type == MIXERCONTROL_CONTROLTYPE_MUX) return Choose(control, values);
        const std::uint32_t index = control.id & kIndexMask;
        Source source;
        if (!Find(index, source)) return MIXERR_INVALCONTROL;
        pa_operation* op = nullptr;
        pa_threaded_mainloop_lock(loop_);
        if (control.type == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            pa_cvolume volume = source.volume;
            for (std::uint8_t c = 0; c < volume.channels; ++c)
                volume.values[c] = ToPulse(values[c < values.size() ? c : 0]);
            op = pa_context_set_source_volume_by_index(ctx_, index, &volume,
                                                       &PulseMixerDevice::OnDone, this);
        } else if (control.type == MIXERCONTROL_CONTROLTYPE_MUTE) {
            op = pa_context_set_source_mute_by_index(ctx_, index, values.at(0) ? 1 : 0,
                                                     &PulseMixerDevice::OnDone, this);
        }
        pa_threaded_mainloop_unlock(loop_);
        if (!op) return MMSYSERR_NOTSUPPORTED;
        const bool done = AwaitDone(op);
        // The server's change event brings the new values into the snapshot
        // soon; until then the written values stand there.
        if (done)
            Update([&](MixerModel& m) {
                if (ModelControl* c = m.controlById(control.id))
                    for (std::size_t i = 0; i < c->values.size(); ++i)
                        c->values[i] = values[i < values.size() ? i : 0];
            });
        return done ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
    }

  private:
    static void OnState(pa_context* c, void* self) {
        auto* d = static_cast<PulseMixerDevice*>(self);
        const pa_context_state_t s = pa_context_get_state(c);
        if (s == PA_CONTEXT_READY) {
            pa_operation_unref(pa_context_subscribe(
                c,
                static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                    PA_SUBSCRIPTION_MASK_SERVER),
                nullptr, nullptr));
            d->Refresh();
        } else if (!PA_CONTEXT_IS_GOOD(s)) {
            // The server went away: no sources any more.
            {
                std::lock_guard lock(d->mutex_);
                d->sources_.clear();
            }
            d->replaceModel(d->Build({}, {}));
            std::lock_guard lock(d->mutex_);
            d->failed_ = true;
            d->answered_.notify_all();
        }
    }

    static void OnEvent(pa_context*, pa_subscription_event_type_t, std::uint32_t, void* self) {
        static_cast<PulseMixerDevice*>(self)->Refresh();
    }

    // Main loop thread. Events that come while a refresh runs ask for one more.
    void Refresh() {
        if (refreshing_) {
            refreshAgain_ = true;
            return;
        }
        refreshing_ = true;
        refreshAgain_ = false;
        incoming_.clear();
        pa_operation_unref(pa_context_get_server_info(ctx_, &PulseMixerDevice::OnServer, this));
        pa_operation_unref(
            pa_context_get_source_info_list(ctx_, &PulseMixerDevice::OnSource, this));
    }

    static void OnServer(pa_context*, const pa_server_info* info, void* self) {
        auto* d = static_cast<PulseMixerDevice*>(self);
        d->incomingDefault_ = info && info->default_source_name ? info->default_source_name : "";
        d->incomingSink_ = info && info->default_sink_name ? info->default_sink_name : "";
    }

    static void OnSource(pa_context*, const pa_source_info* info, int eol, void* self) {
        auto* d = static_cast<PulseMixerDevice*>(self);
        if (eol == 0 && info) {
            Source s;
            s.index = info->index;
            s.name = info->name ? info->name : "";
            s.description = info->description && *info->description ? info->description : s.name;
            s.volume = info->volume;
            s.mute = info->mute != 0;
            s.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
            if (s.monitor && info->monitor_of_sink_name) s.monitorOf = info->monitor_of_sink_name;
            d->incoming_.push_back(std::move(s));
            return;
        }
        d->refreshing_ = false;
        {
            std::lock_guard lock(d->mutex_);
            d->sources_ = d->incoming_;
            d->default_ = d->incomingDefault_;
            d->defaultSink_ = d->incomingSink_;
        }
        d->replaceModel(d->Build(d->incoming_, {d->incomingDefault_, d->incomingSink_}));
        {
            std::lock_guard lock(d->mutex_);
            d->loaded_ = true;
            d->answered_.notify_all();
        }
        if (d->refreshAgain_) d->Refresh();
    }

    static void OnDone(pa_context*, int success, void* self) {
        auto* d = static_cast<PulseMixerDevice*>(self);
        std::lock_guard lock(d->mutex_);
        d->lastSuccess_ = success != 0;
        d->answered_.notify_all();
    }

    bool AwaitDone(pa_operation* op) {
        const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
        bool done = false;
        for (;;) {
            pa_threaded_mainloop_lock(loop_);
            const pa_operation_state_t s = pa_operation_get_state(op);
            pa_threaded_mainloop_unlock(loop_);
            if (s != PA_OPERATION_RUNNING) {
                done = s == PA_OPERATION_DONE;
                break;
            }
            std::unique_lock lock(mutex_);
            if (failed_ || std::chrono::steady_clock::now() > deadline) break;
            answered_.wait_for(lock, std::chrono::milliseconds(20));
        }
        pa_threaded_mainloop_lock(loop_);
        if (!done) pa_operation_cancel(op);
        pa_operation_unref(op);
        pa_threaded_mainloop_unlock(loop_);
        std::lock_guard lock(mutex_);
        return done && lastSuccess_;
    }

    bool Find(std::uint32_t index, Source& found) {
        std::lock_guard lock(mutex_);
        for (const Source& s : sources_)
            if (s.index == index) {
                found = s;
                return true;
            }
        return false;
    }

    // The multiplexer's item: our recordings take that source from now on.
    MMRESULT Choose(const ModelControl& mux, const std::vector<DWORD>& values) {
        // The item names its source by index, whatever came or went since.
        const auto item =
            static_cast<std::size_t>(std::find(values.begin(), values.end(), 1u) - values.begin());
        if (item >= mux.itemLineIds.size()) return MIXERR_INVALVALUE;
        std::vector<Source> sources;
        Defaults fallback;
        {
            std::lock_guard lock(mutex_);
            sources = sources_;
            fallback = {default_, defaultSink_};
        }
        const auto chosen = std::find_if(sources.begin(), sources.end(), [&](const Source& s) {
            return s.index == mux.itemLineIds[item];
        });
        if (chosen == sources.end()) return MIXERR_INVALVALUE;
        waveInSetMapperSource(chosen->name);
        replaceModel(Build(sources, fallback));
        return MMSYSERR_NOERROR;
    }

    template <typename Change>
    void Update(Change change) {
        MixerModel next = snapshot();
        change(next);
        replaceModel(std::move(next));
    }

    MixerModel Build(const std::vector<Source>& sources, const Defaults& defaults) const {
        const std::string& defaultSource = defaults.source;
        MixerModel m = RecordingModel("PulseAudio");
        for (const Source& s : sources) {
            if (s.name == defaultSource && !s.monitor) m.defaultMicrophone = s.name;
            if (s.monitor && !defaults.sink.empty() && s.monitorOf == defaults.sink)
                m.defaultOutputMonitor = s.name;
        }
        if (m.defaultMicrophone.empty())
            for (const Source& s : sources)
                if (!s.monitor) {
                    m.defaultMicrophone = s.name;
                    break;
                }
        std::vector<std::string> descriptions, keys;
        for (const Source& s : sources) {
            descriptions.push_back(s.description);
            keys.push_back(s.name);
        }
        const std::vector<std::string> names = UniqueLineNames(descriptions, keys);
        // What our recordings take: the chosen source while it exists, else
        // the server's default.
        const std::string chosen = waveInMapperSource();
        const bool chosenPresent =
            std::any_of(sources.begin(), sources.end(),
                        [&](const Source& s) { return !chosen.empty() && s.name == chosen; });
        const std::string& recorded = chosenPresent ? chosen : defaultSource;

        ModelControl mux;
        mux.id = kMuxId;
        mux.type = MIXERCONTROL_CONTROLTYPE_MUX;
        mux.name = "Recording Source";
        mux.maximum = 1;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const Source& s = sources[i];
            mux.items.push_back(names[i]);
            mux.itemLineIds.push_back(s.index);
            mux.values.push_back(s.name == recorded ? 1 : 0);

            ModelLine line;
            line.id = s.index;
            line.componentType = s.monitor ? MIXERLINE_COMPONENTTYPE_SRC_ANALOG
                                           : MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
            line.name = names[i];
            line.source = s.name;
            std::vector<DWORD> volume;
            for (std::uint8_t c = 0; c < s.volume.channels; ++c)
                volume.push_back(ToMixer(s.volume.values[c]));
            line.controls = {VolumeControl(s.index, std::move(volume)),
                             MuteControl(s.index, s.mute)};
            m.sources.push_back(std::move(line));
        }
        m.destination.controls = {mux};
        return m;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* ctx_ = nullptr;

    // Main loop thread only.
    bool refreshing_ = false, refreshAgain_ = false;
    std::vector<Source> incoming_;
    std::string incomingDefault_, incomingSink_;

    // Under mutex_.
    std::mutex mutex_;
    std::condition_variable answered_;
    std::vector<Source> sources_;
    std::string default_, defaultSink_;
    bool loaded_ = false, failed_ = false, lastSuccess_ = false;
};

}  // namespace

bool PulseMixerAvailable() {
    return wavein::pulseAvailable();
}

std::unique_ptr<MixerDevice> OpenPulseMixer(std::string& error) {
    auto device = std::make_unique<PulseMixerDevice>();
    if (!device->start(error)) return nullptr;
    return device;
}

}  // namespace velmora::platform::mixer
