#include "audio/WaveIO.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace velmora::audio {

using namespace platform;

TWaveThread::TWaveThread(TWaveAudioIO* owner) : owner_(owner) {
    owner_->threadReady_ = std::make_unique<TWaveEvent>();
    thread_ = std::thread([this] { Execute(); });
}

TWaveThread::~TWaveThread() {
    if (thread_.joinable()) {
        if (IsCurrentThread())
            thread_.detach();
        else
            thread_.join();
    }
}

void TWaveThread::Execute() {
    // One step above normal, so buffers come back promptly under load; where
    // the process may not raise priorities this simply stays at normal.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -1);
    TWaveEvent* ready = owner_->threadReady_.get();
    ready->Set();
    for (;;) {
        const ThreadMessage m = queue_.get();
        if (m.message == WM_QUIT) break;
        owner_->HandleDeviceMessage(m.message, m.lParam);
    }
    ready->Reset();
    finished_ = true;
    owner_->NotifyStateChanged();
}

TWaveAudioIO::TWaveAudioIO() : driver_(&systemWaveInDriver()) {}

TWaveAudioIO::~TWaveAudioIO() {
    // Subclasses have run Shutdown() already; this only tidies up.
    JoinEndedCallbackThread();
    TWaveAudioIO::FreeAllBuffers();
}

void TWaveAudioIO::Shutdown() {
    destroying_ = true;
    try {
        if (GetActive()) SetActive(false);
    } catch (const std::exception&) {
    }
    WaitWhileClosing();
    if (callbackHandle_ != 0) {
        // The close did not go through (the device refused the reset): let
        // the thread go; the driver keeps the buffers it still holds.
        std::lock_guard lock(lock_);
        ReleaseCallback();
        headers_.clear();
    }
    JoinEndedCallbackThread();
    FreeAllBuffers();
}

void TWaveAudioIO::SetAsync(bool value) {
    if (!GetActive() && value != async_) async_ = value;
}

void TWaveAudioIO::SetBufferLength(std::uint16_t value) {
    bufferLength_ = value < 10 ? 10 : value;
}

void TWaveAudioIO::SetActive(bool value) {
    if (value == GetActive()) return;
    if (value)
        Open();
    else
        Close();
}

void TWaveAudioIO::SetPaused(bool value) {
    if (value == GetPaused()) return;
    if (value)
        Pause();
    else
        Resume();
}

bool TWaveAudioIO::CallbackThreadRunning() const {
    std::lock_guard lock(stateMutex_);
    return callbackThread_ && !callbackThread_->Finished();
}

std::uint16_t TWaveAudioIO::QueuedBufferCount() {
    std::lock_guard lock(lock_);
    return static_cast<std::uint16_t>(headers_.size());
}

std::uint32_t TWaveAudioIO::BufferSize() const {
    return BufferSizeForDuration(waveFormat_, bufferLength_);
}

bool TWaveAudioIO::WaitForInactive(std::chrono::milliseconds timeout) {
    std::unique_lock lock(stateMutex_);
    return stateChanged_.wait_for(lock, timeout, [this] { return callbackHandle_ == 0; });
}

void TWaveAudioIO::NotifyStateChanged() {
    { std::lock_guard lock(stateMutex_); }
    stateChanged_.notify_all();
}

bool TWaveAudioIO::Success(MMRESULT code) {
    lastError_ = code;
    if (code == MMSYSERR_NOERROR) return true;
    DoError();
    return false;
}

void TWaveAudioIO::JoinEndedCallbackThread() {
    std::unique_ptr<TWaveThread> old;
    {
        std::lock_guard lock(stateMutex_);
        old = std::move(callbackThread_);
    }
    old.reset();  // it was told to quit; joins
    threadReady_.reset();
}

void TWaveAudioIO::CreateCallback() {
    // Async false would deliver through a hidden window of the opening
    // thread on Windows; here both modes use a callback thread, since the
    // owner thread has no message loop we could rely on.
    callbackKind_ = CALLBACK_THREAD;
    JoinEndedCallbackThread();
    {
        auto thread = std::make_unique<TWaveThread>(this);
        std::lock_guard lock(stateMutex_);
        callbackThread_ = std::move(thread);
        callbackHandle_ = callbackThread_->ThreadId();
    }
    MessageWait(threadReady_.get(), INFINITE);
    NotifyStateChanged();
}

void TWaveAudioIO::ReleaseCallback() {
    if (callbackHandle_ == 0) return;
    if (callbackThread_) {
        while (!PostThreadMessage(callbackHandle_, WM_QUIT, 0, 0)) std::this_thread::yield();
    }
    callbackHandle_ = 0;
    NotifyStateChanged();
}

bool TWaveAudioIO::HandleDeviceMessage(std::uint32_t message, std::uintptr_t param) {
    auto* header = reinterpret_cast<PWaveHdr>(param);
    switch (message) {
        case MM_WOM_OPEN:
        case MM_WOM_CLOSE:
        case MM_WOM_DONE:
        case MM_WIM_OPEN:
        case MM_WIM_CLOSE:
        case MM_WIM_DATA:
            break;
        default:
            return false;
    }
    std::lock_guard lock(lock_);
    try {
        switch (message) {
            case MM_WOM_OPEN:
                OutOpened();
                break;
            case MM_WOM_CLOSE:
                OutClosed();
                break;
            case MM_WOM_DONE:
                OutDone(header);
                break;
            case MM_WIM_OPEN:
                InOpened();
                break;
            case MM_WIM_CLOSE:
                InClosed();
                break;
            case MM_WIM_DATA:
                InData(header);
                break;
        }
    } catch (const std::exception& e) {
        ReportError(e);
    }
    return true;
}

void TWaveAudioIO::ReportError(const std::exception& error) {
    {
        std::lock_guard lock(stateMutex_);
        ++reportedErrors_;
        lastReportedError_ = error.what();
    }
    ReportWaveException(error);
}

std::uint32_t TWaveAudioIO::ReportedErrorCount() const {
    std::lock_guard lock(stateMutex_);
    return reportedErrors_;
}

std::string TWaveAudioIO::LastReportedError() const {
    std::lock_guard lock(stateMutex_);
    return lastReportedError_;
}

bool TWaveAudioIO::SetupHeader(PWaveHdr& header, std::uint32_t size, char* data) {
    const auto self = reinterpret_cast<DWORD_PTR>(this);
    if (size == 0) {
        if (header) {
            std::lock_guard lock(lock_);
            std::erase(headers_, header);
            if (header->dwUser == self) std::free(header->lpData);
            delete header;
            header = nullptr;
        }
        return true;
    }
    if (!header) {
        header = new (std::nothrow) WAVEHDR{};
        if (!header) {
            Success(MMSYSERR_NOMEM);
            return false;
        }
        std::lock_guard lock(lock_);
        headers_.push_back(header);
    }
    if (header->dwUser != self) {  // not ours: neither reused nor released
        header->lpData = nullptr;
        header->dwBufferLength = 0;
    }
    char* block;
    if (data == nullptr) {
        block = header->lpData;
        if (header->dwBufferLength != size || block == nullptr) {
            block = static_cast<char*>(std::realloc(header->lpData, size));
            if (!block) {
                SetupHeader(header, 0, nullptr);
                Success(MMSYSERR_NOMEM);
                return false;
            }
        }
    } else {
        if (header->dwUser == self) std::free(header->lpData);
        block = data;
    }
    std::memset(header, 0, sizeof *header);
    header->dwUser = data == nullptr ? self : 0;
    header->lpData = block;
    header->dwBufferLength = size;
    return true;
}

void TWaveAudioIO::FreeAllBuffers() {
    std::lock_guard lock(lock_);
    while (!headers_.empty()) {
        PWaveHdr h = headers_.back();
        SetupHeader(h, 0, nullptr);
    }
}

void TWaveAudioIO::Activated() {
    opening_ = false;
    NotifyStateChanged();
    QueueInitialBuffers();
    DoActivate();
}

void TWaveAudioIO::Deactivated() {
    DoLevel(nullptr, 0);
    closing_ = false;
    ReleaseCallback();
    FreeAllBuffers();
    DoDeactivate();
    NotifyStateChanged();
}

void TWaveAudioIO::DoActivate() {
    if (OnActivate) OnActivate(this);
}
void TWaveAudioIO::DoDeactivate() {
    if (OnDeactivate && !destroying_) OnDeactivate(this);
}
void TWaveAudioIO::DoPause() {
    if (OnPause) OnPause(this);
}
void TWaveAudioIO::DoResume() {
    if (OnResume) OnResume(this);
}

void TWaveAudioIO::DoError() {
    if (OnError)
        OnError(this);
    else
        throw EWaveAudioSysError(ErrorText());
}

void TWaveAudioIO::DoLevel(const void* data, std::uint32_t count) {
    if (!OnLevel || destroying_ || waveFormat_.wFormatTag != WAVE_FORMAT_PCM) return;
    OnLevel(this, GetWaveAudioPeakLevel(data, count, waveFormat_.wBitsPerSample));
}

void TWaveAudioIO::DoData(const void* data, std::uint32_t count) {
    if (OnData && !destroying_) OnData(this, data, count);
}

bool TWaveAudioIO::QueryPCMFormat(TPCMFormat value) {
    WAVEFORMATEX record{};
    FillPCMFormat(record, value);
    return QueryFormat(&record);
}

void TWaveAudioIO::WaitWhileOpening() {
    if (callbackHandle_ == 0) return;
    std::unique_lock lock(stateMutex_);
    stateChanged_.wait(lock, [this] { return !opening_; });
}

void TWaveAudioIO::WaitWhileClosing() {
    // Waits for the closed notification and for the callback thread's end,
    // so the device can be reopened or freed without a thread still on it.
    {
        std::unique_lock lock(stateMutex_);
        if (callbackThread_ && callbackThread_->IsCurrentThread()) return;
        stateChanged_.wait(lock, [this] {
            return !closing_ &&
                   (callbackHandle_ != 0 || !callbackThread_ || callbackThread_->Finished());
        });
    }
    if (callbackHandle_ == 0) JoinEndedCallbackThread();
}

}  // namespace velmora::audio
