#pragma once
// The base of wave devices: notification channel (a callback thread with its
// own message queue), buffer headers, the device's one recursive lock, state
// flags, events and the error path. TWaveAudioIn (WaveIn.h) is the capture
// device on it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveUtils.h"
#include "platform/wavein/ThreadMessages.h"
#include "platform/wavein/WaveInApi.h"

namespace velmora::audio {

using platform::HWAVEIN;
using platform::MMRESULT;
using platform::PWaveHdr;
using platform::WAVEHDR;

class TWaveAudioIO;

// The callback thread: takes its queue's messages until the quit message and
// hands each device notification to its owner.
class TWaveThread {
  public:
    explicit TWaveThread(TWaveAudioIO* owner);
    ~TWaveThread();  // joins the thread, unless called on it
    TWaveThread(const TWaveThread&) = delete;
    TWaveThread& operator=(const TWaveThread&) = delete;

    TWaveAudioIO* Owner() const { return owner_; }
    std::uint32_t ThreadId() const { return queue_.threadId(); }
    bool Finished() const { return finished_; }
    bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  private:
    void Execute();

    TWaveAudioIO* owner_;
    platform::MessageQueue queue_;  // exists before the thread runs, so posts never fail
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

class TWaveAudioIO {
  public:
    TWaveAudioIO();
    virtual ~TWaveAudioIO();
    TWaveAudioIO(const TWaveAudioIO&) = delete;
    TWaveAudioIO& operator=(const TWaveAudioIO&) = delete;

    // Published properties.
    bool Async() const { return async_; }
    void SetAsync(bool value);
    std::uint32_t DeviceId() const { return deviceId_; }
    void SetDeviceId(std::uint32_t value) { deviceId_ = value; }
    std::uint16_t BufferLength() const { return bufferLength_; }
    void SetBufferLength(std::uint16_t value);
    std::uint16_t BufferCount() const { return bufferCount_; }
    void SetBufferCount(std::uint16_t value) { bufferCount_ = value; }
    bool Active() { return GetActive(); }
    bool Paused() { return GetPaused(); }
    void SetPaused(bool value);
    MMRESULT LastError() const { return lastError_; }
    std::string ErrorText() { return GetErrorText(lastError_); }

    // Active turns false once the closed notification has been handled
    // (for a recorder: the file is complete). False on timeout.
    bool WaitForInactive(std::chrono::milliseconds timeout);

    // Where the platform calls go; tests put a fake device here.
    void SetDriver(platform::WaveInDriver* driver) { driver_ = driver; }
    platform::WaveInDriver* Driver() const { return driver_; }

    bool Opening() const { return opening_; }
    bool Closing() const { return closing_; }
    std::uint32_t CallbackHandle() const { return callbackHandle_; }
    std::uint32_t CallbackKind() const { return callbackKind_; }
    // A callback thread exists and has not ended yet.
    bool CallbackThreadRunning() const;
    std::uint16_t QueuedBufferCount();
    std::uint32_t BufferSize() const;
    const PCMWAVEFORMAT& WaveFormat() const { return waveFormat_; }

    TWaveAudioEvent OnActivate, OnDeactivate, OnPause, OnResume, OnError;
    TWaveAudioLevelEvent OnLevel;
    TWaveAudioDataEvent OnData;

    // Virtual operations.
    virtual void InOpened() { Activated(); }
    virtual void InClosed() { Deactivated(); }
    virtual void InData(PWaveHdr) {}
    virtual void OutOpened() { Activated(); }
    virtual void OutClosed() { Deactivated(); }
    virtual void OutDone(PWaveHdr) {}
    virtual std::uint32_t DeviceCount() = 0;
    virtual bool GetActive() { return callbackHandle_ != 0; }
    virtual void SetActive(bool value);
    virtual bool GetPaused() = 0;
    virtual std::string DeviceName() = 0;
    virtual std::set<TPCMFormat> DeviceFormats() = 0;
    virtual std::uint32_t Position() = 0;
    virtual std::string GetErrorText(MMRESULT code) = 0;
    virtual void GetWaveFormat(PWaveFormatEx& record, bool& FreeIt) = 0;
    virtual MMRESULT ValidateDeviceId(std::uint32_t id) = 0;
    virtual bool Open() = 0;
    virtual bool Close() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool IsOpen() = 0;
    virtual void QueueInitialBuffers() = 0;
    virtual void FreeAllBuffers();
    virtual void Activated();
    virtual void Deactivated();
    virtual void DoActivate();
    virtual void DoDeactivate();
    virtual void DoPause();
    virtual void DoResume();
    virtual void DoError();
    virtual void DoLevel(const void* data, std::uint32_t count);
    virtual void DoData(const void* data, std::uint32_t count);
    virtual bool QueryFormat(const WAVEFORMATEX* record) = 0;
    virtual bool QueryPCMFormat(TPCMFormat value);

    // Runs one notification under the lock; false for other messages.
    bool HandleDeviceMessage(std::uint32_t message, std::uintptr_t param);

    // Errors handed to the exception reporter (from notification handlers
    // and failed real opens): how many so far and the last one's text, so
    // the owner can tell that a recording lost its sound.
    std::uint32_t ReportedErrorCount() const;
    std::string LastReportedError() const;

  protected:
    // The most derived destructor calls this while its overrides still
    // exist: closes an active device and waits until the close completed.
    void Shutdown();
    bool Destroying() const { return destroying_; }

    void LockDevice() { lock_.lock(); }
    void UnlockDevice() { lock_.unlock(); }
    std::recursive_mutex& DeviceLock() { return lock_; }
    bool Success(MMRESULT code);
    // Counts the error and hands it to the exception reporter.
    void ReportError(const std::exception& error);
    void CreateCallback();
    void ReleaseCallback();
    bool SetupHeader(PWaveHdr& header, std::uint32_t size, char* data);
    void WaitWhileOpening();
    void WaitWhileClosing();
    void NotifyStateChanged();

    std::atomic<bool> opening_{false};
    std::atomic<bool> closing_{false};
    std::vector<PWaveHdr> headers_;
    PCMWAVEFORMAT waveFormat_{};

  private:
    friend class TWaveThread;
    void JoinEndedCallbackThread();

    bool async_ = false;
    std::uint32_t deviceId_ = platform::WAVE_MAPPER;
    MMRESULT lastError_ = 0;
    std::uint16_t bufferLength_ = 1000;
    std::uint16_t bufferCount_ = 2;
    std::atomic<std::uint32_t> callbackHandle_{0};
    std::uint32_t callbackKind_ = 0;
    std::unique_ptr<TWaveEvent> threadReady_;
    std::unique_ptr<TWaveThread> callbackThread_;
    std::recursive_mutex lock_;
    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    std::atomic<bool> destroying_{false};
    platform::WaveInDriver* driver_;
    std::uint32_t reportedErrors_ = 0;  // under stateMutex_
    std::string lastReportedError_;
};

}  // namespace velmora::audio
