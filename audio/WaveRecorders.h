#pragma once
// The recorder: everything the capture device delivers is appended to a
// RIFF WAVE stream, finished when the device has closed.
//
// Use from one owner thread:
//   rec.SetPCMFormat(format); rec.SetAsync(true);
//   rec.RecordToFile(path);          // throws EStreamError / EWaveAudioSysError
//   ...
//   if (rec.Active()) rec.SetActive(false);   // returns at once
//   rec.WaitForInactive(timeout);    // Active false: file complete and closed

#include <atomic>
#include <string>
#include <vector>

#include "audio/WaveIn.h"
#include "audio/WaveStorage.h"

namespace velmora::audio {

class TStockAudioRecorder : public TWaveAudioIn {
  public:
    TStockAudioRecorder() = default;
    ~TStockAudioRecorder() override;

    TCustomWaveStorage* Stock() const { return stock_; }
    void SetStock(TCustomWaveStorage* value);

    // Creates (or truncates) the file, locked and without following links,
    // and starts recording into it. The stream's creation error propagates
    // before anything else happens. True when the device opened.
    bool RecordToFile(const std::string& fileName);
    virtual bool RecordToStream(TStream* stream, TStreamOwnership ownership);
    bool StartFromStock(int index);
    // Close: returns at once; Active turns false when the file is complete.
    bool Stop() { return Close(); }

    void SetActive(bool value) override;
    void GetWaveFormat(PWaveFormatEx& record, bool& FreeIt) override;
    void DoError() override;
    // A failed write into the file says so (a full disk says that), not the
    // device's generic error.
    std::string GetErrorText(MMRESULT code) override;
    void ProcessData(const void* data, std::uint32_t count, bool& Owned) override;
    void InClosed() override;
    // The errno of the first failed write of sound into the file (a full
    // disk), 0 while none failed. Reset by RecordToFile.
    int WriteError() const { return writeError_; }
    // Our gain on what is stored, percent on the desktop's volume scale
    // (ScaleWaveAudio); 100, the start, stores the samples as captured.
    void SetGain(int percent) { gain_ = percent; }
    int Gain() const { return gain_; }
    // What the errors this recorder reports begin with ("Microphone: ..."),
    // so that beside another recorder they say whose they are; empty: none.
    void SetTitle(const std::string& title) { title_ = title; }

  private:
    std::atomic<int> writeError_{0};
    std::atomic<int> gain_{100};
    std::string title_;
    std::vector<char> scaled_;  // the capture thread's copy of a scaled buffer
    void FinishWriter();

    TWaveStreamAdapter* writer_ = nullptr;
    TCustomWaveStorage* stock_ = nullptr;
};

}  // namespace velmora::audio
