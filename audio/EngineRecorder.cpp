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
        stalls_.clear();
        return recorder_.RecordToFile(fileName);
    }
    bool Active() override { return recorder_.Active(); }
    void SetActive(bool value) override {
        if (!value) KeepLastAnswers();
        recorder_.SetActive(value);
    }
    bool Stop() override {
        KeepLastAnswers();
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

    std::vector<TStall> Stalls() override {
        KeepLastAnswers();
        return stalls_;
    }

  private:
    void KeepLastAnswers() {
        FirstSampleTime();
        platform::WaveInReport report;
        const std::uint32_t rate = recorder_.WaveFormat().nSamplesPerSec;
        if (!recorder_.CaptureReport(report) || rate == 0) return;
        stalls_.clear();
        for (const platform::StallSpan& s : report.stalls)
            stalls_.push_back({static_cast<std::int64_t>(s.atFrame * 1000 / rate),
                               static_cast<std::int64_t>(s.frames * 1000 / rate)});
    }

    TStockAudioRecorder recorder_;
    const int defaultFormat_ = recorder_.PCMFormat();
    std::int64_t firstSample_ = -1;
    std::vector<TStall> stalls_;
};

}  // namespace

std::unique_ptr<engine::TEngineAudioRecorder> CreateEngineAudioRecorder() {
    return std::make_unique<TEngineRecorderAdapter>();
}

}  // namespace velmora::audio
