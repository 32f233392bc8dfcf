#pragma once
// A wave-in driver with the calling conventions of the Windows multimedia
// waveIn interface, so the audio units keep their device logic unchanged:
// caller-owned buffers are handed over, filled by a capture thread in
// hand-over order and returned through MM_WIM_* messages posted to the
// callback thread's own message queue (ThreadMessages.h).
//
// The system driver captures from PulseAudio when a server answers, else from
// ALSA's "default" PCM, else it has no devices. Tests substitute their own
// WaveInDriver.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

using MMRESULT = std::uint32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using DWORD_PTR = std::uintptr_t;

struct WaveInDevice;  // opaque, owned by the driver
using HWAVEIN = WaveInDevice*;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
struct PCMWAVEFORMAT {  // the first 16 bytes of WAVEFORMATEX
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "wave format records are 18 bytes on disk");
static_assert(sizeof(PCMWAVEFORMAT) == 16);
using PWaveFormatEx = WAVEFORMATEX*;

// Natural alignment: pointers make it 48 bytes on 64-bit Linux (32 on Win32).
struct WAVEHDR {
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using PWaveHdr = WAVEHDR*;

struct WAVEINCAPS {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[32];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
};

struct SMPTE {
    std::uint8_t hour, min, sec, frame, fps, dummy, pad[2];
};
struct MMTIME {
    UINT wType;
    union {
        DWORD ms;
        DWORD sample;
        DWORD cb;
        DWORD ticks;
        SMPTE smpte;
    } u;
};

inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
inline constexpr WORD WAVE_FORMAT_PCM = 1;

// waveInOpen flags
inline constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
inline constexpr DWORD CALLBACK_NULL = 0x00000;
inline constexpr DWORD CALLBACK_WINDOW = 0x10000;
inline constexpr DWORD CALLBACK_THREAD = 0x20000;
inline constexpr DWORD CALLBACK_TYPEMASK = 0x70000;

// header flags
inline constexpr DWORD WHDR_DONE = 0x01;
inline constexpr DWORD WHDR_PREPARED = 0x02;
inline constexpr DWORD WHDR_INQUEUE = 0x10;

// messages
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT MM_WOM_OPEN = 0x3BB;
inline constexpr UINT MM_WOM_CLOSE = 0x3BC;
inline constexpr UINT MM_WOM_DONE = 0x3BD;
inline constexpr UINT MM_WIM_OPEN = 0x3BE;
inline constexpr UINT MM_WIM_CLOSE = 0x3BF;
inline constexpr UINT MM_WIM_DATA = 0x3C0;

// MMTIME types
inline constexpr UINT TIME_MS = 0x1;
inline constexpr UINT TIME_SAMPLES = 0x2;
inline constexpr UINT TIME_BYTES = 0x4;
inline constexpr UINT TIME_SMPTE = 0x8;

// WAVEINCAPS.dwFormats
inline constexpr DWORD WAVE_FORMAT_1M08 = 0x001, WAVE_FORMAT_1S08 = 0x002, WAVE_FORMAT_1M16 = 0x004,
                       WAVE_FORMAT_1S16 = 0x008, WAVE_FORMAT_2M08 = 0x010, WAVE_FORMAT_2S08 = 0x020,
                       WAVE_FORMAT_2M16 = 0x040, WAVE_FORMAT_2S16 = 0x080, WAVE_FORMAT_4M08 = 0x100,
                       WAVE_FORMAT_4S08 = 0x200, WAVE_FORMAT_4M16 = 0x400, WAVE_FORMAT_4S16 = 0x800;

// result codes
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
inline constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MMSYSERR_HANDLEBUSY = 12;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;
inline constexpr MMRESULT WAVERR_SYNC = 35;
inline constexpr UINT MAXERRORLENGTH = 256;

// Not in the Windows interface: what a driver did to keep the captured sound
// on the steady clock. Frames count the open format's sample frames.
struct StallSpan {
    std::uint64_t atFrame = 0;  // where in the captured sound the source stopped
    std::uint64_t frames = 0;   // silence that stands for the time it delivered nothing
};
struct WaveInReport {
    std::uint64_t holeFrames = 0;      // silence where sound was missing (stalls not included)
    std::uint64_t droppedFrames = 0;   // frames of bursts thrown away
    std::uint64_t addedFrames = 0;     // single frames repeated for slow drift
    std::uint64_t removedFrames = 0;   // single frames left out for slow drift
    std::uint64_t unqueuedFrames = 0;  // sound that came with no buffer queued, kept as silence
    std::uint32_t overruns = 0;        // times the source lost sound it could not say how much of
    std::vector<StallSpan> stalls;
};

// The calls, as an interface so tests can put a clocked fake in the place of
// the sound system. All return MMSYSERR_NOERROR (0) on success.
class WaveInDriver {
  public:
    virtual ~WaveInDriver() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT deviceId, WAVEINCAPS* caps, UINT size) = 0;
    // callback: the thread id of a message queue (ThreadMessages.h) with
    // CALLBACK_THREAD; ignored with CALLBACK_NULL. WAVE_FORMAT_QUERY asks
    // without opening and needs no handle.
    virtual MMRESULT Open(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format,
                          DWORD_PTR callback, DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT Close(HWAVEIN handle) = 0;
    virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT Start(HWAVEIN handle) = 0;
    virtual MMRESULT Stop(HWAVEIN handle) = 0;
    virtual MMRESULT Reset(HWAVEIN handle) = 0;
    virtual MMRESULT GetPosition(HWAVEIN handle, MMTIME* time, UINT size) = 0;
    virtual MMRESULT GetErrorText(MMRESULT code, char* text, UINT size);
    // Not in the Windows interface: when the first sample now being captured
    // was taken, in steady_clock nanoseconds, as the sound server reports it.
    // MMSYSERR_NOTSUPPORTED until the first data arrived.
    virtual MMRESULT GetFirstSampleTime(HWAVEIN handle, std::int64_t* steadyNs);
    // Not in the Windows interface: the corrections made so far.
    virtual MMRESULT GetCaptureReport(HWAVEIN handle, WaveInReport* report);
    // Not in the Windows interface: sound taken from steadyNs (steady_clock
    // nanoseconds) on is left out (paused) or kept again (not paused); the
    // time in between counts as none. Unlike waveInStop, capture goes on, so
    // the cut falls where the picture's does and no sound of the pause is
    // kept that was still on its way.
    virtual MMRESULT SetCapturePause(HWAVEIN handle, bool paused, std::int64_t steadyNs);
    // Not in the Windows interface: Open on the sound server's source of
    // this name (as the server knows it: "alsa_input.usb-...",
    // "speakers.monitor") in place of a device number, so that a second
    // input can be recorded beside the wave mapper's. MMSYSERR_NODRIVER when
    // the server has no such source now (or no server answers); an empty
    // name is the wave mapper.
    virtual MMRESULT OpenSource(HWAVEIN* handle, const std::string& source,
                                const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR instance,
                                DWORD flags);
};

// The driver on the machine's sound system (one per process).
WaveInDriver& systemWaveInDriver();

// Not in the Windows interface: whether the system driver keeps capture on
// the steady clock (on by default). Off, sound comes as the device counts it;
// measurements compare the two.
void waveInSetClockCorrection(bool on);

// Which source the wave mapper records: the sound server's name of the source
// chosen on the mixer, or empty for the server's default source. A chosen
// source that is gone when a device opens leaves the default in its place.
void waveInSetMapperSource(const std::string& name);
std::string waveInMapperSource();

// Our own texts for the result codes (the Windows ones are not available).
std::string waveInErrorText(MMRESULT code);

// The free functions of the Windows interface, on the system driver.
UINT waveInGetNumDevs();
MMRESULT waveInGetDevCaps(UINT deviceId, WAVEINCAPS* caps, UINT size);
MMRESULT waveInOpen(HWAVEIN* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags);
MMRESULT waveInClose(HWAVEIN handle);
MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size);
MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, UINT size);
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, UINT size);
MMRESULT waveInStart(HWAVEIN handle);
MMRESULT waveInStop(HWAVEIN handle);
MMRESULT waveInReset(HWAVEIN handle);
MMRESULT waveInGetPosition(HWAVEIN handle, MMTIME* time, UINT size);
MMRESULT waveInGetErrorText(MMRESULT code, char* text, UINT size);

}  // namespace velmora::platform
