#pragma once
// A wave-in driver for tests: one device whose clock the test advances.
// Captured bytes are a running counter (byte i of the stream is i & 0xFF),
// so a writer that loses or doubles bytes shows it. Any call can be told to
// fail with a chosen result.

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wavein/WaveInApi.h"

namespace velmora::test {

class FakeWaveDevice : public platform::WaveInDriver {
  public:
    enum class Call { Query, Open, Close, Prepare, Unprepare, AddBuffer, Start, Stop, Reset };

    // Makes the next `times` calls of that kind return `code`.
    void Fail(Call call, platform::MMRESULT code, int times = 1);
    // Delivers `bytes` captured bytes if the device runs.
    void Feed(std::uint32_t bytes);
    void Advance(std::uint32_t ms);  // Feed at the open format's byte rate
    // The device disappears: every buffer comes back, nothing more is taken.
    void Vanish();

    bool IsOpen() const;
    bool Started() const;
    std::size_t Queued() const;
    std::uint64_t Captured() const;
    std::vector<std::string> Log() const;  // "Open", "AddBuffer", ... in call order
    std::uint32_t Devices = 1;
    std::string Name = "Fake microphone";
    platform::DWORD Formats = platform::WAVE_FORMAT_1M16 | platform::WAVE_FORMAT_4S16;

    platform::UINT GetNumDevs() override { return Devices; }
    platform::MMRESULT GetDevCaps(platform::UINT id, platform::WAVEINCAPS* caps,
                                  platform::UINT size) override;
    platform::MMRESULT Open(platform::HWAVEIN* handle, platform::UINT id,
                            const platform::WAVEFORMATEX* format, platform::DWORD_PTR callback,
                            platform::DWORD_PTR instance, platform::DWORD flags) override;
    platform::MMRESULT Close(platform::HWAVEIN h) override;
    platform::MMRESULT PrepareHeader(platform::HWAVEIN h, platform::WAVEHDR* hdr,
                                     platform::UINT size) override;
    platform::MMRESULT UnprepareHeader(platform::HWAVEIN h, platform::WAVEHDR* hdr,
                                       platform::UINT size) override;
    platform::MMRESULT AddBuffer(platform::HWAVEIN h, platform::WAVEHDR* hdr,
                                 platform::UINT size) override;
    platform::MMRESULT Start(platform::HWAVEIN h) override;
    platform::MMRESULT Stop(platform::HWAVEIN h) override;
    platform::MMRESULT Reset(platform::HWAVEIN h) override;
    platform::MMRESULT GetPosition(platform::HWAVEIN h, platform::MMTIME* time,
                                   platform::UINT size) override;

  private:
    platform::MMRESULT scripted(Call call, const char* name);
    platform::HWAVEIN token() { return reinterpret_cast<platform::HWAVEIN>(&token_); }
    void giveBack(platform::WAVEHDR* h);

    mutable std::mutex mutex_;
    std::map<Call, std::pair<platform::MMRESULT, int>> failures_;
    std::vector<std::string> log_;
    std::deque<platform::WAVEHDR*> queue_;
    bool open_ = false, started_ = false, vanished_ = false;
    std::uint32_t callback_ = 0;
    platform::WAVEFORMATEX format_{};
    std::uint64_t captured_ = 0;
    int token_ = 0;
};

}  // namespace velmora::test
