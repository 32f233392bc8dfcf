#include "audio/WaveIn.h"

#include <cstdlib>
#include <cstring>

namespace velmora::audio {

using namespace platform;

namespace {
constexpr UINT kHeaderSize = sizeof(WAVEHDR);

// Runs `body` and, whatever happens, `cleanup`.
template <typename Body, typename Cleanup>
auto guarded(Body body, Cleanup cleanup) {
    struct Guard {
        Cleanup& c;
        ~Guard() { c(); }
    } guard{cleanup};
    return body();
}
}  // namespace

TWaveAudioIn::~TWaveAudioIn() {
    Shutdown();
}

void TWaveAudioIn::SetPCMFormat(TPCMFormat value) {
    if (value == pcmFormat_) return;
    if (IsOpen())
        throw EWaveAudioInvalidOperation("Audio format cannot be changed while device is open");
    pcmFormat_ = value;
}

std::int64_t TWaveAudioIn::FirstSampleTime() {
    std::int64_t ns = -1;
    HWAVEIN h = handle_;
    if (h && Driver()->GetFirstSampleTime(h, &ns) != MMSYSERR_NOERROR) ns = -1;
    return ns;
}

bool TWaveAudioIn::CaptureReport(WaveInReport& report) {
    HWAVEIN h = handle_;
    return h && Driver()->GetCaptureReport(h, &report) == MMSYSERR_NOERROR;
}

bool TWaveAudioIn::PauseCapture(bool paused, std::int64_t steadyNs) {
    HWAVEIN h = handle_;
    return h && Driver()->SetCapturePause(h, paused, steadyNs) == MMSYSERR_NOERROR;
}

std::uint32_t TWaveAudioIn::DeviceCount() {
    return Driver()->GetNumDevs();
}

std::string TWaveAudioIn::DeviceName() {
    WAVEINCAPS caps{};
    if (Driver()->GetDevCaps(DeviceId(), &caps, sizeof caps) != MMSYSERR_NOERROR) return "";
    return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
}

std::set<TPCMFormat> TWaveAudioIn::DeviceFormats() {
    std::set<TPCMFormat> formats = {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz,
                                    Stereo16bit8000Hz};
    WAVEINCAPS caps{};
    if (Driver()->GetDevCaps(DeviceId(), &caps, sizeof caps) != MMSYSERR_NOERROR) return formats;
    // Flags 1M08..4S16 in catalogue order for 11025, 22050 and 44100 Hz.
    for (unsigned bit = 0; bit < 12; ++bit)
        if (caps.dwFormats & (1u << bit)) {
            const unsigned mono = bit % 2 == 0, sixteen = (bit / 2) % 2;
            formats.insert(
                static_cast<TPCMFormat>(5 + 4 * (bit / 4) + 2 * sixteen + (mono ? 0 : 1)));
        }
    return formats;
}

std::uint32_t TWaveAudioIn::Position() {
    HWAVEIN h = handle_;
    if (!h) return 0;
    MMTIME t{};
    t.wType = TIME_MS;
    if (Driver()->GetPosition(h, &t, sizeof t) != MMSYSERR_NOERROR) return 0;
    const auto& f = WaveFormat();
    switch (t.wType) {
        case TIME_MS:
            return t.u.ms;
        case TIME_SAMPLES:
            return f.nSamplesPerSec ? static_cast<std::uint32_t>(
                                          MulDiv(1000, static_cast<std::int32_t>(t.u.sample),
                                                 static_cast<std::int32_t>(f.nSamplesPerSec)))
                                    : 0;
        case TIME_BYTES:
            return f.nAvgBytesPerSec ? static_cast<std::uint32_t>(
                                           MulDiv(1000, static_cast<std::int32_t>(t.u.cb),
                                                  static_cast<std::int32_t>(f.nAvgBytesPerSec)))
                                     : 0;
        case TIME_SMPTE:
            return t.u.smpte.hour * 3600000u + t.u.smpte.min * 60000u + t.u.smpte.sec * 1000u;
        default:
            return 0;
    }
}

std::string TWaveAudioIn::GetErrorText(MMRESULT code) {
    char text[MAXERRORLENGTH] = {};
    if (Driver()->GetErrorText(code, text, sizeof text) != MMSYSERR_NOERROR) return "";
    return text;
}

void TWaveAudioIn::GetWaveFormat(PWaveFormatEx& record, bool& FreeIt) {
    if (pcmFormat_ != nonePCM) {
        FreeIt = true;
        record = static_cast<PWaveFormatEx>(std::calloc(1, sizeof(WAVEFORMATEX)));
        if (record) FillPCMFormat(*record, pcmFormat_);
    } else if (OnFormat) {
        OnFormat(this, record, FreeIt);
    }
}

MMRESULT TWaveAudioIn::ValidateDeviceId(std::uint32_t id) {
    WAVEINCAPS caps{};
    return Driver()->GetDevCaps(id, &caps, sizeof caps);
}

MMRESULT TWaveAudioIn::DriverOpen(HWAVEIN* handle, const WAVEFORMATEX* record, DWORD_PTR callback,
                                  DWORD flags) {
    if (!sourceName_.empty())
        return Driver()->OpenSource(handle, sourceName_, record, callback, 0, flags);
    return Driver()->Open(handle, DeviceId(), record, callback, 0, flags);
}

bool TWaveAudioIn::QueryFormat(const WAVEFORMATEX* record) {
    return DriverOpen(nullptr, record, 0, WAVE_FORMAT_QUERY) == MMSYSERR_NOERROR;
}

bool TWaveAudioIn::Open() {
    if (opening_) return false;
    // A close still pending after this long leaves the device active: the
    // open is refused below rather than waiting on a frozen sound system.
    if (closing_) WaitWhileClosing(std::chrono::seconds(10));
    if (GetActive()) throw EWaveAudioInvalidOperation("Device is aleardy open");
    LockDevice();
    opening_ = true;
    return guarded(
        [&] {
            PWaveFormatEx record = nullptr;
            bool freeIt = true;
            GetWaveFormat(record, freeIt);
            return guarded(
                [&] {
                    // No record (nonePCM without OnFormat) counts as a format
                    // the device refuses.
                    const MMRESULT query = record
                                               ? DriverOpen(nullptr, record, 0, WAVE_FORMAT_QUERY)
                                               : WAVERR_BADFORMAT;
                    if (!Success(query)) return false;
                    std::memcpy(&waveFormat_, record, sizeof waveFormat_);
                    CreateCallback();
                    try {
                        HWAVEIN h = nullptr;
                        const MMRESULT rc =
                            DriverOpen(&h, record, CallbackHandle(), CallbackKind());
                        if (rc == MMSYSERR_NOERROR) handle_ = h;
                        if (!Success(rc)) {
                            ReleaseCallback();
                            return false;
                        }
                    } catch (const std::exception& e) {
                        // The caller only sees false; the reason must not
                        // be lost on the way.
                        ReleaseCallback();
                        ReportError(e);
                        return false;
                    }
                    return true;
                },
                [&] {
                    if (freeIt) std::free(record);
                });
        },
        [&] {
            opening_ = false;
            NotifyStateChanged();
            UnlockDevice();
        });
}

void TWaveAudioIn::InOpened() {
    Activated();
    if (paused_) return;
    if (Success(Driver()->Start(handle_)))
        paused_ = false;
    else
        paused_ = true;  // reached only when an OnError handler took the error
}

void TWaveAudioIn::QueueInitialBuffers() {
    for (unsigned i = QueuedBufferCount(); i < BufferCount() && IsOpen() && !closing_; ++i) {
        PWaveHdr header = nullptr;
        try {
            if (!SetupHeader(header, BufferSize(), nullptr)) break;
            if (!AddBuffer(header)) {
                SetupHeader(header, 0, nullptr);
                break;
            }
        } catch (const std::exception&) {
            SetupHeader(header, 0, nullptr);
            break;
        }
    }
}

bool TWaveAudioIn::AddBuffer(PWaveHdr header) {
    const bool wasPrepared = header->dwFlags & WHDR_PREPARED;
    if (!wasPrepared && !Success(Driver()->PrepareHeader(handle_, header, kHeaderSize)))
        return false;
    try {
        if (Success(Driver()->AddBuffer(handle_, header, kHeaderSize))) return true;
    } catch (...) {
        if (!wasPrepared) Driver()->UnprepareHeader(handle_, header, kHeaderSize);
        throw;
    }
    if (!wasPrepared) Driver()->UnprepareHeader(handle_, header, kHeaderSize);
    return false;
}

bool TWaveAudioIn::AddExternalBuffer(char* data, std::uint32_t size, bool takeOwnership) {
    PWaveHdr header = nullptr;
    if (!SetupHeader(header, size, data)) return false;
    if (takeOwnership) header->dwUser = reinterpret_cast<DWORD_PTR>(this);
    if (AddBuffer(header)) return true;
    SetupHeader(header, 0, nullptr);
    return false;
}

void TWaveAudioIn::ProcessData(const void*, std::uint32_t, bool&) {}

void TWaveAudioIn::InData(PWaveHdr header) {
    try {
        try {
            bool requeued = false;
            if (header) {
                if (Success(Driver()->UnprepareHeader(handle_, header, kHeaderSize)) &&
                    header->dwBytesRecorded > 0) {
                    bool owned = true;
                    DoLevel(header->lpData, header->dwBytesRecorded);
                    DoData(header->lpData, header->dwBytesRecorded);
                    ProcessData(header->lpData, header->dwBytesRecorded, owned);
                    if (!owned) header->dwUser = 0;
                }
                // The count still includes this header.
                if (!closing_ && QueuedBufferCount() <= BufferCount() &&
                    SetupHeader(header, BufferSize(), nullptr) && AddBuffer(header))
                    requeued = true;
            }
            if (!requeued && header) SetupHeader(header, 0, nullptr);
        } catch (...) {
            if (header) {
                if (header->dwFlags & WHDR_PREPARED)
                    Driver()->UnprepareHeader(handle_, header, kHeaderSize);
                SetupHeader(header, 0, nullptr);
            }
            throw;
        }
    } catch (...) {
        if (closing_ && QueuedBufferCount() == 0) Success(Driver()->Close(handle_));
        throw;
    }
    if (closing_ && QueuedBufferCount() == 0) Success(Driver()->Close(handle_));
}

bool TWaveAudioIn::Close() {
    if (closing_) return false;
    if (opening_) WaitWhileOpening();
    if (!GetActive()) throw EWaveAudioInvalidOperation("Device is aleardy close");
    LockDevice();
    closing_ = true;
    return guarded(
        [&] {
            try {
                if (!Success(Driver()->Reset(handle_))) {
                    closing_ = false;
                    return false;
                }
                // The reset returned every queued buffer; the last of their
                // notifications closes the device.
                if (QueuedBufferCount() != 0) return true;
                return Success(Driver()->Close(handle_));
            } catch (const std::exception&) {
                closing_ = false;
                return false;
            }
        },
        [&] {
            NotifyStateChanged();
            UnlockDevice();
        });
}

void TWaveAudioIn::InClosed() {
    handle_ = nullptr;
    Deactivated();
}

bool TWaveAudioIn::Pause() {
    if (paused_) return false;
    std::lock_guard<std::recursive_mutex> lock(DeviceLock());
    if (IsOpen() && !Success(Driver()->Stop(handle_))) return false;
    paused_ = true;
    DoPause();
    return true;
}

bool TWaveAudioIn::Resume() {
    if (!paused_) return false;
    std::lock_guard<std::recursive_mutex> lock(DeviceLock());
    if (IsOpen() && !Success(Driver()->Start(handle_))) return false;
    paused_ = false;
    DoResume();
    return true;
}

}  // namespace velmora::audio
