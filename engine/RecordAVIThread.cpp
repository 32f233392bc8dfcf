#include "engine/RecordAVIThread.h"

#include <exception>
#include <memory>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"

namespace velmora::engine {

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
        while (engine.RunRecording(TargetFile) == -1) {
        }
    } catch (const std::exception& e) {
        // The engine reports and never throws; this is the last line of defence.
        engine.CameraError(std::string("Recording failed: ") + e.what());
        engine.Recording = false;
    } catch (...) {
        engine.CameraError("Recording failed.");
        engine.Recording = false;
    }
    // Kept files were moved away; one that could not be moved is the only
    // copy of the recording.
    if (!engine.leaveTempVideo_) EraseFile(TempVideoFile);
    if (!engine.leaveTempAudio_) EraseFile(TempAudioFile);

    std::shared_ptr<std::atomic<bool>> alive = engine.alive_;
    TScreenCamera* target = engine_;
    engine.host_.PostToUiThread([alive, target] {
        if (*alive) target->RecordThreadDone();
    });
    finished_ = true;  // nothing below touches the engine
}

}  // namespace velmora::engine
