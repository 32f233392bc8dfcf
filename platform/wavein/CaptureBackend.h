#pragma once
// What the wave-in driver needs of a sound system: a capture stream in one
// PCM format, started and stopped from the capture thread, read with a
// blocking call the device paces and another thread can interrupt.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/wavein/WaveInApi.h"

namespace velmora::platform::wavein {

class CaptureBackend {
  public:
    virtual ~CaptureBackend() = default;
    // Capture thread only.
    virtual bool setRunning(bool on, std::string& error) = 0;
    // Waits for captured bytes at most timeoutMs. Returns the bytes copied,
    // 0 when woken or timed out, -1 when the source failed or vanished.
    virtual long read(char* dst, std::size_t max, int timeoutMs, std::string& error) = 0;
    // Any thread: makes a waiting read return.
    virtual void wake() = 0;
    // steady_clock ns when the first byte the last read returned was taken, or -1.
    virtual std::int64_t lastReadCaptureTime() { return -1; }
    // Bytes the source reported missing since the last call, before the
    // bytes the last read returned.
    virtual std::uint64_t takeHoleBytes() { return 0; }
    // Times since the last call the source lost sound without saying how much.
    virtual std::uint32_t takeOverruns() { return 0; }
};

struct SourceInfo {
    std::string name;         // what the sound system opens
    std::string description;  // what users read
};

// PulseAudio (through its own socket; PipeWire answers the same protocol).
// Silent: a server holds the socket but does not answer (frozen). ALSA's
// "default" goes through that server then, so it is no way out either.
enum class SoundServer { Answers, Absent, Silent };
SoundServer pulseServer();
inline bool pulseAvailable() {
    return pulseServer() == SoundServer::Answers;
}
std::vector<SourceInfo> pulseSources();
// source empty: the server's default source.
std::unique_ptr<CaptureBackend> openPulse(const std::string& source, const WAVEFORMATEX& format,
                                          std::string& error, MMRESULT& code);

// ALSA "default" PCM, where no sound server answers.
bool alsaQuery(const WAVEFORMATEX& format, MMRESULT& code);
std::unique_ptr<CaptureBackend> openAlsa(const WAVEFORMATEX& format, std::string& error,
                                         MMRESULT& code);

std::int64_t steadyNowNs();

// The driver's logic (capture thread, buffer queue, clock correction) on
// backends the caller opens: one device, every format accepted.
using BackendOpener = std::function<std::unique_ptr<CaptureBackend>(const WAVEFORMATEX&)>;
std::unique_ptr<WaveInDriver> makeDriver(BackendOpener opener);

}  // namespace velmora::platform::wavein
