#include "audio/EngineRecorder.h"

#include <chrono>

#include "audio/WaveRecorders.h"

namespace velmora::audio {
namespace {

class TEngineRecorderAdapter final : public engine::TEngineAudioRecorder {
  public:
    void SetPCMFormat(int format) override {
        recorder_.SetPCMFormat(static_cast<TPCMFormat>(format));
    }
    void SetAsync(bool value) override { recorder_.SetAsync(value); }
    bool RecordToFile(const std::string& fileName) override {
        firstSample_ = -1;
        errorsBefore_ = recorder_.ReportedErrorCount();
        return recorder_.RecordToFile(fileName);
    }
    bool Active() override { return recorder_.Active(); }
    void SetActive(bool value) override {
        if (!value) FirstSampleTime();
        recorder_.SetActive(value);
    }
    bool Stop() override {
        FirstSampleTime();
        try {
            return recorder_.Stop();
        } catch (const EWaveAudioInvalidOperation&) {
            // The close completed between the caller's look at Active and
            // this request: the stop it asked for has happened.
            if (!recorder_.Active()) return false;
            throw;
        }
    }
    bool WaitForInactive(int timeoutMs) override {
        return recorder_.WaitForInactive(std::chrono::milliseconds(timeoutMs));
    }
    int DefaultPCMFormat() override { return defaultFormat_; }
    std::string FormatDescription(int format) override {
        WAVEFORMATEX record{};
        FillPCMFormat(record, static_cast<unsigned>(format));
        return DescribeWaveFormat(record);
    }
    // The device refines the time over its first reads and forgets it once
    // closed: the last answer while open is kept.
    std::int64_t FirstSampleTime() override {
        if (const std::int64_t t = recorder_.FirstSampleTime(); t >= 0) firstSample_ = t;
        return firstSample_;
    }
    std::string SoundFailure() override {
        return recorder_.ReportedErrorCount() != errorsBefore_ ? recorder_.LastReportedError()
                                                               : std::string();
    }

  private:
    TStockAudioRecorder recorder_;
    const int defaultFormat_ = recorder_.PCMFormat();
    std::int64_t firstSample_ = -1;
    std::uint32_t errorsBefore_ = 0;
};

}  // namespace

std::unique_ptr<engine::TEngineAudioRecorder> CreateEngineAudioRecorder() {
    return std::make_unique<TEngineRecorderAdapter>();
}

}  // namespace velmora::audio
