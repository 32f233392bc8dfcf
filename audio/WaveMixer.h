#pragma once
// The input mixer: TAudioMixer opens one mixer device and shows one of its
// destinations (the recording destination) as Master, with one
// TAudioMixerLine per source feeding it. A line reads and sets its volume in
// percent; Master tells and sets which source is chosen for recording.
// Sources and selector items are matched by name, not by position.
//
// Used on the thread that creates the mixer (the UI thread); the device's
// change messages reach that thread through its event loop. Failures are
// results (-1) or nothing done; nothing is thrown.

#include <QObject>
#include <QPointer>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/mixer/MixerApi.h"

namespace velmora::audio {

enum TMixerControlType { mcVolume, mcMute, mcSelect, mcMix };
inline constexpr int MixerControlTypeCount = 4;

// Which of the four controls a line has, indexed by TMixerControlType.
using TMixerControlSet = std::bitset<MixerControlTypeCount>;

class TAudioMixer;
class TAudioMixerLine;

using TMixerLineNotifyEvent = std::function<void(TAudioMixer* Sender, TAudioMixerLine* MixerLine)>;
using TMixerControlNotifyEvent = std::function<void(TAudioMixer* Sender, TAudioMixerLine* MixerLine,
                                                    TMixerControlType ControlType)>;

class TAudioMixerLine {
  public:
    TAudioMixerLine(TAudioMixer* mixer, std::int32_t sourceIndex);

    std::int32_t SourceIndex() const { return sourceIndex_; }
    TAudioMixer* Mixer() const { return mixer_; }
    const platform::MIXERLINE& LineInfo() const { return lineInfo_; }
    TMixerControlSet ControlSet() const { return controlSet_; }
    bool Has(TMixerControlType kind) const { return controlSet_.test(kind); }
    const platform::MIXERCONTROL& ControlInfo(TMixerControlType kind) const {
        return controlInfo_[kind];
    }
    std::string Name() const;
    // The sound server's name of the source this line is, or empty where
    // the lines are no server's sources.
    std::string SourceName() const;

    // Percent 0..100, or -1.
    std::int32_t GetVolume();
    void SetVolume(std::int32_t percent);
    // On the destination line: the chosen source's number, or -1.
    std::int32_t GetSelectedSource();
    void SelectSource(std::int32_t source);

  private:
    friend class TAudioMixer;
    void Initialise(std::int32_t sourceIndex);
    // Re-reads one control (its item count may change with the sources).
    void RefreshControl(TMixerControlType kind);
    bool SelectionControl(TMixerControlType& kind) const;
    bool ReadListTexts(TMixerControlType kind, std::vector<std::string>& names);
    std::int32_t ItemToSource(TMixerControlType kind, std::int32_t item);
    std::int32_t SourceToItem(TMixerControlType kind, std::int32_t source);

    TAudioMixer* mixer_;
    std::int32_t sourceIndex_ = -1;
    platform::MIXERLINE lineInfo_{};
    TMixerControlSet controlSet_;
    platform::MIXERCONTROL controlInfo_[MixerControlTypeCount]{};
};

class TAudioMixer {
  public:
    // Opens device 0, destination 0. driver: null for the system's.
    explicit TAudioMixer(platform::MixerDriver* driver = nullptr);
    ~TAudioMixer();
    TAudioMixer(const TAudioMixer&) = delete;
    TAudioMixer& operator=(const TAudioMixer&) = delete;

    // Published properties.
    std::uint32_t MixerID() const { return mixerId_; }
    void SetMixerID(std::uint32_t value);
    std::string MixerName() const;
    void SetMixerName(const std::string& value);
    std::uint32_t DestinationID() const { return destinationId_; }
    void SetDestinationID(std::uint32_t value);
    std::string DestinationName() const { return master_->Name(); }
    void SetDestinationName(const std::string& value);
    TMixerLineNotifyEvent OnLineChange;
    TMixerControlNotifyEvent OnControlChange;

    std::uint16_t DeviceCount();
    std::uint16_t DestinationCount() const;
    std::uint16_t LineCount() const;
    TAudioMixerLine& Master() { return *master_; }
    const std::vector<std::unique_ptr<TAudioMixerLine>>& Lines() const { return lines_; }
    TAudioMixerLine* Line(std::size_t index) const {
        return index < lines_.size() ? lines_[index].get() : nullptr;
    }
    // The server's default microphone and its default output's monitor by
    // their source names; false where the mixer is no server's.
    bool DefaultSources(std::string& microphone, std::string& outputMonitor) const;
    // Append the names in device or destination order; return how many.
    int GetDeviceNames(std::vector<std::string>& names);
    int GetDestinationNames(std::vector<std::string>& names);

    platform::HMIXER Handle() const { return handle_; }
    platform::MixerDriver& Driver() const { return *driver_; }

    // The notification window's message handling: true (answered with 0)
    // for the two change messages of the own device, false otherwise.
    bool HandleMixerMessage(std::uint32_t message, platform::HMIXER device, std::uint32_t id);

  private:
    void Reopen(bool keepDevice);
    void CloseDevice();

    platform::MixerDriver* driver_;
    std::uint32_t mixerId_ = 0;
    platform::HMIXER handle_ = nullptr;
    platform::MIXERCAPS caps_{};
    std::uint32_t destinationId_ = 0;
    std::unique_ptr<TAudioMixerLine> master_;
    std::vector<std::unique_ptr<TAudioMixerLine>> lines_;
    // The hidden window: lives on the creating thread, which receives the
    // driver's messages through it.
    std::unique_ptr<QObject> window_;
};

}  // namespace velmora::audio
