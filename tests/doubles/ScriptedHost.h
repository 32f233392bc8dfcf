#pragma once
// A host for the recording engine that answers questions from a script,
// records what the engine asked of the windows, and runs the closures posted
// to the "UI thread" on the test's thread when told to.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/CameraHost.h"
#include "common/EngineAudio.h"

namespace velmora::test {

class ScriptedFrame : public engine::TFlashingFrame {
  public:
    void SetupRegion(int left, int top, int width, int height, bool cornersOnly,
                     const std::string& caption) override;
    void PaintFrame(const std::string& caption) override;
    void ShowOnTop() override { showing = true; }
    void Hide() override { showing = false; }
    void Restore() override { ++restores; }
    bool IsShowing() const override { return showing; }

    bool showing = false;
    int left = 0, top = 0, width = 0, height = 0;
    bool cornersOnly = false;
    std::string caption;
    int paints = 0;
    int restores = 0;
};

class ScriptedTimer : public engine::TEngineTimer {
  public:
    explicit ScriptedTimer(std::function<void()> tick) : tick(std::move(tick)) {}
    void SetEnabled(bool value) override { enabled = value; }
    bool Enabled() const override { return enabled; }
    // What the UI loop would do every interval.
    void Fire() {
        if (enabled) tick();
    }

    std::function<void()> tick;
    bool enabled = false;
};

class ScriptedHost : public engine::CameraHost {
  public:
    // Answers in order; when they run out, defaultAnswer.
    void Answer(std::initializer_list<bool> answers);
    bool defaultAnswer = false;
    std::vector<std::string> Questions() const;

    engine::MergeSummaryFigures figures;
    std::map<int, std::string> texts;  // TextMsg<n>; "L<n>" when absent
    std::function<std::unique_ptr<engine::TEngineAudioRecorder>()> makeRecorder;
    std::function<std::unique_ptr<engine::TEngineMixer>()> makeMixer;

    // Runs posted closures on this thread until pred holds; false on timeout.
    bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 60000);

    // Called on the restoring thread after each restore; set before a recording.
    std::function<void()> onRestore;
    int minimizes = 0;
    int Restores() const;
    std::vector<bool> BusyCalls() const;
    std::vector<std::string> Reports() const;
    ScriptedFrame* frame = nullptr;
    ScriptedTimer* timer = nullptr;

    bool AskYesNo(const std::string& caption, const std::string& text) override;
    void RestoreApplication() override;
    void SetBusyCursor(bool busy) override;
    engine::MergeSummaryFigures SummaryFigures() override { return figures; }
    void ReportMergeResult(const std::string& text) override;
    void PostToUiThread(std::function<void()> fn) override;
    std::string MessageText(int n) override;
    void MinimizeApplication() override { ++minimizes; }
    void ProcessEvents() override;
    std::unique_ptr<engine::TFlashingFrame> CreateFlashingFrame() override;
    std::unique_ptr<engine::TEngineTimer> CreateTimer(int intervalMs,
                                                      std::function<void()> tick) override;
    std::unique_ptr<engine::TEngineAudioRecorder> CreateAudioRecorder() override;
    std::unique_ptr<engine::TEngineMixer> CreateMixer() override;

    int timerInterval = 0;

  private:
    mutable std::mutex mutex_;
    std::deque<bool> answers_;
    std::vector<std::string> questions_;
    std::deque<std::function<void()>> posted_;
    int restores_ = 0;
    std::vector<bool> busy_;
    std::vector<std::string> reports_;
};

}  // namespace velmora::test
