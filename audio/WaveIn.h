#pragma once
// The capture device on the wave-in driver.

#include "audio/WaveIO.h"

namespace velmora::audio {

class TWaveAudioIn : public TWaveAudioIO {
  public:
    TWaveAudioIn() = default;
    ~TWaveAudioIn() override;

    HWAVEIN Handle() const { return handle_; }
    TPCMFormat PCMFormat() const { return pcmFormat_; }
    void SetPCMFormat(TPCMFormat value);
    // Not in the Windows interface: when the first captured sample was taken
    // (steady_clock ns), once the device has delivered; -1 before.
    std::int64_t FirstSampleTime();
    // Not in the Windows interface: what the driver did to keep the sound on
    // the steady clock so far; false once closed or where it cannot say.
    bool CaptureReport(platform::WaveInReport& report);
    // Not in the Windows interface: leaves the sound taken from steadyNs on
    // out of what the device delivers, or keeps it again, the time between
    // counting as none (see WaveInDriver::SetCapturePause). False when the
    // device is not open or its driver cannot.
    bool PauseCapture(bool paused, std::int64_t steadyNs);
    // Not in the Windows interface: the sound server's source this device
    // opens, by the name the server knows it by; empty (the start): the
    // device DeviceId names. Takes effect at the next open.
    const std::string& SourceName() const { return sourceName_; }
    void SetSourceName(const std::string& value) { sourceName_ = value; }

    // Supplies the record when PCMFormat is nonePCM. A record handed over
    // with FreeIt true must come from std::malloc.
    TWaveAudioGetFormatEvent OnFormat;

    void InOpened() override;
    void InClosed() override;
    void InData(PWaveHdr header) override;
    std::uint32_t DeviceCount() override;
    bool GetPaused() override { return paused_; }
    std::string DeviceName() override;
    std::set<TPCMFormat> DeviceFormats() override;
    std::uint32_t Position() override;
    std::string GetErrorText(MMRESULT code) override;
    void GetWaveFormat(PWaveFormatEx& record, bool& FreeIt) override;
    MMRESULT ValidateDeviceId(std::uint32_t id) override;
    bool Open() override;
    bool Close() override;
    bool Pause() override;
    bool Resume() override;
    bool IsOpen() override { return handle_ != nullptr; }
    void QueueInitialBuffers() override;
    bool QueryFormat(const WAVEFORMATEX* record) override;
    virtual bool AddBuffer(PWaveHdr header);
    // With takeOwnership the block (from std::malloc) is freed by the device.
    virtual bool AddExternalBuffer(char* data, std::uint32_t size, bool takeOwnership);
    // The recorder's hook; set Owned false to keep the data block.
    virtual void ProcessData(const void* data, std::uint32_t count, bool& Owned);

  private:
    // The driver's open: on the named source where one is set.
    MMRESULT DriverOpen(HWAVEIN* handle, const WAVEFORMATEX* record, platform::DWORD_PTR callback,
                        platform::DWORD flags);

    std::string sourceName_;
    std::atomic<HWAVEIN> handle_{nullptr};
    bool paused_ = false;
    TPCMFormat pcmFormat_ = Mono16bit8000Hz;
};

}  // namespace velmora::audio
