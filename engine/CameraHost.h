#pragma once
// What the recording engine needs from the windows of the program. The shell
// implements it with Qt; tests script it. The engine never touches a widget
// itself, so engine/ stays free of QtWidgets.

#include <functional>
#include <memory>
#include <string>

namespace velmora::engine {

// The red corner marks around the recorded area. Created, used and destroyed
// on the UI thread only.
class TFlashingFrame {
  public:
    virtual ~TFlashingFrame() = default;
    virtual void SetupRegion(int left, int top, int width, int height, bool cornersOnly,
                             const std::string& caption) = 0;
    virtual void PaintFrame(const std::string& caption) = 0;
    // Shows the frame topmost without moving, sizing or activating it.
    virtual void ShowOnTop() = 0;
    virtual void Hide() = 0;
    // Un-minimises the frame window (it must stay up when the application is minimised).
    virtual void Restore() = 0;
    virtual bool IsShowing() const = 0;
};

// A repeating UI-thread timer. Enabled and disabled on the UI thread only.
class TEngineTimer {
  public:
    virtual ~TEngineTimer() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

// Figures of the main window that the merge's summary line shows.
struct MergeSummaryFigures {
    int areaWidth = 0;
    int areaHeight = 0;
    double droppedPercent = 0.0;
};

class TEngineAudioRecorder;
class TEngineMixer;

class CameraHost {
  public:
    virtual ~CameraHost() = default;

    // --- called on the recording worker ---

    // A modal Yes/No question with the exclamation icon, owned by the main
    // window. Blocks the worker until answered; true for Yes.
    virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
    // Restores the application after a run; the host hands it to the UI thread.
    virtual void RestoreApplication() = 0;
    // The hourglass while the merge runs; the host hands it to the UI thread.
    virtual void SetBusyCursor(bool busy) = 0;
    // The merge's figures as the main window holds them now.
    virtual MergeSummaryFigures SummaryFigures() = 0;
    // The merge result line for the usage report; the host decides whether
    // reports are allowed. May throw; the engine ignores what it throws.
    virtual void ReportMergeResult(const std::string& text) = 0;

    // --- called on any thread ---

    // Runs fn on the UI thread later, in order. Must not run it inline on the
    // worker.
    virtual void PostToUiThread(std::function<void()> fn) = 0;
    // Localised message TextMsg<n> of the language file.
    virtual std::string MessageText(int n) = 0;

    // --- called on the UI thread ---

    virtual void MinimizeApplication() = 0;
    // Runs what PostToUiThread queued; the engine's destructor calls it while
    // it waits for a worker that may be blocked on a question.
    virtual void ProcessEvents() = 0;
    virtual std::unique_ptr<TFlashingFrame> CreateFlashingFrame() = 0;
    // A disabled timer calling tick every intervalMs on the UI thread.
    virtual std::unique_ptr<TEngineTimer> CreateTimer(int intervalMs,
                                                      std::function<void()> tick) = 0;
    // The audio recorder and the input mixer; a host may give none
    // (recordings are then silent and the audio lists empty).
    virtual std::unique_ptr<TEngineAudioRecorder> CreateAudioRecorder() = 0;
    virtual std::unique_ptr<TEngineMixer> CreateMixer() = 0;
};

}  // namespace velmora::engine
