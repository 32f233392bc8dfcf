#include "engine/RecordAVIThread.h"

#include <exception>
#include <memory>
#include <string>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

namespace {
// The handler that threw may throw again; the worker must still end.
void ReportQuietly(TScreenCamera& engine, const std::string& text) {
    try {
        if (engine.OnCameraError) engine.OnCameraError(&engine, text);
    } catch (...) {
    }
}
}  // namespace

std::string TRecordAVIThread::KeptAfterFailure(TScreenCamera& engine, std::string text) {
    try {
        engine.KeepTempFiles(engine.TargetFile(), text);
    } catch (...) {
        // Not moved: at least the worker leaves them where they are.
        engine.leaveTempVideo_ = true;
        for (auto& input : engine.sound_) input.leaveTemp = true;
    }
    return text;
}

TRecordAVIThread::TRecordAVIThread(TScreenCamera* engine) : engine_(engine) {}

TRecordAVIThread::~TRecordAVIThread() {
    if (thread_.joinable()) thread_.join();
}

void TRecordAVIThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TRecordAVIThread::Execute() {
    TScreenCamera& engine = *engine_;
    engine.skipNegotiation_ = false;
    try {
        if (!engine.recoveries_.empty())
            engine.RunRecoveries();
        else
            while (engine.RunRecording(engine.TargetFile()) == -1) {
            }
    } catch (const std::exception& e) {
        // An event handler threw through the run: end the run properly all
        // the same, or the recorder and the AVI objects stay behind; what
        // was recorded is kept as after a failed merge.
        engine.AbandonRun();
        ReportQuietly(engine,
                      KeptAfterFailure(engine, std::string("Recording failed: ") + e.what()));
    } catch (...) {
        engine.AbandonRun();
        ReportQuietly(engine, KeptAfterFailure(engine, "Recording failed."));
    }
    // Kept files were moved away; one that could not be moved is the only
    // copy of the recording.
    // Only the files this run made: a name taken over by another file (a
    // crash's recording) is not ours to delete.
    if (!engine.leaveTempVideo_) RemoveOwnFile(TempVideoFile, engine.ownVideo_);
    for (auto& input : engine.sound_)
        if (!input.leaveTemp) RemoveOwnFile(*input.tempFile, input.own);

    std::shared_ptr<std::atomic<bool>> alive = engine.alive_;
    TScreenCamera* target = engine_;
    engine.host_.PostToUiThread([alive, target] {
        if (*alive) target->RecordThreadDone();
    });
    finished_ = true;  // nothing below touches the engine
}

}  // namespace velmora::engine
