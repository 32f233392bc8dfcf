// The system wave-in driver: one capture thread per open device fills the
// queued buffers from the sound system in hand-over order and posts each
// full buffer back to the callback thread.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/wavein/CaptureBackend.h"
#include "platform/wavein/CaptureClock.h"
#include "platform/wavein/ThreadMessages.h"
#include "platform/wavein/WaveInApi.h"

namespace velmora::platform {

using wavein::CaptureBackend;

struct WaveInDevice {
    explicit WaveInDevice(const WAVEFORMATEX& f) : format(f), clock(f) {}
    ~WaveInDevice() {
        if (thread.joinable()) thread.detach();  // freed by its own thread's end
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::unique_ptr<CaptureBackend> backend;
    std::thread thread;
    DWORD callbackKind = CALLBACK_NULL;
    std::uint32_t callbackThread = 0;
    const WAVEFORMATEX format;
    std::deque<WAVEHDR*> queue;
    bool started = false;
    bool exiting = false;
    bool ended = false;  // the capture thread is done with the sound system
    bool failed = false;
    std::uint64_t bytesCaptured = 0;
    // Sound that came while no buffer was queued, owed as silence to the
    // next buffer: leaving it out would move all later sound earlier.
    std::uint64_t unqueuedBytes = 0;
    std::uint64_t unqueuedFrames = 0;  // all of it, for the report
    wavein::CaptureClock clock;
    std::vector<char> corrected;  // capture thread only

    void post(UINT message, WAVEHDR* header) {
        if (callbackKind == CALLBACK_THREAD)
            PostThreadMessage(callbackThread, message, reinterpret_cast<std::uintptr_t>(this),
                              reinterpret_cast<std::uintptr_t>(header));
    }

    // Caller holds the mutex.
    void giveBack(WAVEHDR* h) {
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        post(MM_WIM_DATA, h);
    }
    void giveBackAll() {
        while (!queue.empty()) {
            WAVEHDR* h = queue.front();
            queue.pop_front();
            giveBack(h);
        }
    }

    // Caller holds the mutex. Fills the queued buffers in order; silence
    // owed comes first.
    void fill(const char* data, std::size_t n, bool silence) {
        while (n > 0 && !queue.empty()) {
            WAVEHDR* h = queue.front();
            const std::size_t take =
                std::min<std::size_t>(n, h->dwBufferLength - h->dwBytesRecorded);
            if (silence)
                std::memset(h->lpData + h->dwBytesRecorded, format.wBitsPerSample == 8 ? 0x80 : 0,
                            take);
            else
                std::memcpy(h->lpData + h->dwBytesRecorded, data, take);
            h->dwBytesRecorded += static_cast<DWORD>(take);
            if (!silence) data += take;
            n -= take;
            if (h->dwBytesRecorded == h->dwBufferLength) {
                queue.pop_front();
                giveBack(h);
            }
        }
        if (n > 0) {
            unqueuedBytes += n;
            unqueuedFrames += n / format.nBlockAlign;
        }
    }
    void deliver(const std::vector<char>& bytes) {
        if (unqueuedBytes > 0 && !queue.empty()) {
            const std::uint64_t owed = unqueuedBytes;
            unqueuedBytes = 0;
            fill(nullptr, static_cast<std::size_t>(owed), true);
        }
        if (!bytes.empty()) fill(bytes.data(), bytes.size(), false);
    }

    void capture();
};

namespace {

// A running device that delivers nothing for this long has stalled.
constexpr auto kStallLimit = std::chrono::seconds(4);
constexpr int kReadSliceMs = 250;
// How long a close waits for the capture thread to let go of the sound
// system; a frozen server must not hold the caller longer.
constexpr auto kCloseLimit = std::chrono::seconds(3);

std::mutex& liveMutex() {
    static std::mutex m;
    return m;
}
// The open devices. Every call takes its own reference under the list's lock,
// so a close on another thread cannot free a device a call is still using.
std::map<WaveInDevice*, std::shared_ptr<WaveInDevice>>& live() {
    static std::map<WaveInDevice*, std::shared_ptr<WaveInDevice>> m;
    return m;
}
std::shared_ptr<WaveInDevice> find(HWAVEIN h) {
    std::lock_guard lock(liveMutex());
    const auto it = live().find(h);
    return it == live().end() ? nullptr : it->second;
}

std::atomic<bool> clockCorrection{true};

std::mutex& mapperMutex() {
    static std::mutex m;
    return m;
}
std::string& mapperSource() {
    static std::string name;
    return name;
}

// The source WAVE_MAPPER stands for: the one chosen on the mixer while the
// server still has it, else the server's default (empty).
std::string mappedSource() {
    const std::string chosen = waveInMapperSource();
    if (chosen.empty()) return {};
    for (const auto& s : wavein::pulseSources())
        if (s.name == chosen) return chosen;
    return {};
}

bool validPcm(const WAVEFORMATEX* f) {
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM) return false;
    if (f->nChannels < 1 || f->nChannels > 2) return false;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return false;
    if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return false;
    if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 192000) return false;
    return f->nAvgBytesPerSec == f->nBlockAlign * f->nSamplesPerSec;
}

class SystemDriver final : public WaveInDriver {
  public:
    SystemDriver() = default;
    explicit SystemDriver(wavein::BackendOpener opener) : opener_(std::move(opener)) {}

    UINT GetNumDevs() override {
        if (opener_) return 1;
        const auto server = wavein::pulseServer();
        if (server == wavein::SoundServer::Answers)
            return static_cast<UINT>(wavein::pulseSources().size());
        if (server == wavein::SoundServer::Silent) return 0;
        MMRESULT code;
        WAVEFORMATEX probe{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
        return wavein::alsaQuery(probe, code) ? 1 : 0;
    }

    MMRESULT GetDevCaps(UINT id, WAVEINCAPS* caps, UINT size) override {
        if (!caps || size < sizeof(WAVEINCAPS)) return MMSYSERR_INVALPARAM;
        std::string name;
        const auto server = wavein::pulseServer();
        if (server == wavein::SoundServer::Silent) return MMSYSERR_NODRIVER;
        if (server == wavein::SoundServer::Answers) {
            const auto sources = wavein::pulseSources();
            if (id == WAVE_MAPPER)
                name = "Default sound input";
            else if (id < sources.size())
                name = sources[id].description;
            else
                return MMSYSERR_BADDEVICEID;
        } else if ((id == 0 || id == WAVE_MAPPER) && GetNumDevs() == 1) {
            name = "ALSA default capture";
        } else {
            return MMSYSERR_BADDEVICEID;
        }
        std::memset(caps, 0, sizeof *caps);
        std::strncpy(caps->szPname, name.c_str(), sizeof caps->szPname - 1);
        caps->wChannels = 2;
        caps->dwFormats = 0xFFF;  // the sound servers resample every standard format
        return MMSYSERR_NOERROR;
    }

    MMRESULT Open(HWAVEIN* handle, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
                  DWORD_PTR, DWORD flags) override {
        const DWORD kind = flags & CALLBACK_TYPEMASK;
        if (kind != CALLBACK_NULL && kind != CALLBACK_THREAD) return MMSYSERR_INVALFLAG;
        if (!format) return MMSYSERR_INVALPARAM;
        if (!validPcm(format)) return WAVERR_BADFORMAT;
        if (opener_) {
            if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
            if (!handle) return MMSYSERR_INVALPARAM;
            auto backend = opener_(*format);
            if (!backend) return MMSYSERR_ALLOCATED;
            return start(handle, std::move(backend), *format, kind, callback);
        }

        std::string source;
        const auto server = wavein::pulseServer();
        if (server == wavein::SoundServer::Silent) return MMSYSERR_NODRIVER;
        const bool pulse = server == wavein::SoundServer::Answers;
        if (pulse && id == WAVE_MAPPER && !(flags & WAVE_FORMAT_QUERY)) {
            source = mappedSource();
        } else if (pulse && id != WAVE_MAPPER) {
            const auto sources = wavein::pulseSources();
            if (id >= sources.size()) return MMSYSERR_BADDEVICEID;
            source = sources[id].name;
        } else if (!pulse && id != WAVE_MAPPER && id != 0) {
            return MMSYSERR_BADDEVICEID;
        }
        MMRESULT code = MMSYSERR_NOERROR;
        if (flags & WAVE_FORMAT_QUERY) {
            if (pulse) return MMSYSERR_NOERROR;
            return wavein::alsaQuery(*format, code) ? MMSYSERR_NOERROR : code;
        }
        if (!handle) return MMSYSERR_INVALPARAM;

        std::string error;
        auto backend = pulse ? wavein::openPulse(source, *format, error, code)
                             : wavein::openAlsa(*format, error, code);
        if (!backend) return code ? code : MMSYSERR_ERROR;
        return start(handle, std::move(backend), *format, kind, callback);
    }

    MMRESULT OpenSource(HWAVEIN* handle, const std::string& source, const WAVEFORMATEX* format,
                        DWORD_PTR callback, DWORD_PTR instance, DWORD flags) override {
        if (source.empty() || opener_)
            return Open(handle, WAVE_MAPPER, format, callback, instance, flags);
        const DWORD kind = flags & CALLBACK_TYPEMASK;
        if (kind != CALLBACK_NULL && kind != CALLBACK_THREAD) return MMSYSERR_INVALFLAG;
        if (!format) return MMSYSERR_INVALPARAM;
        if (!validPcm(format)) return WAVERR_BADFORMAT;
        // Only a sound server has sources by name; ALSA's default has none.
        if (wavein::pulseServer() != wavein::SoundServer::Answers) return MMSYSERR_NODRIVER;
        const auto sources = wavein::pulseSources();
        if (std::none_of(sources.begin(), sources.end(),
                         [&](const wavein::SourceInfo& s) { return s.name == source; }))
            return MMSYSERR_NODRIVER;
        if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
        if (!handle) return MMSYSERR_INVALPARAM;
        MMRESULT code = MMSYSERR_NOERROR;
        std::string error;
        auto backend = wavein::openPulse(source, *format, error, code);
        if (!backend) return code ? code : MMSYSERR_ERROR;
        return start(handle, std::move(backend), *format, kind, callback);
    }

    MMRESULT start(HWAVEIN* handle, std::unique_ptr<CaptureBackend> backend,
                   const WAVEFORMATEX& format, DWORD kind, DWORD_PTR callback) {
        auto dev = std::make_shared<WaveInDevice>(format);
        dev->backend = std::move(backend);
        dev->callbackKind = kind;
        dev->callbackThread = static_cast<std::uint32_t>(callback);
        dev->clock.setCorrection(clockCorrection);
        if (kind == CALLBACK_THREAD &&
            !PostThreadMessage(dev->callbackThread, MM_WIM_OPEN,
                               reinterpret_cast<std::uintptr_t>(dev.get()), 0))
            return MMSYSERR_INVALPARAM;
        {
            std::lock_guard lock(liveMutex());
            live()[dev.get()] = dev;
        }
        // The thread holds its own reference: a close that gives up waiting
        // for it leaves the device to the thread, which frees it at its end.
        dev->thread = std::thread([dev] { dev->capture(); });
        *handle = dev.get();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Close(HWAVEIN handle) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        {
            std::unique_lock lock(h->mutex);
            if (!h->queue.empty()) return WAVERR_STILLPLAYING;
            if (h->exiting) return MMSYSERR_INVALHANDLE;  // another close is on it
            h->exiting = true;
            h->changed.notify_all();
            h->backend->wake();
            if (!h->changed.wait_for(lock, kCloseLimit, [&] { return h->ended; }))
                h->thread.detach();
        }
        if (h->thread.joinable()) h->thread.join();
        {
            std::lock_guard lock(liveMutex());
            live().erase(handle);
        }
        h->post(MM_WIM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

    MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* hdr, UINT size) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!hdr || size < sizeof(WAVEHDR) || !hdr->lpData) return MMSYSERR_INVALPARAM;
        hdr->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* hdr, UINT size) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!hdr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
        std::lock_guard lock(h->mutex);
        if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        hdr->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* hdr, UINT size) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!hdr || size < sizeof(WAVEHDR) || hdr->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
        if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        std::lock_guard lock(h->mutex);
        if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        if (h->failed) return MMSYSERR_NODRIVER;
        hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        hdr->dwBytesRecorded = 0;
        h->queue.push_back(hdr);
        return MMSYSERR_NOERROR;
    }

    MMRESULT Start(HWAVEIN handle) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        {
            std::lock_guard lock(h->mutex);
            if (h->failed) return MMSYSERR_NODRIVER;
            h->started = true;
        }
        h->changed.notify_all();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Stop(HWAVEIN handle) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        {
            std::lock_guard lock(h->mutex);
            h->started = false;
            // The buffer being filled comes back with what it holds; empty
            // ones stay queued for the next start.
            if (!h->queue.empty() && h->queue.front()->dwBytesRecorded > 0) {
                WAVEHDR* front = h->queue.front();
                h->queue.pop_front();
                h->giveBack(front);
            }
        }
        h->backend->wake();
        return MMSYSERR_NOERROR;
    }

    MMRESULT Reset(HWAVEIN handle) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        {
            std::lock_guard lock(h->mutex);
            h->started = false;
            h->giveBackAll();
        }
        h->backend->wake();
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetPosition(HWAVEIN handle, MMTIME* time, UINT size) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!time || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
        std::lock_guard lock(h->mutex);
        const std::uint64_t bytes = h->bytesCaptured;
        const WAVEFORMATEX& f = h->format;
        if (time->wType == TIME_MS) {
            time->u.ms = static_cast<DWORD>(bytes * 1000 / f.nAvgBytesPerSec);
        } else if (time->wType == TIME_SAMPLES) {
            time->u.sample = static_cast<DWORD>(bytes / f.nBlockAlign);
        } else {
            time->wType = TIME_BYTES;
            time->u.cb = static_cast<DWORD>(bytes);
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetFirstSampleTime(HWAVEIN handle, std::int64_t* ns) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!ns) return MMSYSERR_INVALPARAM;
        std::lock_guard lock(h->mutex);
        const std::int64_t first = h->clock.firstSampleNs();
        if (first < 0) return MMSYSERR_NOTSUPPORTED;
        *ns = first;
        return MMSYSERR_NOERROR;
    }

    MMRESULT GetCaptureReport(HWAVEIN handle, WaveInReport* report) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        if (!report) return MMSYSERR_INVALPARAM;
        std::lock_guard lock(h->mutex);
        *report = h->clock.counters();
        report->unqueuedFrames = h->unqueuedFrames;
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetCapturePause(HWAVEIN handle, bool paused, std::int64_t steadyNs) override {
        const auto h = find(handle);
        if (!h) return MMSYSERR_INVALHANDLE;
        std::lock_guard lock(h->mutex);
        if (paused)
            h->clock.pause(steadyNs);
        else
            h->clock.resume(steadyNs);
        return MMSYSERR_NOERROR;
    }

  private:
    wavein::BackendOpener opener_;
};

}  // namespace

void WaveInDevice::capture() {
    // Whole frames per read, about 20 ms of sound.
    const std::size_t frame = format.nBlockAlign ? format.nBlockAlign : 1;
    std::vector<char> chunk(std::max<std::size_t>(format.nAvgBytesPerSec / 50 / frame, 64) * frame);
    bool running = false;
    std::string error;
    for (;;) {
        bool want;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return exiting || (started && !failed) || running; });
            if (exiting) break;
            want = started && !failed;
        }
        if (want != running) {
            if (!backend->setRunning(want, error) && want) {
                std::lock_guard lock(mutex);
                failed = true;
                giveBackAll();
                continue;
            }
            running = want;
            if (!running) continue;
            std::lock_guard lock(mutex);
            clock.restart(wavein::steadyNowNs());
        }
        const long n = backend->read(chunk.data(), chunk.size(), kReadSliceMs, error);
        const std::uint64_t holeBytes = backend->takeHoleBytes();
        const std::uint32_t overruns = backend->takeOverruns();
        const std::int64_t now = wavein::steadyNowNs();
        std::lock_guard lock(mutex);
        if (n < 0) {
            // The source vanished: hand every buffer back now, and refuse new
            // ones, so the owner learns of it instead of waiting.
            failed = true;
            giveBackAll();
            continue;
        }
        if (!started) continue;
        corrected.clear();
        for (std::uint32_t i = 0; i < overruns; ++i) clock.overrun();
        if (holeBytes > 0) clock.hole(holeBytes, corrected);
        if (n > 0) {
            bytesCaptured += static_cast<std::uint64_t>(n);
            clock.take(chunk.data(), static_cast<std::size_t>(n), backend->lastReadCaptureTime(),
                       now, corrected);
        } else {
            // A source that delivers nothing for a while has stalled; its
            // time passes as silence until it delivers again.
            clock.idle(now, std::chrono::nanoseconds(kStallLimit).count(), corrected);
        }
        deliver(corrected);
        // The sound taken before a pause goes to its owner now, not when the
        // buffer fills after the resume: a crash in the pause keeps it.
        if (clock.pauseReached() && !queue.empty() && queue.front()->dwBytesRecorded > 0) {
            WAVEHDR* front = queue.front();
            queue.pop_front();
            giveBack(front);
        }
    }
    if (running) backend->setRunning(false, error);
    std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
}

MMRESULT WaveInDriver::GetErrorText(MMRESULT code, char* text, UINT size) {
    if (!text || size == 0) return MMSYSERR_INVALPARAM;
    const std::string t = waveInErrorText(code);
    if (t.empty()) return MMSYSERR_BADERRNUM;
    std::strncpy(text, t.c_str(), size - 1);
    text[size - 1] = '\0';
    return MMSYSERR_NOERROR;
}

MMRESULT WaveInDriver::GetFirstSampleTime(HWAVEIN, std::int64_t*) {
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT WaveInDriver::GetCaptureReport(HWAVEIN, WaveInReport*) {
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT WaveInDriver::SetCapturePause(HWAVEIN, bool, std::int64_t) {
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT WaveInDriver::OpenSource(HWAVEIN* handle, const std::string& source,
                                  const WAVEFORMATEX* format, DWORD_PTR callback,
                                  DWORD_PTR instance, DWORD flags) {
    // A driver without sources by name opens only the wave mapper.
    if (!source.empty()) return MMSYSERR_NODRIVER;
    return Open(handle, WAVE_MAPPER, format, callback, instance, flags);
}

void waveInSetClockCorrection(bool on) {
    clockCorrection = on;
}

void waveInSetMapperSource(const std::string& name) {
    std::lock_guard lock(mapperMutex());
    mapperSource() = name;
}

std::string waveInMapperSource() {
    std::lock_guard lock(mapperMutex());
    return mapperSource();
}

std::string waveInErrorText(MMRESULT code) {
    switch (code) {
        case MMSYSERR_NOERROR:
            return "The command completed successfully.";
        case MMSYSERR_ERROR:
            return "An unknown error occurred in the sound input.";
        case MMSYSERR_BADDEVICEID:
            return "The sound input device number is out of range.";
        case MMSYSERR_NOTENABLED:
            return "The sound input driver failed to start.";
        case MMSYSERR_ALLOCATED:
            return "The sound input is busy or could not be opened on the sound server.";
        case MMSYSERR_INVALHANDLE:
            return "The sound input handle is not valid.";
        case MMSYSERR_NODRIVER:
            return "No sound input is available: no sound server answers, the device was "
                   "removed, or it stopped delivering sound.";
        case MMSYSERR_NOMEM:
            return "There is not enough memory for the sound input buffers.";
        case MMSYSERR_NOTSUPPORTED:
            return "The sound input does not support this function.";
        case MMSYSERR_BADERRNUM:
            return "The error number is not known.";
        case MMSYSERR_INVALFLAG:
            return "An invalid flag was passed to the sound input.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to the sound input.";
        case MMSYSERR_HANDLEBUSY:
            return "The sound input is in use by another thread.";
        case WAVERR_BADFORMAT:
            return "The sound input does not support this audio format.";
        case WAVERR_STILLPLAYING:
            return "Buffers are still queued on the sound input.";
        case WAVERR_UNPREPARED:
            return "The buffer was not prepared for the sound input.";
        case WAVERR_SYNC:
            return "The sound input cannot be opened synchronously.";
        default:
            return "";
    }
}

WaveInDriver& systemWaveInDriver() {
    static SystemDriver driver;
    return driver;
}

std::unique_ptr<WaveInDriver> wavein::makeDriver(BackendOpener opener) {
    return std::make_unique<SystemDriver>(std::move(opener));
}

UINT waveInGetNumDevs() {
    return systemWaveInDriver().GetNumDevs();
}
MMRESULT waveInGetDevCaps(UINT id, WAVEINCAPS* caps, UINT size) {
    return systemWaveInDriver().GetDevCaps(id, caps, size);
}
MMRESULT waveInOpen(HWAVEIN* handle, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
                    DWORD_PTR instance, DWORD flags) {
    return systemWaveInDriver().Open(handle, id, format, callback, instance, flags);
}
MMRESULT waveInClose(HWAVEIN h) {
    return systemWaveInDriver().Close(h);
}
MMRESULT waveInPrepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size) {
    return systemWaveInDriver().PrepareHeader(h, hdr, size);
}
MMRESULT waveInUnprepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT size) {
    return systemWaveInDriver().UnprepareHeader(h, hdr, size);
}
MMRESULT waveInAddBuffer(HWAVEIN h, WAVEHDR* hdr, UINT size) {
    return systemWaveInDriver().AddBuffer(h, hdr, size);
}
MMRESULT waveInStart(HWAVEIN h) {
    return systemWaveInDriver().Start(h);
}
MMRESULT waveInStop(HWAVEIN h) {
    return systemWaveInDriver().Stop(h);
}
MMRESULT waveInReset(HWAVEIN h) {
    return systemWaveInDriver().Reset(h);
}
MMRESULT waveInGetPosition(HWAVEIN h, MMTIME* time, UINT size) {
    return systemWaveInDriver().GetPosition(h, time, size);
}
MMRESULT waveInGetErrorText(MMRESULT code, char* text, UINT size) {
    return systemWaveInDriver().GetErrorText(code, text, size);
}

}  // namespace velmora::platform
