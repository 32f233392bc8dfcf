#include "audio/EngineRecorder.h"

#include <chrono>

#include "audio/WaveRecorders.h"

namespace velmora::audio {
namespace {

// A recording's sound reaches its file in blocks of this length, so that a
// crash loses about that much; the queue holds two seconds, as the stock
// recorder's two one-second buffers do, for a writer held up by its disk.
constexpr std::uint16_t kBlockMs = 100, kBlocks = 20;

class TEngineRecorderAdapter final : public engine::TEngineAudioRecorder {
  public:
    TEngineRecorderAdapter() {
        recorder_.SetBufferLength(kBlockMs);
        recorder_.SetBufferCount(kBlocks);
    }
    void SetPCMFormat(int format) override {
        recorder_.SetPCMFormat(static_cast<TPCMFormat>(format));
    }
    void SetAsync(bool value) override { recorder_.SetAsync(value); }
    bool RecordToFile(const std::string& fileName) override {
        firstSample_ = -1;
        corrections_ = {};
        errorsBefore_ = recorder_.ReportedErrorCount();
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
    std::string SoundFailure() override {
        return recorder_.ReportedErrorCount() != errorsBefore_ ? recorder_.LastReportedError()
                                                               : std::string();
    }

    TCorrections Corrections() override {
        KeepLastAnswers();
        return corrections_;
    }

    bool PauseCapture(bool paused, std::int64_t steadyNs) override {
        return recorder_.PauseCapture(paused, steadyNs);
    }

    int WriteError() override { return recorder_.WriteError(); }
    void SetGain(int percent) override { recorder_.SetGain(percent); }
    void SetInput(const std::string& source, const std::string& title) override {
        recorder_.SetSourceName(source);
        recorder_.SetTitle(title);
    }

  private:
    void KeepLastAnswers() {
        FirstSampleTime();
        platform::WaveInReport report;
        const std::uint32_t rate = recorder_.WaveFormat().nSamplesPerSec;
        if (!recorder_.CaptureReport(report) || rate == 0) return;
        const auto ms = [rate](std::uint64_t frames) {
            return static_cast<std::int64_t>(frames * 1000 / rate);
        };
        corrections_ = {ms(report.holeFrames),
                        ms(report.droppedFrames),
                        ms(report.unqueuedFrames),
                        report.addedFrames,
                        report.removedFrames,
                        report.overruns,
                        {}};
        for (const platform::StallSpan& s : report.stalls)
            corrections_.stalls.push_back({ms(s.atFrame), ms(s.frames)});
    }

    TStockAudioRecorder recorder_;
    const int defaultFormat_ = recorder_.PCMFormat();
    std::int64_t firstSample_ = -1;
    TCorrections corrections_;
    std::uint32_t errorsBefore_ = 0;
};

}  // namespace

std::unique_ptr<engine::TEngineAudioRecorder> CreateEngineAudioRecorder() {
    return std::make_unique<TEngineRecorderAdapter>();
}

}  // namespace velmora::audio
