#include "engine/ScreenCamera.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "common/Functions.h"
#include "engine/RecordAVIThread.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora::engine {
namespace {

// The sound server dates sound on the steady clock.
std::int64_t SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::string TempVideoFile, TempAudioFile, TempAudio2File;

TScreenCamera::TScreenCamera(CameraHost& host, CameraOptions options)
    : host_(host),
      desktop_(std::move(options.desktop)),
      openWindow_(std::move(options.openWindow)),
      clock_(options.clock ? std::move(options.clock) : SystemClock()),
      alive_(std::make_shared<std::atomic<bool>>(true)) {
    Recording = false;
    if (!desktop_)
        desktop_ = platform::OpenDesktop([this](const std::string& e) { CameraError(e); });
    if (!openWindow_)
        openWindow_ = [](std::uint64_t window, std::function<void(const std::string&)> onNote,
                         std::string& error) -> std::shared_ptr<platform::Desktop> {
            return platform::OpenWindowDesktop(window, std::move(onNote), error);
        };
    if (desktop_) {
        ScreenBitsPerPixel = desktop_->bitsPerPixel();
        ScreenWidth = desktop_->width();
        ScreenHeight = desktop_->height();
    }
    compressorNames_ = {"Microsoft Video Codec"};
    mixer_ = host_.CreateMixer();
    sound_[0].recorder = host_.CreateAudioRecorder();
    sound_[0].tempFile = &TempAudioFile;
    sound_[0].keptSuffix = "_audio.wav";
    // The second input's recorder is made when one is chosen.
    sound_[1].tempFile = &TempAudio2File;
    sound_[1].keptSuffix = "_audio2.wav";
    AudioFormatIndex = -1;
    frame_ = host_.CreateFlashingFrame();
    frame_->Hide();
    ListAudioFormats();
    ListAudioInputs();
    ListCompressors();
    frameTimer_ = host_.CreateTimer(20, [this] { FrameTimerTick(); });
}

TScreenCamera::~TScreenCamera() {
    destroying_ = true;
    if (Recording) {
        Recording = false;
        LastStop = StopReason::Aborted;
    }
    // The worker uses the recorder, the lists and the desktop: wait for it. It
    // may be waiting for an answer from the UI thread, so keep serving it.
    while (worker_ && !worker_->Finished()) {
        host_.ProcessEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    delete worker_;
    worker_ = nullptr;
    *alive_ = false;

    mixer_.reset();
    for (SoundInput& input : sound_) input.recorder.reset();
    compressorNames_.clear();
    audioFormatNames_.clear();
    audioInputNames_.clear();
    frameTimer_->SetEnabled(false);
    frame_->Hide();
    frameTimer_.reset();
    frame_.reset();
    // Only what this engine made and did not keep: the files of an
    // interrupted recording wait for the next start.
    if (!leaveTempVideo_) RemoveOwnFile(TempVideoFile, ownVideo_);
    for (SoundInput& input : sound_)
        if (!input.leaveTemp) RemoveOwnFile(*input.tempFile, input.own);
}

void TScreenCamera::CameraError(const std::string& text) {
    if (OnCameraError) OnCameraError(this, text);
}

bool TScreenCamera::Ask(const std::string& text) {
    // Nobody is left to answer while the engine is being destroyed.
    if (destroying_) return false;
    return host_.AskYesNo("Notice", text);
}

void TScreenCamera::DeriveModes() {
    FollowMouse = Mode == CaptureMode::FollowMouse;
    FullScreen = Mode == CaptureMode::FullScreen;
    WindowMode = Mode == CaptureMode::Window;
}

void TScreenCamera::StartRecording(const std::string& targetFile) {
    // A worker still merging the previous recording owns the temporary files.
    if (Recording || worker_) return;
    SetTargetFile(targetFile);
    // The inputs' titles as the mixer lists them now (the mixer lives on
    // this thread); a second input that is not there is not recorded.
    firstTitle_.clear();
    secondTitle_.clear();
    if (RecordAudio && !sound_[1].source.empty()) {
        secondTitle_ = SecondInputTitle();
        if (!secondTitle_.empty() && audioInput_.selected >= 0 &&
            static_cast<std::size_t>(audioInput_.selected) < audioInputNames_.size())
            firstTitle_ = audioInputNames_[static_cast<std::size_t>(audioInput_.selected)];
    }
    mergeAbandoned_ = false;
    EndedByFailure = false;
    SaveFailed = false;
    SavedFile.clear();
    SavedFileSize = 0;
    Paused = false;
    soundPaused_ = framePaused_ = false;
    if (MinimizeOnRecord) host_.MinimizeApplication();
    DeriveModes();
    if (WindowMode && !OpenCaptureWindow()) {
        EndedByFailure = true;
        if (RestoreAfterRecord) host_.RestoreApplication();
        return;
    }
    frameTimer_->SetEnabled(true);
    TakeScreenGeometry();
    Recording = true;
    if (!StartWorker()) {
        // No worker: nothing would ever clear Recording.
        Recording = false;
        frameTimer_->SetEnabled(false);
        frame_->Hide();
        std::lock_guard lock(desktopLock_);
        windowSource_.reset();
    }
}

bool TScreenCamera::OpenCaptureWindow() {
    std::string error;
    auto source = openWindow_(
        CaptureWindow, [this](const std::string& note) { CameraError(note); }, error);
    if (!source) {
        CameraError("The window to record cannot be recorded: " + error);
        return false;
    }
    std::lock_guard lock(desktopLock_);
    windowSource_ = std::move(source);
    return true;
}

std::shared_ptr<platform::Desktop> TScreenCamera::CaptureSource() {
    return windowSource_ ? windowSource_ : desktop_;
}

bool TScreenCamera::StartWorker() {
    worker_ = new TRecordAVIThread(this);
    try {
        worker_->Start();
        return true;
    } catch (const std::exception& e) {
        // The destructor would wait for a worker that never ran.
        delete worker_;
        worker_ = nullptr;
        CameraError(std::string("Recording failed: ") + e.what());
        return false;
    }
}

void TScreenCamera::TakeScreenGeometry() {
    std::lock_guard lock(desktopLock_);
    if (windowSource_) {
        // The window is the whole picture, at its size now; the compressor's
        // steps cut it rather than reach past it.
        Left = Top = 0;
        Width = ScreenWidth = windowSource_->width();
        Height = ScreenHeight = windowSource_->height();
        return;
    }
    if (!desktop_) {
        if (FullScreen) Width = Height = 0;
        return;
    }
    // A resolution change or a docked laptop since the last recording shows
    // here, not a stream of grabs beyond the screen's edge.
    ScreenWidth = desktop_->width();
    ScreenHeight = desktop_->height();
    if (FullScreen) {
        const platform::ScreenRect whole =
            platform::FullScreenRect(*desktop_, Monitor).value_or(desktop_->primaryMonitor());
        Left = whole.left;
        Top = whole.top;
        Width = whole.width;
        Height = whole.height;
    } else if (!FollowMouse) {
        const platform::ScreenRect fitted =
            platform::FitIntoScreen({Left, Top, Width, Height}, {0, 0, ScreenWidth, ScreenHeight});
        Left = fitted.left;
        Top = fitted.top;
        Width = fitted.width;
        Height = fitted.height;
    }
}

std::string TScreenCamera::TargetFile() const {
    std::lock_guard lock(targetLock_);
    return targetFile_;
}

void TScreenCamera::SetTargetFile(const std::string& file) {
    std::lock_guard lock(targetLock_);
    targetFile_ = file;
}

void TScreenCamera::StopRecording() {
    LastStop = StopReason::Stopped;
    Recording = false;
}

bool TScreenCamera::PauseRecording() {
    if (!Recording || !capturing_ || Paused) return false;
    const std::int64_t steadyNs = SteadyNowNs();
    pausedAtMs_ = clock_->timeGetTime();
    Paused = true;
    // The sound is cut by when it was taken, so what is still on its way
    // from the sound server when the pause begins is left out too.
    soundPaused_ = false;
    if (RecordAudio) {
        bool cannot = false;
        for (SoundInput& input : sound_) {
            if (!input.recording || !input.recorder) continue;
            const bool paused = input.recorder->PauseCapture(true, steadyNs);
            soundPaused_ = soundPaused_ || paused;
            cannot = cannot || (!paused && input.recorder->Active());
        }
        if (cannot) CameraError("The sound input cannot pause: the sound of the pause is kept.");
    }
    return true;
}

bool TScreenCamera::ResumeRecording() {
    if (!Paused) return false;
    const std::int64_t steadyNs = SteadyNowNs();
    if (soundPaused_)
        for (SoundInput& input : sound_)
            if (input.recording && input.recorder) input.recorder->PauseCapture(false, steadyNs);
    soundPaused_ = false;
    // Before the flag: the loop reads the paused time once it sees the resume.
    pausedMs_ += clock_->timeGetTime() - pausedAtMs_;
    Paused = false;
    return true;
}

void TScreenCamera::RecordThreadDone() {
    Recording = false;
    delete worker_;  // joins; the body has already ended
    worker_ = nullptr;
    std::lock_guard lock(desktopLock_);
    windowSource_.reset();
}

int TScreenCamera::EndRun(int result) {
    Recording = false;
    LastStop = StopReason::Aborted;
    auto alive = alive_;
    host_.PostToUiThread([this, alive] {
        if (!*alive) return;
        frame_->Hide();
        frameTimer_->SetEnabled(false);
    });
    if (RestoreAfterRecord) host_.RestoreApplication();
    return result;
}

void TScreenCamera::FrameTimerTick() {
    if (!Recording) DeriveModes();
    // A recorded window is its own frame.
    if (!Recording || FullScreen || WindowMode) {
        frame_->Hide();
        return;
    }
    if (Paused) {
        // A paused recording's frame stands still, painted once with the
        // caption that says so; nothing follows the mouse meanwhile.
        if (!framePaused_ && ShowFrame) {
            const std::string caption = host_.MessageText(23);
            frame_->SetupRegion(Left, Top, Width, Height, CornersOnly, caption);
            frame_->PaintFrame(caption);
            frame_->ShowOnTop();
        }
        framePaused_ = true;
        return;
    }
    framePaused_ = false;
    if (FollowMouse) {
        platform::ForeignCursor cursor;
        int screenWidth = 0, screenHeight = 0;
        {
            std::lock_guard lock(desktopLock_);
            if (desktop_) {
                cursor = desktop_->foreignCursor();
                screenWidth = desktop_->width();
                screenHeight = desktop_->height();
            }
        }
        int left = std::max(cursor.x - Width / 2, 0);
        int top = std::max(cursor.y - Height / 2, 0);
        if (left + Width > screenWidth) left = screenWidth - Width;
        if (top + Height > screenHeight) top = screenHeight - Height;
        Left = left;
        Top = top;
    }
    if (ShowFrame) {
        const std::string caption = host_.MessageText(8);
        frame_->SetupRegion(Left, Top, Width, Height, CornersOnly, caption);
        frame_->PaintFrame(caption);
        frame_->ShowOnTop();
    } else {
        frame_->Hide();
    }
}

void TScreenCamera::AppMinimized() {
    if (frame_ && frame_->IsShowing()) frame_->Restore();
}

const std::vector<std::string>& TScreenCamera::ListAudioFormats() {
    audioFormatNames_.clear();
    if (TEngineAudioRecorder* recorder = sound_[0].recorder.get()) {
        for (int format = 1; format <= 20; ++format)
            audioFormatNames_.push_back(recorder->FormatDescription(format));
        if (AudioFormatIndex == -1) AudioFormatIndex = recorder->DefaultPCMFormat() - 1;
    }
    return audioFormatNames_;
}

AudioInputInfo TScreenCamera::ListAudioInputs() {
    audioInputNames_.clear();
    audioInputSources_.clear();
    audioInput_ = AudioInputInfo{&audioInputNames_, -1, &audioInputSources_};
    if (!mixer_) return audioInput_;
    mixer_->SetMixerID(0);
    const int destinations = mixer_->DestinationCount();
    for (int d = 0; d < destinations; ++d) {
        mixer_->SetDestinationID(d);
        if (!mixer_->MasterHasSelect()) continue;
        const int selected = mixer_->GetSelectedSource();
        audioInput_.selected = selected;
        const int lines = mixer_->LineCount();
        for (int i = 0; i < lines; ++i) {
            audioInputNames_.push_back(mixer_->LineName(i));
            audioInputSources_.push_back(mixer_->LineSource(i));
        }
    }
    return audioInput_;
}

void TScreenCamera::SelectAudioInput(int index) {
    if (!mixer_) return;
    mixer_->SetMixerID(0);
    mixer_->SelectSource(index);
}

void TScreenCamera::SetAudioInputVolume(int percent) {
    if (sound_[0].recorder) sound_[0].recorder->SetGain(percent);
}

void TScreenCamera::SelectSecondAudioInput(const std::string& source) {
    // Not while a run uses the inputs: the next one takes it.
    if (worker_) return;
    sound_[1].source = source;
    if (!source.empty() && !sound_[1].recorder) {
        sound_[1].recorder = host_.CreateAudioRecorder();
        if (sound_[1].recorder) sound_[1].recorder->SetGain(sound_[1].volume);
    }
}

bool TScreenCamera::DefaultAudioInputs(std::string& microphone, std::string& outputMonitor) {
    microphone.clear();
    outputMonitor.clear();
    return mixer_ && mixer_->DefaultSources(microphone, outputMonitor);
}

void TScreenCamera::SetSecondAudioVolume(int percent) {
    sound_[1].volume = percent;
    if (sound_[1].recorder) sound_[1].recorder->SetGain(percent);
}

std::string TScreenCamera::SecondInputTitle() {
    const std::string& wanted = sound_[1].source;
    const AudioInputInfo inputs = ListAudioInputs();
    for (std::size_t i = 0; i < audioInputSources_.size(); ++i) {
        if (audioInputSources_[i] != wanted) continue;
        if (static_cast<int>(i) == inputs.selected) {
            CameraError("The second sound input \"" + audioInputNames_[i] +
                        "\" is the first input too; it is recorded once.");
            return {};
        }
        return audioInputNames_[i].empty() ? wanted : audioInputNames_[i];
    }
    CameraError("The second sound input \"" + wanted +
                "\" is not there; the first input is recorded alone.");
    return {};
}

}  // namespace velmora::engine
