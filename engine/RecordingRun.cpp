// One recording run on the worker: probe, negotiation, the temporary video
// file, the capture loop, audio beside it, and the merge after an orderly stop.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>

#include "common/Functions.h"
#include "engine/FramePipeline.h"
#include "engine/ScreenCamera.h"
#include "engine/WaveHeader.h"
#include "engine/SoundMix.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

using namespace vfw;

namespace {
constexpr FOURCC kDefaultHandler = MakeFourCC('M', 'S', 'V', 'C');
// Longest sleep between checks of the stop flag.
constexpr std::int64_t kMaxSleepMs = 10;
// How long the merge waits for the recorder to finish the WAV file.
constexpr int kAudioCloseTimeoutMs = 10000;
// A first sample dated further than this from the loop's start is no sound
// server's latency but a clock mix-up: the sound is then left as it is.
constexpr std::int64_t kMaxSoundShiftMs = 5000;
// The sound server hands samples over this long after they were taken: the
// recorder runs that much past the last frame's end so the sound lasts as
// long as the picture.
constexpr std::int64_t kSoundHandOverMs = 30;
// How often the loop looks whether the recording's folder is still there.
constexpr std::int64_t kFolderCheckMs = 1000;
const char* const kWriteError = "Error on write data to AVI stream.";
const char* const kStoppedBeforeTheFirstFrame =
    "The recording was stopped before its first frame: nothing was recorded.";
}  // namespace

std::int32_t TScreenCamera::FrameIndexAt(std::int64_t elapsedMs, std::uint32_t framesPerSecond) {
    if (elapsedMs <= 0 || framesPerSecond == 0) return 0;
    // elapsed * fps / 1000 in whole numbers, so ties are exact.
    const std::int64_t scaled = elapsedMs * framesPerSecond;
    std::int64_t index = scaled / 1000;
    const std::int64_t rest = scaled % 1000;
    if (rest > 500 || (rest == 500 && index % 2 != 0)) ++index;
    return static_cast<std::int32_t>(index);
}

std::string TScreenCamera::FormatElapsed(std::int64_t elapsedMs) {
    std::int64_t seconds = elapsedMs / 1000;
    std::int64_t minutes = seconds / 60;
    const std::int64_t hours = seconds / 3600;
    seconds -= 60 * minutes;
    minutes -= 60 * hours;
    if (elapsedMs >= 3600000)
        return std::to_string(hours) + "h " + std::to_string(minutes) + "m " +
               std::to_string(seconds) + "s";
    if (elapsedMs >= 60000) return std::to_string(minutes) + "m " + std::to_string(seconds) + "s";
    return std::to_string(seconds) + "s";
}

int TScreenCamera::RunRecording(std::string targetFile) {
    // Beside the file they become: a recording into another folder (another
    // disk, after a full one) takes its temporary files with it.
    TempVideoFile = FolderOf(targetFile) + kTempVideoName;
    TempAudioFile = FolderOf(targetFile) + kTempAudioName;
    TempAudio2File = FolderOf(targetFile) + kTempAudio2Name;
    ActualWidth = static_cast<std::uint32_t>(Width);
    ActualHeight = static_cast<std::uint32_t>(Height);
    aviErrorPending_ = false;
    grabFailedInLoop_ = false;
    leaveTempVideo_ = false;
    writeError_ = 0;
    soundWriteFailed_ = false;
    folderError_ = false;
    loopStarted_ = false;
    for (SoundInput& input : sound_) {
        input.leaveTemp = false;
        input.recording = false;
        input.firstSampleNs = -1;
        input.placing = {};
        input.complete = true;
        input.failure.clear();
        input.held.Release();
    }
    heldVideo_.Release();
    recordingFolder_ = {};
    folderLossTold_ = false;
    movedNote_.clear();

    // The screen is held from the probe to the loop's end: on Wayland the
    // sharing (and the desktop's indicator of it) lasts while the recording
    // does, not through its merge, and a Record may ask for it once.
    struct ScreenUse {
        platform::Desktop* desktop;
        ScreenUse(platform::Desktop* d, bool cursor) : desktop(d) {
            if (desktop) desktop->beginCapture(cursor);
        }
        ~ScreenUse() { Release(); }
        void Release() {
            if (desktop) desktop->endCapture();
            desktop = nullptr;
        }
    } screenUse(
        [this] {
            std::lock_guard lock(desktopLock_);
            return CaptureSource();
        }()
            .get(),
        CaptureCursor);
    if (WindowMode) {
        // On the portal the window is picked in the desktop's dialog only
        // now: the recording takes its size from then.
        std::shared_ptr<platform::Desktop> source;
        {
            std::lock_guard lock(desktopLock_);
            source = CaptureSource();
        }
        if (source) {
            source->prepareCapture();
            Width = ScreenWidth = source->width();
            Height = ScreenHeight = source->height();
            ActualWidth = static_cast<std::uint32_t>(Width);
            ActualHeight = static_cast<std::uint32_t>(Height);
        }
    }
    PackedDib probe = GrabFrame(Left, Top, Width, Height);
    if (!probe) {
        CameraError("Error capturing a frame from screen.");
        EndedByFailure = true;
        if (RestoreAfterRecord) host_.RestoreApplication();
        return 0;
    }
    {
        // The rerun with 'MSVC' skips the questions but must still fit the
        // area to it: the size chosen for the previous compressor may not do.
        int result = 0;
        const Negotiation n = skipNegotiation_ ? FitToDefaultCompressor(probe, result)
                                               : NegotiateCompressor(probe, result);
        if (n == Negotiation::Ended) return result;
    }

    if (CreateOutput(probe)) {
        FreeFrame(probe);
        if (OnStart) OnStart(this);
        if (StartSound()) CaptureLoop();
    }
    FreeFrame(probe);
    screenUse.Release();

    if (OnStop) OnStop(this);
    const bool framesInFile = loopStarted_ && FramesWritten > 0;
    if (!ReleaseOutput() && !aviErrorPending_) {
        if (!writeError_) writeError_ = AVIGetLastSystemError();
        if (!framesInFile) CameraError(kWriteError);
        aviErrorPending_ = true;
    }
    StopAudio();
    if (loopStarted_) FinishInAnotherFolder(targetFile);
    if (RestoreAfterRecord) host_.RestoreApplication();
    // A full disk is no fault of the compressor: no question about another
    // one. What was written is saved like a stopped recording (the libraries
    // read a temporary video whose end could not be written).
    const bool diskFull = writeError_ == ENOSPC || writeError_ == EDQUOT;
    if (diskFull) {
        aviErrorPending_ = false;
        CameraError(DiskFullText(FolderOf(soundWriteFailed_ ? TempAudioFile : TempVideoFile)) +
                    (framesInFile ? " The recording was stopped; what was recorded is saved."
                                  : " The recording was stopped."));
    } else if (soundWriteFailed_) {
        const std::string* file = &TempAudioFile;
        for (SoundInput& input : sound_)
            if (input.recording && input.recorder && input.recorder->WriteError() != 0) {
                file = input.tempFile;
                break;
            }
        CameraError("Can not write the sound file: " + FileErrorReason(*file, writeError_));
    }
    if (aviErrorPending_ && framesInFile) {
        // What was recorded before the error is not thrown away, whatever
        // the answer to the question below.
        std::string text = kWriteError;
        KeepTempFiles(targetFile, text);
        CameraError(text);
    }

    // A failing grab must not lose what was recorded before it.
    // Nothing written (a stop during a question): there is no recording to merge.
    const bool stoppedByWriteError = diskFull || soundWriteFailed_;
    const bool merge = loopStarted_ && FramesWritten > 0 &&
                       (grabFailedInLoop_ || stoppedByWriteError ? !destroying_.load()
                                                                 : LastStop == StopReason::Stopped);
    // What ends the recording here is a failure; a No to a question is not.
    if (grabFailedInLoop_ || stoppedByWriteError || (aviErrorPending_ && folderError_))
        EndedByFailure = true;
    if (!aviErrorPending_ && merge) MergeRecording(targetFile);
    // Stopped before a frame was taken (F10 or --stop right after the start,
    // or during a question): no file, and the user is told why.
    if (LastStop == StopReason::Stopped && FramesWritten == 0 && !aviErrorPending_ &&
        !stoppedByWriteError && !grabFailedInLoop_ && !destroying_.load())
        CameraError(kStoppedBeforeTheFirstFrame);
    // Files the merge deleted keep their space while they are held.
    heldVideo_.Release();
    for (SoundInput& input : sound_) input.held.Release();
    LeaveLibrary();
    // The loop left on its own; the recording is over.
    if (stoppedByWriteError && !aviErrorPending_) return EndRun(0);

    // Another compressor would meet the same folder: no question then.
    if (aviErrorPending_ && folderError_) return EndRun(0);
    if (aviErrorPending_) {
        if (CompressorHandler != kDefaultHandler) {
            if (Ask("Error: Not recording AVI file using current compressor.\r\nUse default "
                    "compressor? ")) {
                CompressorHandler = kDefaultHandler;
                CompressorName = "MS Video Codec";
                LastStop = StopReason::Aborted;
                skipNegotiation_ = true;
                return -1;
            }
            CameraError("User aborted!");
            return EndRun(0);
        }
        CameraError("Error creating AVI file with \"MS Video Codec\".");
        EndedByFailure = true;
        return EndRun(0);
    }
    return 1;
}

void TScreenCamera::AbandonRun() {
    EndedByFailure = true;
    // Each step on its own: one that throws must not skip the next.
    auto step = [](auto&& fn) {
        try {
            fn();
        } catch (...) {
        }
    };
    step([this] { ReleaseOutput(); });
    step([this] { StopAudio(); });
    heldVideo_.Release();
    for (SoundInput& input : sound_) input.held.Release();
    for (PAVISTREAM& s : mergeStreams_) {
        if (s) AVIStreamRelease(s);
        s = nullptr;
    }
    step([this] { LeaveLibrary(); });
    step([this] { EndRun(0); });
}

bool TScreenCamera::StartSound() {
    if (!RecordAudio) return true;
    // The second input goes beside the first when it was found as the
    // recording started.
    const bool second = !secondTitle_.empty() && sound_[1].recorder;
    for (std::size_t i = 0; i < sound_.size(); ++i) {
        SoundInput& input = sound_[i];
        input.recording = input.recorder && (i == 0 || second);
        input.title = !input.recording ? std::string() : i == 0 ? firstTitle_ : secondTitle_;
    }
    // Both names cleared first: a file in the way stops the run before
    // either input runs.
    for (SoundInput& input : sound_) {
        if (!input.recording) continue;
        const std::string kept = ClearTempName(*input.tempFile);
        if (kept.empty()) continue;
        CameraError("Can not delete audio temp file: " + kept + ".");
        aviErrorPending_ = true;
        folderError_ = true;
        for (SoundInput& other : sound_) other.recording = false;
        return false;
    }
    const bool two = SoundInputsRecording() == 2;
    for (std::size_t i = 0; i < sound_.size(); ++i) {
        SoundInput& input = sound_[i];
        if (!input.recording) continue;
        try {
            input.recorder->SetPCMFormat(AudioFormatIndex + 1);
            input.recorder->SetAsync(true);
            // Beside another input its errors say whose they are.
            input.recorder->SetInput(i == 0 ? std::string() : input.source,
                                     two ? input.title : std::string());
            const bool opened = input.recorder->RecordToFile(*input.tempFile);
            input.own = IdentityOf(*input.tempFile);
            input.held.Hold(*input.tempFile, input.own);
            if (!opened) {
                input.failure = input.recorder->SoundFailure();
                if (input.failure.empty())
                    input.failure =
                        (two ? input.title + ": " : std::string()) + "the sound input did not open";
            }
        } catch (const std::exception& e) {
            // Recording goes on without this sound; the merge finds no WAV.
            CameraError(e.what());
            input.failure = e.what();
        } catch (...) {
        }
    }
    return true;
}

int TScreenCamera::SoundInputsRecording() const {
    return static_cast<int>(std::count_if(sound_.begin(), sound_.end(),
                                          [](const SoundInput& i) { return i.recording; }));
}

std::string TScreenCamera::SoundFailures() const {
    std::string text;
    for (const SoundInput& input : sound_)
        if (input.recording && !input.failure.empty())
            text += (text.empty() ? "" : "; ") + input.failure;
    return text;
}

void TScreenCamera::StopAudio() {
    if (!RecordAudio) return;
    // Both run on until the picture's end has been handed over; then each
    // is stopped.
    bool active = false;
    for (SoundInput& input : sound_) {
        try {
            active = active || (input.recording && input.recorder && input.recorder->Active());
        } catch (...) {
        }
    }
    if (active && loopStarted_) {
        const std::int64_t until = videoEndMs_ + kSoundHandOverMs;
        for (std::int64_t now = clock_->timeGetTime(); now < until; now = clock_->timeGetTime())
            clock_->Sleep(std::min(until - now, kMaxSleepMs));
    }
    for (SoundInput& input : sound_)
        if (input.recording && input.recorder) StopSound(input);
}

void TScreenCamera::StopSound(SoundInput& input) {
    TEngineAudioRecorder& recorder = *input.recorder;
    const bool two = SoundInputsRecording() == 2;
    try {
        if (recorder.Active()) {
            // The recorder closes the WAV file on its own thread; the merge may
            // read it only once that has happened. The second stop request is
            // made only while the close is pending: after it, it would raise
            // "already closed".
            recorder.SetActive(false);
            if (recorder.Active()) recorder.Stop();
            if (!recorder.WaitForInactive(kAudioCloseTimeoutMs)) {
                input.complete = false;
                CameraError(two ? "The sound recorder of \"" + input.title +
                                      "\" did not finish its sound file; the video is saved "
                                      "without that sound."
                                : std::string("The sound recorder did not finish the sound file; "
                                              "the video is saved without sound."));
            }
        }
        input.firstSampleNs = recorder.FirstSampleTime();
        for (const auto& stall : recorder.Corrections().stalls) {
            const std::int64_t tenths = (stall.lengthMs + 50) / 100;
            CameraError(
                (two ? "The sound input \"" + input.title + "\"" : std::string("The sound input")) +
                " delivered nothing for " + std::to_string(tenths / 10) + "." +
                std::to_string(tenths % 10) + " s from " + FormatElapsed(stall.atMs) +
                " on; the recording has silence there.");
        }
        // Sound stored after the loop ended (the hand-over, the final sizes)
        // fails unseen by the loop: told like a failed write in it.
        if (loopStarted_ && !soundWriteFailed_)
            if (const int error = recorder.WriteError(); error != 0)
                CameraError("Can not write the sound file: " +
                            FileErrorReason(*input.tempFile, error));
        // The file at the name now is the one the recorder finished (the
        // name was cleared before it started).
        if (loopStarted_ && FileExists(*input.tempFile)) input.own = IdentityOf(*input.tempFile);
        if (input.failure.empty()) input.failure = recorder.SoundFailure();
    } catch (const std::exception& e) {
        CameraError(e.what());
    } catch (...) {
    }
}

SoundPlacing TScreenCamera::PlacingOf(const SoundInput& input) const {
    if (!loopStarted_ || input.firstSampleNs < 0) return {};
    // Positive: the first sample was taken after the first frame.
    const std::int64_t shift = clock_->FromSteadyNs(input.firstSampleNs) - loopStartMs_;
    if (shift > kMaxSoundShiftMs || shift < -kMaxSoundShiftMs) return {};
    // Begun with the picture, it ends with it too: what the recorder took
    // while the last frames were still being compressed is no part of it.
    return {shift, videoLengthMs_, -1};
}

void TScreenCamera::OpenSoundStreams(int first, bool refused[2]) {
    std::vector<SoundInput*> taken;
    for (std::size_t i = 0; i < sound_.size(); ++i) {
        SoundInput& input = sound_[i];
        refused[i] = false;
        if (!input.recording || !input.complete || !FileExists(*input.tempFile)) continue;
        // A header the merge cannot trust gives a file nothing opens: the
        // video goes without it, the sound is kept.
        if (const std::string fault = WaveFormatFault(*input.tempFile); !fault.empty()) {
            refused[i] = true;
            CameraError("The sound file cannot be merged (" + fault + "); the video is saved " +
                        (SoundInputsRecording() == 2
                             ? "without the sound of \"" + input.title + "\"."
                             : std::string("without sound.")));
            continue;
        }
        taken.push_back(&input);
    }
    if (taken.size() < 2) {
        if (!taken.empty()) {
            OpenTempStream(*taken[0]->tempFile, mergeStreams_[first]);
            mergePlacing_[first] = taken[0]->placing = PlacingOf(*taken[0]);
        }
        return;
    }
    // Two inputs: where one stopped early, its stretch is silence to the
    // end of the other's; where both did (the sound server went away), to
    // the picture's end, as the log says.
    const bool bothStopped = std::all_of(taken.begin(), taken.end(),
                                         [](const SoundInput* i) { return !i->failure.empty(); });
    std::int64_t lengthMs = bothStopped && loopStarted_ ? videoLengthMs_ : 0;
    std::vector<SoundPlacing> placings;
    for (SoundInput* input : taken) {
        const SoundPlacing placing = placings.emplace_back(PlacingOf(*input));
        WaveData data;
        std::string error;
        if (!ReadWaveData(*input->tempFile, data, error)) continue;
        // Its length on the picture's timeline.
        std::int64_t placedMs = std::max<std::int64_t>(data.LengthMs() + placing.startMs, 0);
        if (placing.cutAtMs >= 0) placedMs = std::min(placedMs, placing.cutAtMs);
        lengthMs = std::max(lengthMs, placedMs);
        if (input->failure.empty()) continue;
        std::string why = input->failure;
        if (why.starts_with(input->title + ": ")) why.erase(0, input->title.size() + 2);
        CameraError("The sound input \"" + input->title + "\" stopped at " +
                    FormatElapsed(placedMs) + " (" + std::to_string(placedMs) +
                    " ms); the recording has silence from it after that: " + why);
    }
    for (std::size_t i = 0; i < taken.size(); ++i) {
        placings[i].padToMs = lengthMs;
        taken[i]->placing = placings[i];
    }
    if (SeparateSoundTracks) {
        for (std::size_t i = 0; i < taken.size(); ++i) {
            const int slot = first + static_cast<int>(i);
            PAVISTREAM& stream = mergeStreams_[slot];
            OpenTempStream(*taken[i]->tempFile, stream);
            mergePlacing_[slot] = placings[i];
            // For editing afterwards: each track says whose it is.
            if (stream) EditStreamSetName(stream, taken[i]->title.c_str());
        }
        return;
    }
    mixFile_ = FolderOf(TempVideoFile) + kTempMixName;
    std::string error;
    if (!RemoveTempFile(mixFile_) ||
        !MixWaveFiles(*taken[0]->tempFile, placings[0], *taken[1]->tempFile, placings[1],
                      mixFile_, error)) {
        // The first input alone rather than no sound; the second's is kept.
        CameraError("Can not mix the two sound inputs" + (error.empty() ? "" : ": " + error) +
                    "; the sound of \"" + taken[0]->title + "\" is saved alone.");
        refused[taken[1] - sound_.data()] = true;
        RemoveTempFile(mixFile_);
        mixFile_.clear();
        OpenTempStream(*taken[0]->tempFile, mergeStreams_[first]);
        mergePlacing_[first] = placings[0];
        return;
    }
    OpenTempStream(mixFile_, mergeStreams_[first]);
}

void TScreenCamera::MergeRecording(const std::string& targetFile) {
    for (PAVISTREAM& s : mergeStreams_) s = nullptr;
    for (SoundPlacing& p : mergePlacing_) p = {};
    mixFile_.clear();
    if (mergeAbandoned_) {
        // The program is going away before the merge began: the temporary
        // files stay for the next start.
        leaveTempVideo_ = true;
        std::string text = "The recording was not merged; it is left in: " + TempVideoFile;
        for (SoundInput& input : sound_) {
            input.leaveTemp = true;
            if (RecordAudio && input.recording && FileExists(*input.tempFile))
                text += ", " + *input.tempFile;
        }
        CameraError(text);
        return;
    }
    OpenTempStream(TempVideoFile, mergeStreams_[0]);
    bool refused[2] = {false, false};
    if (RecordAudio) OpenSoundStreams(1, refused);
    // Only streams that opened are handed on, video first.
    PAVISTREAM streams[3] = {nullptr, nullptr, nullptr};
    SoundPlacing placings[3];
    int count = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (!mergeStreams_[i]) continue;
        placings[count] = mergePlacing_[i];
        streams[count++] = mergeStreams_[i];
    }
    if (count > 0) MergeToFile(targetFile, count, streams, placings);
    const bool videoMerged = mergeStreams_[0] != nullptr;
    for (PAVISTREAM& s : mergeStreams_) {
        if (s) AVIStreamRelease(s);
        s = nullptr;
    }
    // The mix was made for the merge alone: the inputs' files stay the
    // recording until the merge is done.
    if (!mixFile_.empty()) RemoveTempFile(mixFile_);
    mixFile_.clear();
    // A temporary file that did not go into the merge (unreadable video,
    // unfinished sound) may be all there is of it: it is kept, not deleted.
    unsigned keptSound = 0;
    for (std::size_t i = 0; i < sound_.size(); ++i)
        if (RecordAudio && sound_[i].recording && (!sound_[i].complete || refused[i]))
            keptSound |= 1u << i;
    std::string text;
    KeepTempFiles(targetFile, text, !videoMerged, keptSound);
    if (!text.empty()) CameraError(text.substr(1));
}

void TScreenCamera::WaitForIndex(std::int64_t start, std::int32_t index, std::int64_t limitMs,
                                 const std::function<bool()>& interrupted) {
    // The first moment whose time index reaches `index`.
    const std::uint32_t fps = std::max<std::uint32_t>(FramesPerSecond, 1);
    std::int64_t due = (1000 * static_cast<std::int64_t>(index) - 500 + fps - 1) / fps;
    while (FrameIndexAt(due, fps) < index) ++due;
    // The time limit is checked in the pass that reaches it, not one frame later.
    const std::int64_t now0 = clock_->timeGetTime() - start;
    if (limitMs >= 0 && now0 < limitMs && limitMs < due) due = limitMs;
    // Sleeps toward the deadline itself, waking at least every 10 ms for the
    // stop flag; the last wake is the deadline, so the grab is on time.
    while (Recording && !Paused && !interrupted()) {
        const std::int64_t now = clock_->timeGetTime() - start;
        if (now >= due) return;
        clock_->SleepUntil(start + std::min(due, now + kMaxSleepMs));
    }
}

void TScreenCamera::WaitWhilePaused() {
    while (Recording && Paused) clock_->Sleep(kMaxSleepMs);
}

void TScreenCamera::CaptureLoop() {
    SetRecordedSeconds(0);
    std::int64_t lastUpdate = 0;
    // The last frame queued for writing, and how many were queued.
    std::int32_t lastIndex = 0, queued = 0;
    LastInterval = 0.0;
    FramesWritten = 0;
    FramesDropped = 0;
    bool rateWarned = false;
    std::int64_t nextFolderCheck = kFolderCheckMs;
    const std::uint32_t fps = std::max<std::uint32_t>(FramesPerSecond, 1);

    // The frames the loop grabs into, made before the clock starts.
    FramePipeline pipeline(frameFormat_, clock_, [this](PackedDib frame, std::int32_t index) {
        return WriteFrame(frame, index);
    });
    // The conversion into 4:2:0 frames, set up before the clock starts too.
    if (vfw::isYuvFormat(frameFormat_.biCompression))
        yuvGrab_ = std::make_unique<YuvGrab>(frameFormat_, ScreenBitsPerPixel);
    struct YuvGrabEnd {
        std::unique_ptr<YuvGrab>& grab;
        ~YuvGrabEnd() { grab.reset(); }
    } yuvGrabEnd{yuvGrab_};
    const bool started = pipeline.Ready() && pipeline.Start();
    // The writer (and the codec's threads, made before) keep normal
    // scheduling; the request is made before the clock starts, so it cannot
    // make the first frame late. Every way out of the loop gives the thread
    // back its normal scheduling.
    struct Realtime {
        TScreenCamera& camera;
        bool on;
        ~Realtime() {
            if (on) camera.LeaveRealtimeGrabs();
        }
    } realtime{*this, started && EnterRealtimeGrabs()};
    const std::int64_t start = clock_->timeGetTime();
    loopStartMs_ = start;
    pausedMs_ = 0;
    loopStarted_ = true;
    videoEndMs_ = start + 1000 / fps;
    videoLengthMs_ = 1000 / fps;
    if (!started) {
        // No memory for the frames is no screen to grab.
        CameraError("Error capturing a frame from screen.");
        grabFailedInLoop_ = true;
        return;
    }
    bool first = true;
    // A pause may begin from now on; one still on when the loop ends is over.
    capturing_ = true;
    struct PauseEnd {
        TScreenCamera& camera;
        ~PauseEnd() {
            camera.capturing_ = false;
            camera.Paused = false;
        }
    } pauseEnd{*this};

    // The writer's figures, as the window reads them in OnUpdate.
    auto takeFigures = [&] {
        FramesWritten = pipeline.Written();
        LastInterval = static_cast<double>(pipeline.LastIntervalMs());
    };
    // A write that failed ends the recording as it always did.
    bool writeFailed = false;
    auto noteWriteFailure = [&] {
        // A write that threw ends the run as an exception, as it always did.
        if (writeFailed || !pipeline.Failed() || pipeline.Threw()) return;
        writeFailed = true;
        takeFigures();
        writeError_ = pipeline.FailureSystemError();
        // With frames in the file the message waits until the file is
        // finished and kept, so that it can say where. A full disk
        // says so instead.
        if (FramesWritten == 0 && writeError_ != ENOSPC && writeError_ != EDQUOT)
            CameraError(kWriteError);
        aviErrorPending_ = true;
    };

    const std::int64_t limitMs =
        TimeLimit.Enabled
            ? 1000 * (TimeLimit.Hours * 3600 + TimeLimit.Minutes * 60 + TimeLimit.Seconds)
            : -1;
    while (Recording && !pipeline.Failed()) {
        if (Paused) {
            // Nothing is grabbed while paused, and recording time stands
            // still: the window learns of it once, with the figures as they are.
            if (OnUpdate) OnUpdate(this);
            WaitWhilePaused();
            continue;
        }
        const std::int64_t elapsed = clock_->timeGetTime() - RecordingTimeZero();
        const std::int32_t width = Width, height = Height;
        std::int32_t left = Left, top = Top;
        if (FollowMouse) {
            // Grabbed where computed: the frame timer moves Left and Top too.
            const platform::ForeignCursor cursor = QueryForeignCursor();
            left = cursor.x - width / 2;
            top = cursor.y - height / 2;
            Left = left;
            Top = top;
        }
        CurrentFrameIndex = FrameIndexAt(elapsed, FramesPerSecond);
        const bool wanted = first || CurrentFrameIndex > lastIndex;
        // No free frame: the writer is behind, and this one could not wait
        // for it. Grabbing it would only take time from the writer.
        FramePipeline::Slot* slot = wanted ? pipeline.Acquire() : nullptr;
        if (slot && !GrabInto(slot->frame, left, top)) {
            pipeline.Return(slot);
            if (CaptureTargetClosed()) {
                // Nothing more to record: saved as after a stop.
                CameraError("The recorded window was closed.");
                StopRecording();
                break;
            }
            CameraError("Error capturing a frame from screen.");
            grabFailedInLoop_ = true;
            break;
        }
        if (slot) {
            first = false;
            slot->index = CurrentFrameIndex;
            slot->elapsed = elapsed;
            pipeline.Queue(slot);
            lastIndex = CurrentFrameIndex;
            ++queued;
        }
        // Every index up to this one has a frame queued or is dropped (one
        // that found no slot earlier in this index may have found one since).
        if (!first) FramesDropped = CurrentFrameIndex + 1 - queued;
        takeFigures();
        // The sound cannot be stored (a full disk): stop here, keep the rest.
        if (RecordAudio)
            for (SoundInput& input : sound_)
                if (input.recording && input.recorder && input.recorder->WriteError() != 0) {
                    writeError_ = input.recorder->WriteError();
                    soundWriteFailed_ = true;
                }
        if (soundWriteFailed_) break;

        SetRecordedSeconds(elapsed / 1000);
        ElapsedText = FormatElapsed(elapsed);

        if (!rateWarned) rateWarned = WarnOfSlowCodec(pipeline.MeanWriteMs());
        // A folder removed or unmounted under the recording is said when it
        // happens; the writers go on into the files they hold.
        if (elapsed >= nextFolderCheck) {
            nextFolderCheck = elapsed + kFolderCheckMs;
            if (!folderLossTold_ && RecordingFolderLost()) TellFolderLoss();
        }
        if (elapsed > lastUpdate + 50) {
            lastUpdate = elapsed;
            if (OnUpdate) OnUpdate(this);
        }
        // Reached rather than equal: a pass that comes late must not miss the limit.
        if (TimeLimit.Enabled &&
            elapsed / 1000 >= TimeLimit.Hours * 3600 + TimeLimit.Minutes * 60 + TimeLimit.Seconds)
            StopRecording();

        // Nothing new can be written before the next index is due: sleep
        // instead of grabbing frames that would be thrown away.
        WaitForIndex(RecordingTimeZero(), CurrentFrameIndex + 1, limitMs,
                     [&] { return pipeline.Failed(); });
    }
    noteWriteFailure();
    // A stop with frames still queued: they are part of the recording.
    pipeline.Finish();
    noteWriteFailure();
    takeFigures();
    // The picture lasts until the frame after the last written one.
    const std::int64_t fileMs =
        1000 * (static_cast<std::int64_t>(pipeline.LastWrittenIndex()) + 1) / fps;
    videoEndMs_ = RecordingTimeZero() + fileMs;
    videoLengthMs_ = fileMs;
    // The time shown and logged is the last frame's, to the nearest second as
    // a clock shows it: its 1.93 s in a 2.0 s file at 15 fps say 2s, not 1s.
    if (pipeline.LastWrittenIndex() >= 0) {
        const std::int64_t lastFrameMs = 1000 * std::int64_t{pipeline.LastWrittenIndex()} / fps;
        const std::int64_t seconds = (lastFrameMs + 500) / 1000;
        SetRecordedSeconds(seconds);
        ElapsedText = FormatElapsed(seconds * 1000);
    }
}

bool TScreenCamera::WarnOfSlowCodec(double meanWriteMs) {
    const double intervalMs = 1000.0 / std::max<std::uint32_t>(FramesPerSecond, 1);
    if (meanWriteMs < 0 || meanWriteMs <= intervalMs) return false;
    char text[256];
    std::snprintf(text, sizeof text,
                  "The compressor \"%s\" cannot keep %u frames per second at %dx%d: it takes "
                  "%.1f ms a frame, enough for %.1f frames per second.",
                  CompressorName.c_str(), FramesPerSecond, static_cast<int>(Width),
                  static_cast<int>(Height), meanWriteMs, 1000.0 / meanWriteMs);
    CameraError(text);
    return true;
}

}  // namespace velmora::engine
