#pragma once
// What the system mixer driver needs of a sound system: an open device that
// keeps a snapshot of its mixer up to date and carries writes to the sound
// system. The driver answers every query from the snapshot.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mixer/MixerModel.h"

namespace velmora::platform {

struct MixerDevice {
    virtual ~MixerDevice() = default;

    mixer::MixerModel snapshot() {
        std::lock_guard lock(mutex_);
        return model_;
    }
    // Carries a checked write to the sound system; the snapshot follows.
    virtual MMRESULT apply(const mixer::ModelControl& control,
                           const std::vector<DWORD>& values) = 0;

    void setCallback(MixerCallback callback) {
        std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }

  protected:
    // Installs the next snapshot and announces what changed, outside the lock.
    void replaceModel(mixer::MixerModel next) {
        std::vector<std::pair<UINT, DWORD>> changes;
        MixerCallback callback;
        {
            std::lock_guard lock(mutex_);
            changes = mixer::ModelChanges(model_, next);
            model_ = std::move(next);
            callback = callback_;
        }
        if (callback)
            for (const auto& [message, id] : changes) callback(message, this, id);
    }

  private:
    std::mutex mutex_;
    mixer::MixerModel model_;
    MixerCallback callback_;
};

namespace mixer {

// PulseAudio (also PipeWire's server): one device.
bool PulseMixerAvailable();
std::unique_ptr<MixerDevice> OpenPulseMixer(std::string& error);

// ALSA's simple mixer: one device per sound card, or one on a named control
// device ("hw:0", "pulse").
std::vector<int> AlsaCards();
std::string AlsaCardName(int card);
std::unique_ptr<MixerDevice> OpenAlsaMixer(const std::string& ctlName, const std::string& product,
                                           std::string& error);

}  // namespace mixer
}  // namespace velmora::platform
