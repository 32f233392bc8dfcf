#include "tests/doubles/FakeWaveDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/wavein/ThreadMessages.h"

namespace velmora::test {

using namespace platform;

MMRESULT FakeWaveDevice::scripted(Call call, const char* name) {
    log_.emplace_back(name);
    auto it = failures_.find(call);
    if (it == failures_.end() || it->second.second <= 0) return MMSYSERR_NOERROR;
    --it->second.second;
    return it->second.first;
}

void FakeWaveDevice::Fail(Call call, MMRESULT code, int times) {
    std::lock_guard lock(mutex_);
    failures_[call] = {code, times};
}

void FakeWaveDevice::giveBack(WAVEHDR* h) {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    PostThreadMessage(callback_, MM_WIM_DATA, reinterpret_cast<std::uintptr_t>(token()),
                      reinterpret_cast<std::uintptr_t>(h));
}

void FakeWaveDevice::Feed(std::uint32_t bytes) {
    std::lock_guard lock(mutex_);
    if (!open_ || !started_) return;
    while (bytes > 0 && !queue_.empty()) {
        WAVEHDR* h = queue_.front();
        const std::uint32_t take = std::min(bytes, h->dwBufferLength - h->dwBytesRecorded);
        for (std::uint32_t i = 0; i < take; ++i)
            h->lpData[h->dwBytesRecorded + i] = static_cast<char>((captured_ + i) & 0xFF);
        h->dwBytesRecorded += take;
        captured_ += take;
        bytes -= take;
        if (h->dwBytesRecorded == h->dwBufferLength) {
            queue_.pop_front();
            giveBack(h);
        }
    }
}

void FakeWaveDevice::Advance(std::uint32_t ms) {
    std::uint32_t rate;
    {
        std::lock_guard lock(mutex_);
        rate = format_.nAvgBytesPerSec;
    }
    Feed(static_cast<std::uint32_t>(std::uint64_t{rate} * ms / 1000));
}

void FakeWaveDevice::Vanish() {
    std::lock_guard lock(mutex_);
    vanished_ = true;
    while (!queue_.empty()) {
        giveBack(queue_.front());
        queue_.pop_front();
    }
}

bool FakeWaveDevice::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}
bool FakeWaveDevice::Started() const {
    std::lock_guard lock(mutex_);
    return started_;
}
std::size_t FakeWaveDevice::Queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}
std::uint64_t FakeWaveDevice::Captured() const {
    std::lock_guard lock(mutex_);
    return captured_;
}
std::vector<std::string> FakeWaveDevice::Log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

MMRESULT FakeWaveDevice::GetDevCaps(UINT id, WAVEINCAPS* caps, UINT) {
    if (id != WAVE_MAPPER && id >= Devices) return MMSYSERR_BADDEVICEID;
    std::memset(caps, 0, sizeof *caps);
    std::strncpy(caps->szPname, Name.c_str(), sizeof caps->szPname - 1);
    caps->dwFormats = Formats;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::Open(HWAVEIN* handle, UINT id, const WAVEFORMATEX* format,
                              DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    std::lock_guard lock(mutex_);
    if (flags & WAVE_FORMAT_QUERY) {
        if (MMRESULT rc = scripted(Call::Query, "Query")) return rc;
        return format && format->wFormatTag == WAVE_FORMAT_PCM ? MMSYSERR_NOERROR
                                                               : WAVERR_BADFORMAT;
    }
    if (MMRESULT rc = scripted(Call::Open, "Open")) return rc;
    if (id != WAVE_MAPPER && id >= Devices) return MMSYSERR_BADDEVICEID;
    if (open_) return MMSYSERR_ALLOCATED;
    open_ = true;
    started_ = vanished_ = false;
    callback_ = static_cast<std::uint32_t>(callback);
    format_ = *format;
    *handle = token();
    PostThreadMessage(callback_, MM_WIM_OPEN, reinterpret_cast<std::uintptr_t>(token()), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::Close(HWAVEIN h) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Close, "Close")) return rc;
    if (!queue_.empty()) return WAVERR_STILLPLAYING;
    open_ = started_ = false;
    PostThreadMessage(callback_, MM_WIM_CLOSE, reinterpret_cast<std::uintptr_t>(token()), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::PrepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Prepare, "Prepare")) return rc;
    hdr->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::UnprepareHeader(HWAVEIN h, WAVEHDR* hdr, UINT) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Unprepare, "Unprepare")) return rc;
    if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    hdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::AddBuffer(HWAVEIN h, WAVEHDR* hdr, UINT) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::AddBuffer, "AddBuffer")) return rc;
    if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (vanished_) return MMSYSERR_NODRIVER;
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    hdr->dwBytesRecorded = 0;
    queue_.push_back(hdr);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::Start(HWAVEIN h) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Start, "Start")) return rc;
    started_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::Stop(HWAVEIN h) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Stop, "Stop")) return rc;
    started_ = false;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::Reset(HWAVEIN h) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    if (MMRESULT rc = scripted(Call::Reset, "Reset")) return rc;
    started_ = false;
    while (!queue_.empty()) {
        giveBack(queue_.front());
        queue_.pop_front();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveDevice::GetPosition(HWAVEIN h, MMTIME* time, UINT) {
    std::lock_guard lock(mutex_);
    if (h != token() || !open_) return MMSYSERR_INVALHANDLE;
    time->wType = TIME_BYTES;
    time->u.cb = static_cast<DWORD>(captured_);
    return MMSYSERR_NOERROR;
}

}  // namespace velmora::test
