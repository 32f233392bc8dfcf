#pragma once
// A mixer driver the tests describe control by control: devices with their
// destinations, source lines and controls (volume, mute, multiplexer,
// mixer-type). It records what is written and how often devices are opened
// and lines queried, and sends change messages when told to.

#include <string>
#include <utility>
#include <vector>

#include "platform/mixer/MixerApi.h"

namespace velmora::test {

using platform::DWORD;

struct FakeControl {
    DWORD id = 0;
    DWORD type = 0;
    DWORD maximum = 65535;
    DWORD value = 0;                 // volume, mute
    std::vector<std::string> items;  // selectors
    std::vector<DWORD> itemValues;   // selectors, one per item
    bool failReads = false;
};

struct FakeLine {
    DWORD id = 0;
    std::string name;
    std::vector<FakeControl> controls;
};

struct FakeDestination {
    FakeLine line;
    std::vector<FakeLine> sources;
};

struct FakeMixerDevice {
    std::string name;
    std::vector<FakeDestination> destinations;
};

class FakeMixer final : public platform::MixerDriver {
  public:
    std::vector<FakeMixerDevice> devices;

    // What happened.
    int opens = 0, closes = 0, lineQueries = 0;
    std::vector<std::pair<DWORD, std::vector<DWORD>>> writes;  // control id, values

    FakeControl* Control(DWORD id);
    // A change message for the open device (or another handle), as the
    // driver's thread would send it.
    void Notify(platform::UINT message, DWORD id);
    void NotifyFromOtherDevice(platform::UINT message, DWORD id);
    platform::HMIXER OpenHandle() const { return open_; }

    platform::UINT GetNumDevs() override;
    platform::MMRESULT GetDevCaps(platform::UINT id, platform::MIXERCAPS* caps,
                                  platform::UINT size) override;
    platform::MMRESULT Open(platform::HMIXER* mixer, platform::UINT id,
                            platform::MixerCallback callback) override;
    platform::MMRESULT Close(platform::HMIXER mixer) override;
    platform::MMRESULT GetLineInfo(platform::HMIXER mixer, platform::MIXERLINE* line,
                                   DWORD flags) override;
    platform::MMRESULT GetLineControls(platform::HMIXER mixer,
                                       platform::MIXERLINECONTROLS* controls, DWORD flags) override;
    platform::MMRESULT GetControlDetails(platform::HMIXER mixer,
                                         platform::MIXERCONTROLDETAILS* details,
                                         DWORD flags) override;
    platform::MMRESULT SetControlDetails(platform::HMIXER mixer,
                                         platform::MIXERCONTROLDETAILS* details,
                                         DWORD flags) override;

  private:
    FakeMixerDevice* Device(platform::HMIXER h);
    FakeLine* LineById(platform::HMIXER h, DWORD id);

    platform::HMIXER open_ = nullptr;
    std::size_t openDevice_ = 0;
    std::uintptr_t nextHandle_ = 0x100;
    platform::MixerCallback callback_;
};

// Building blocks for the tests' devices.
FakeControl Volume(DWORD id, DWORD value, DWORD maximum = 65535);
FakeControl Selector(DWORD id, DWORD type, std::vector<std::string> items,
                     std::vector<DWORD> values);

}  // namespace velmora::test
