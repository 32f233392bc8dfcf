#pragma once
// The recording engine's host in the program: questions, minimise and
// restore, the busy cursor, the frame window and timers, all done with Qt on
// the thread that owns the windows.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "engine/CameraHost.h"

namespace velmora {

class QtCameraHost : public engine::CameraHost {
  public:
    struct Hooks {
        // The merge's figures; called on the worker.
        std::function<engine::MergeSummaryFigures()> summaryFigures;
        // Runs on the UI thread after each closure the engine posted there:
        // the engine's own state changes (a run that ended, its worker gone)
        // reach the window this way.
        std::function<void()> afterEngineWork;
        // The merge's result line for the usage report; called on the worker
        // after the line is logged. Decides itself whether reports are allowed.
        std::function<void(const std::string&)> reportMergeResult;
        // True once the program is leaving: a question then gets No without a
        // box, as nobody will answer it. Called on the UI thread.
        std::function<bool()> leaving;
        // Minimise: true when the window went to the tray instead.
        std::function<bool()> hideToTray;
    };

    // mainWindow owns the questions and is what minimise and restore act on.
    QtCameraHost(QWidget* mainWindow, Hooks hooks);
    ~QtCameraHost() override;

    bool AskYesNo(const std::string& caption, const std::string& text) override;
    void RestoreApplication() override;
    void SetBusyCursor(bool busy) override;
    engine::MergeSummaryFigures SummaryFigures() override;
    void ReportMergeResult(const std::string& text) override;
    void PostToUiThread(std::function<void()> fn) override;
    std::string MessageText(int n) override;
    void MinimizeApplication() override;
    void ProcessEvents() override;
    std::unique_ptr<engine::TFlashingFrame> CreateFlashingFrame() override;
    std::unique_ptr<engine::TEngineTimer> CreateTimer(int intervalMs,
                                                      std::function<void()> tick) override;
    std::unique_ptr<engine::TEngineAudioRecorder> CreateAudioRecorder() override;
    std::unique_ptr<engine::TEngineMixer> CreateMixer() override;

  private:
    QPointer<QWidget> window_;
    Hooks hooks_;
    int busy_ = 0;  // override cursors this host has set (UI thread)
};

}  // namespace velmora
