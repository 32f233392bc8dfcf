#pragma once
// The PCM format catalogue, format names, byte/duration arithmetic and what
// the audio classes share: exceptions, event types, the wait helper and the
// reporter for exceptions that escape a notification handler.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/wavein/WaveInApi.h"

namespace velmora::audio {

using platform::PCMWAVEFORMAT;
using platform::PWaveFormatEx;
using platform::WAVEFORMATEX;
static_assert(sizeof(WAVEFORMATEX) == 18);

// Catalogue order: rate, then depth (8 before 16), then mono before stereo.
// The settings store a value minus one. The odd capital B of value 1 is the
// historical name and stays.
enum TPCMFormat : std::uint8_t {
    nonePCM,
    Mono8Bit8000Hz,
    Stereo8bit8000Hz,
    Mono16bit8000Hz,
    Stereo16bit8000Hz,
    Mono8bit11025Hz,
    Stereo8bit11025Hz,
    Mono16bit11025Hz,
    Stereo16bit11025Hz,
    Mono8bit22050Hz,
    Stereo8bit22050Hz,
    Mono16bit22050Hz,
    Stereo16bit22050Hz,
    Mono8bit44100Hz,
    Stereo8bit44100Hz,
    Mono16bit44100Hz,
    Stereo16bit44100Hz,
    Mono8bit48000Hz,
    Stereo8bit48000Hz,
    Mono16bit48000Hz,
    Stereo16bit48000Hz,
};
inline constexpr int PCMFormatCount = 20;

// The enumerator's name ("Mono16bit8000Hz"); empty outside 0..20.
std::string PCMFormatName(TPCMFormat format);

// a * b / c with a 64-bit intermediate, rounded to nearest, halves away from
// zero; -1 when c is 0.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

// Writes all 18 bytes for values 1..20 (after masking to the low 7 bits);
// leaves the record untouched for any other value.
void FillPCMFormat(WAVEFORMATEX& record, unsigned value);

// "PCM: 8.000 kHz, 16 Bit, Mono"; the decimal separator is the locale's.
std::string DescribeWaveFormat(const WAVEFORMATEX& record);
std::string WaveFormatTagName(std::uint16_t tag);
// "Mono", "Stereo" for 1 and 2 channels, else empty.
std::string ChannelName(unsigned channels);

// Bytes of one buffer of `ms`: whole sample frames, rounded up.
std::uint32_t BufferSizeForDuration(const PCMWAVEFORMAT& format, std::uint32_t ms);
std::uint32_t BufferSizeForDuration(const WAVEFORMATEX& format, std::uint32_t ms);
// Bytes of `ms`, whole frames rounded down.
std::uint32_t BytesForDuration(const WAVEFORMATEX& format, std::uint32_t ms);
std::uint32_t DurationForBytes(const WAVEFORMATEX& format, std::uint32_t bytes);

// Peak level of PCM samples in percent (8 and 16 bits), -1 for other sizes,
// 0 for no bytes.
int GetWaveAudioPeakLevel(const void* data, std::uint32_t count, unsigned bitsPerSample);

// Scales PCM samples (8 and 16 bits; other sizes are left alone) in place by
// a volume in percent on the desktop's scale (VolumeFactor: 50 % is about
// -18 dB). 100 and above leave the samples as they are, 0 makes silence.
void ScaleWaveAudio(void* data, std::uint32_t count, unsigned bitsPerSample, int percent);

class EWaveAudioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};
class EWaveAudioSysError : public EWaveAudioError {
  public:
    using EWaveAudioError::EWaveAudioError;
};
class EWaveAudioInvalidOperation : public EWaveAudioError {
  public:
    using EWaveAudioError::EWaveAudioError;
};

class TWaveAudioIO;
using TWaveAudioEvent = std::function<void(TWaveAudioIO* Sender)>;
using TWaveAudioLevelEvent = std::function<void(TWaveAudioIO* Sender, std::int32_t Level)>;
using TWaveAudioGetFormatEvent =
    std::function<void(TWaveAudioIO* Sender, PWaveFormatEx& pWaveFormat, bool& FreeIt)>;
using TWaveAudioDataEvent =
    std::function<void(TWaveAudioIO* Sender, const void* Data, std::uint32_t Count)>;

// Where exceptions that escape a notification handler go (the application's
// exception message box in the program, a recorder in tests). Unset: stderr.
using TExceptionReporter = std::function<void(const std::exception&)>;
void SetWaveExceptionReporter(TExceptionReporter reporter);
void ReportWaveException(const std::exception& error);

// A manual-reset event.
class TWaveEvent {
  public:
    void Set();
    void Reset();
    bool IsSet() const;
    // False on timeout.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;
inline constexpr std::uint32_t WAIT_OBJECT_0 = 0;
inline constexpr std::uint32_t WAIT_TIMEOUT = 258;
inline constexpr std::uint32_t WAIT_FAILED = 0xFFFFFFFFu;

// Waits until the event is set or the timeout (ms, INFINITE) passes. Only the
// callback threads own message queues here, and they never wait, so unlike its
// Windows ancestor it has no calling-thread messages to dispatch meanwhile.
std::uint32_t MessageWait(TWaveEvent* handle, std::uint32_t timeout);

}  // namespace velmora::audio
