#pragma once
// TScreenCamera, the recording engine: one per process, owned by the main
// window. It records the screen (or an area of it) on its worker thread into
// "~tempvideo.avi" beside "~tempaudio.wav" (and "~tempaudio2.wav" for a
// second sound input), and merges them into the target file when a
// recording is stopped. It reports only through its events and
// the host; nothing is thrown to the caller.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/EngineAudio.h"
#include "common/OutputFormats.h"
#include "engine/CaptureMode.h"
#include "engine/CameraHost.h"
#include "engine/EngineClock.h"
#include "engine/encode/SoundPlacement.h"
#include "engine/PackedDib.h"
#include "engine/TempFiles.h"
#include "engine/YuvGrab.h"
#include "engine/vfw/Compressors.h"
#include "engine/vfw/Vfw.h"
#include "platform/x11/Desktop.h"

namespace velmora::engine {

class TScreenCamera;
class TRecordAVIThread;

// Process-wide values of the engine.
// The running recording's, in its target's folder (set as each run begins):
// the picture, the first sound input's and the second's.
extern std::string TempVideoFile, TempAudioFile, TempAudio2File;

using CompressorEntry = vfw::ICINFO;

// How the running or last recording ended: not yet, by a stop (the user's,
// the time limit's, the recorded window's closing), or aborted (a failure,
// a refusal, the engine going away).
enum class StopReason { None, Stopped, Aborted };

struct TTimeLimit {
    bool Enabled = false;
    std::uint8_t Hours = 0, Minutes = 0, Seconds = 0;
};

struct AudioInputInfo {
    const std::vector<std::string>* names = nullptr;  // engine-owned
    std::int32_t selected = -1;
    // The sound server's name of each input (beside names; empty where the
    // mixer is no server's): what SelectSecondAudioInput takes.
    const std::vector<std::string>* sources = nullptr;
};

// A recording left unmerged by a crash or a failed merge: its video and
// sound (any may be empty: audio2 is the second input's) and the file it is
// to be merged into.
struct TInterruptedRecording {
    std::string video, audio, target;
    std::string audio2;
    // video is a recording's own file as its writer left it ("<target>.part",
    // no sound files): it is finished in its own container, not merged.
    bool part = false;
    // Copies a killed merge of these files left ("<name>.part"): deleted
    // once the files are saved.
    std::vector<std::string> staleParts;
};

// TScreenCamera::FindInterruptedRecordings for the file format chosen. It
// reads the folder and nothing of an engine, so it may run on any thread (a
// folder that does not answer then holds only that thread).
std::vector<TInterruptedRecording> FindInterruptedRecordings(
    const std::string& folder, OutputFormat chosen, std::vector<std::string>* leftAlone = nullptr);

// How the grabbing thread is scheduled while it records: a real-time
// priority (set by the thread itself or granted by RealtimeKit), or normal
// scheduling and the system's reason.
struct TRealtimeGrabs {
    bool granted = false;
    int priority = 0;
    bool byRealtimeKit = false;
    std::string reason;
};

// The English sentence for the log.
std::string RealtimeGrabsText(const TRealtimeGrabs& grabs);

struct CompressorAbilities {
    bool hasAbout = false;
    bool hasConfigure = false;
};

// What may be injected; null members take the real thing.
// Opens the window to record as a desktop of its own; nullptr with error set
// when it cannot be recorded. onNote hears what the log is to tell.
using WindowOpener = std::function<std::shared_ptr<platform::Desktop>(
    std::uint64_t window, std::function<void(const std::string&)> onNote, std::string& error)>;

struct CameraOptions {
    std::shared_ptr<platform::Desktop> desktop;  // default: the X11 display
    std::shared_ptr<TEngineClock> clock;         // default: SystemClock()
    WindowOpener openWindow;                     // default: platform::OpenWindowDesktop
};

class TScreenCamera {
  public:
    // host is the owner window.
    explicit TScreenCamera(CameraHost& host, CameraOptions options = {});
    ~TScreenCamera();
    TScreenCamera(const TScreenCamera&) = delete;
    TScreenCamera& operator=(const TScreenCamera&) = delete;

    // ---------------------------------------------------------------- settings
    std::atomic<std::int32_t> Left{0}, Top{0};  // also written by the worker and the frame timer
    // Also written by the worker's negotiation while the frame timer reads them.
    std::atomic<std::int32_t> Width{300}, Height{300};
    CaptureMode Mode = CaptureMode::FollowMouse;
    // CaptureMode::Window: the window recorded, at its size when the recording starts.
    std::uint64_t CaptureWindow = 0;
    // CaptureMode::FullScreen: the monitor recorded, by RandR's name; "all" for every
    // monitor, empty (or one since unplugged) for the primary one.
    std::string Monitor;
    bool CaptureCursor = true;
    std::uint32_t FramesPerSecond = 10;
    std::int32_t FrameInterval = 100;  // 1000 div FramesPerSecond
    std::int32_t KeyFrameEvery = 8;
    std::int32_t Quality = 9000;
    std::int32_t CompressorIndex = -1;
    std::uint32_t ThreadPriority = 3;  // 0..6 idle .. time critical; other values: untouched
    bool RecordAudio = false;
    std::int32_t AudioFormatIndex = -1;
    // Two sound inputs go into the file as two sound streams (the first
    // input's first) instead of one track that mixes them.
    bool SeparateSoundTracks = false;
    bool MinimizeOnRecord = true;
    bool RestoreAfterRecord = true;
    TTimeLimit TimeLimit;
    // What the merge writes; a choice the recording's codecs do not allow
    // is changed there (and said in the log).
    OutputFormat FileFormat = OutputFormat::Avi;
    SoundCodec SoundCompression = SoundCodec::Pcm;
    // Where a recording is finished when its folder goes away under it
    // (removed, unmounted): the first of these that takes files.
    std::vector<std::string> FallbackFolders;

    // ---------------------------------------------------------------- state and results
    std::atomic<bool> Recording{false};
    std::atomic<StopReason> LastStop{StopReason::None};
    // The file the running (or last) recording goes to: set by
    // StartRecording, moved by the worker when the folder is lost. Any thread.
    std::string TargetFile() const;
    // The running (or last) recording's time, whole seconds as its clock
    // shows them. Any thread.
    std::int64_t RecordedSeconds() const { return recordedSeconds_; }
    // The running recording is paused: nothing is grabbed, compressed or
    // stored, and its time stands still.
    std::atomic<bool> Paused{false};
    // The last recording was ended by a failure, not by a stop or its time
    // limit; cleared by StartRecording.
    std::atomic<bool> EndedByFailure{false};
    // ... and the failure was the save after it (its files are kept).
    std::atomic<bool> SaveFailed{false};
    // The file the last recording was saved as, for the window to name;
    // empty until it is (cleared by StartRecording). Written on the worker,
    // read once it has ended.
    std::string SavedFile;
    // Its size in bytes as the worker saw it (the window's result line shows
    // it, and must not stat a folder that may not answer).
    std::int64_t SavedFileSize = 0;
    std::atomic<bool> FollowMouse{false}, FullScreen{false}, WindowMode{false};
    bool ShowFrame = true;
    bool CornersOnly = true;
    std::int32_t ScreenBitsPerPixel = 0;
    std::int32_t ScreenWidth = 0, ScreenHeight = 0;  // the whole X screen, read at each start
    std::uint32_t ActualWidth = 0, ActualHeight = 0;
    vfw::FOURCC CompressorHandler = vfw::MakeFourCC('M', 'S', 'V', 'C');
    std::string CompressorName = "Microsoft Video Codec";
    std::int32_t CurrentFrameIndex = 0;
    std::int32_t FramesWritten = 0;
    std::int32_t FramesDropped = 0;
    double LastInterval = 0.0;
    std::string ElapsedText;

    // The compressor catalogue: entries 0 .. CompressorCount - 1 are valid.
    std::array<CompressorEntry, 32> Compressors{};
    std::int32_t CompressorCount = 0;

    // ---------------------------------------------------------------- events
    // Raised on the worker thread (the catalogue's grab may raise OnCameraError
    // on the UI thread). Unset by default.
    std::function<void(TScreenCamera*)> OnUpdate;
    std::function<void(TScreenCamera*)> OnStart;
    std::function<void(TScreenCamera*)> OnStop;
    std::function<void(TScreenCamera*, const std::string&)> OnCameraError;
    std::function<void(TScreenCamera*, std::int32_t percent, bool& Continue)> OnSaveProgress;
    // Once per camera, at the first recording's grabs: how they are
    // scheduled. Unset, OnCameraError gets it as an English sentence.
    std::function<void(TScreenCamera*, const TRealtimeGrabs&)> OnRealtimeGrabs;

    // ---------------------------------------------------------------- UI thread
    void StartRecording(const std::string& targetFile);
    // Also called by the worker for the time limit.
    void StopRecording();
    // The recording goes on from its last frame after a resume, picture and
    // sound, as if the paused time had not been. False where there is
    // nothing to pause (no frame grabbed yet, paused already) or to resume.
    bool PauseRecording();
    bool ResumeRecording();
    void FrameTimerTick();
    // The shell calls it when the application has been minimised.
    void AppMinimized();

    const std::vector<std::string>& ListCompressors();
    void ConfigureCompressor(std::uint8_t index, vfw::HWND parent);
    CompressorAbilities QueryCompressor(std::uint8_t index);
    // The H.264 compressor's x264 preset, which its dialog edits too; kept by
    // the compressor for the process, so the settings file carries it over.
    // A name x264 does not have changes nothing.
    static std::string H264Preset();
    static void SetH264Preset(const std::string& preset);
    const std::vector<std::string>& ListAudioFormats();
    AudioInputInfo ListAudioInputs();
    void SelectAudioInput(int index);
    // Our gain on the recorded sound (percent on the desktop's volume scale,
    // 100 = as the input gives it); the input's own volume stays the desktop's.
    void SetAudioInputVolume(int percent);
    // A second input recorded beside the first, by the sound server's name
    // of its source (AudioInputInfo::sources); empty: none. An input that
    // is not there when a recording starts, or is the first input itself,
    // leaves the first alone, said once in the log.
    void SelectSecondAudioInput(const std::string& source);
    const std::string& SecondAudioInput() const { return sound_[1].source; }
    // The sound server's default microphone and its default output's
    // monitor by their source names (either may be empty); false where the
    // mixer is no server's.
    bool DefaultAudioInputs(std::string& microphone, std::string& outputMonitor);
    // Our gain on the second input's sound, on the same scale as the first's.
    void SetSecondAudioVolume(int percent);

    // Unmerged recordings in folder (ending in '/'): the temporary files
    // (target: the name of their start time there, with the file format's
    // extension) and recordings kept aside after a failed merge; none another
    // recording still writes.
    // A file under one of their names that is not a regular file of this
    // user is left alone and told in leftAlone, one log line each.
    std::vector<TInterruptedRecording> FindInterruptedRecordings(
        const std::string& folder, std::vector<std::string>* leftAlone = nullptr) const;
    // Merges them on the worker, one after another, each reported like a
    // merge; merged files are deleted, the others stay. False while a worker
    // runs.
    bool RecoverRecordings(std::vector<TInterruptedRecording> recordings);

    // The program is going away: a merge running now stops, one not begun
    // is not begun, and the temporary files are left for the next start.
    void AbandonMerge() { mergeAbandoned_ = true; }

    // True while a worker exists (recording or finishing its merge).
    bool WorkerRunning() const { return worker_ != nullptr; }
    TEngineTimer& FrameTimer() { return *frameTimer_; }

    // ---------------------------------------------------------------- worker thread
    // One recording run: 1 ended in order, 0 ended by a failure or a refusal,
    // -1 run again with the default compressor.
    int RunRecording(std::string targetFile);

    PackedDib GrabFrame(int left, int top, int width, int height);
    // Grabs the frame's size at (left, top) into a frame made before; false
    // when the screen cannot be read.
    bool GrabInto(PackedDib frame, int left, int top);
    // A 4:2:0 frame: the rows the desktop lends converted at once, else
    // grabbed into DIB rows and converted from them.
    bool GrabIntoYuv(PackedDib frame, int left, int top);
    // Runs use with the desktop grabbed from, made ready, under desktopLock_;
    // false without one.
    template <class Use>
    bool WithCaptureSource(Use use);  // defined where it is used (FrameGrabber)
    // The frame's DIB rows from the desktop, the cursor drawn in.
    bool GrabRows(platform::Desktop& desktop, PackedDib frame, int left, int top);
    void DrawCursor(platform::Desktop& desktop, const platform::DibRows& rows, int left, int top);
    // Allocates the frame block with its header; the rows stay zero.
    PackedDib BitmapToPackedDib(int width, int height, int bitsPerPixel);
    void FreeFrame(PackedDib& frame);
    platform::ForeignCursor QueryForeignCursor();
    // The recorded window has gone (destroyed; a hidden one records on).
    bool CaptureTargetClosed();

    void OpenTempStream(const std::string& fileName, vfw::PAVISTREAM& stream);
    // True when the target was written whole. The target's extension
    // follows the file format the streams allow.
    // placings: where each sound stream lies on the picture's timeline
    // (null: as recorded).
    bool MergeToFile(const std::string& target, int count, vfw::PAVISTREAM* streams,
                     const SoundPlacing* placings = nullptr);
    // The file format and sound these streams are saved with.
    OutputChoice ChooseOutput(int count, vfw::PAVISTREAM* streams) const;
    // The format a recording with the catalogue's compressor at index is
    // saved in when `wanted` is asked for: AVI where that container cannot
    // hold the codec; `wanted` for an index outside the catalogue (the
    // default compressor records, and the merge judges it).
    OutputFormat SavedFormat(int compressorIndex, OutputFormat wanted) const;
    // The save's progress to OnSaveProgress: 0 goes on, -1 aborts it.
    std::int32_t ReportSaveProgress(std::int32_t percent);

    // Time index of a moment of the recording, rounded half to even.
    static std::int32_t FrameIndexAt(std::int64_t elapsedMs, std::uint32_t framesPerSecond);
    // "1h 2m 3s", "2m 3s" or "3s".
    static std::string FormatElapsed(std::int64_t elapsedMs);
    // The text of an AVISaveV result other than 0, and of an AVIFileOpen result (empty for 0).
    static std::string SaveResultText(vfw::HRESULT result);
    static std::string OpenResultText(vfw::HRESULT result);
    std::string SummaryLine();
    // The clock's reading when the capture loop began: frame i is due when
    // FrameIndexAt(time - LoopStartMs()) first reaches i.
    std::int64_t LoopStartMs() const { return loopStartMs_; }

  private:
    friend class TRecordAVIThread;
    void SetTargetFile(const std::string& file);
    void SetRecordedSeconds(std::int64_t seconds) { recordedSeconds_ = seconds; }
    mutable std::mutex targetLock_;
    std::string targetFile_;  // under targetLock_
    std::atomic<std::int64_t> recordedSeconds_{0};
    enum class Negotiation { Continue, Ended };

    void CameraError(const std::string& text);
    bool Ask(const std::string& text);
    void DeriveModes();
    // Reads the screen as it is now: full screen takes the primary monitor,
    // a fixed area is moved (and cut) onto the screen.
    void TakeScreenGeometry();
    int EndRun(int result);
    Negotiation NegotiateCompressor(PackedDib& probe, int& result);
    // The 2/4/8 size adjustment against an open compressor: the alignment
    // accepted (1, 2, 4, 8), 16 when none fits, 0 when a regrab failed.
    std::int32_t AlignToCompressor(vfw::HIC handle, PackedDib& probe);
    Negotiation FitToDefaultCompressor(PackedDib& probe, int& result);
    bool CreateOutput(PackedDib probe);
    // The frames' format for the chosen compressor (see frameFormat_).
    vfw::BITMAPINFOHEADER FrameFormatFor(PackedDib probe) const;
    vfw::HRESULT WriteFrame(PackedDib frame, std::int32_t index);
    // False when finishing the temporary video failed.
    bool ReleaseOutput();
    void LeaveLibrary();
    void CaptureLoop();
    // limitMs: the time limit in recording time, -1 without one.
    // Returns early when `interrupted` says so, or a pause begins.
    void WaitForIndex(std::int64_t start, std::int32_t index, std::int64_t limitMs,
                      const std::function<bool()>& interrupted);
    // The clock's reading at recording time zero: the loop's start moved on
    // by the pauses ended so far.
    std::int64_t RecordingTimeZero() const { return loopStartMs_ + pausedMs_; }
    // Sleeps while the recording is paused and not stopped.
    void WaitWhilePaused();
    // One log line when the compressor cannot keep the rate; true once said.
    bool WarnOfSlowCodec(double meanWriteMs);
    // A sound input of the recording: [0] the input the mixer chose, [1] the
    // second one, recorded beside it when one is chosen and there.
    struct SoundInput {
        std::unique_ptr<TEngineAudioRecorder> recorder;
        std::string source;      // the server's name ([1]; empty: none chosen)
        std::string title;       // as the input list names it: the log, the track's name
        int volume = 100;        // [1]: our gain on it, percent
        std::string* tempFile;   // TempAudioFile or TempAudio2File
        const char* keptSuffix;  // of its file kept beside the target
        bool recording = false;  // takes part in the run
        // The temporary file as this engine made it: only that it deletes.
        FileIdentity own;
        HeldFile held;  // open while it is written
        // Could not be moved out of the way of the next recording after a
        // failure: the worker does not delete it.
        bool leaveTemp = false;
        std::int64_t firstSampleNs = -1;  // as the recorder reported it
        SoundPlacing placing;             // where the merge put its sound
        bool complete = true;             // false: the recorder never finished the WAV
        std::string failure;  // why its sound stopped or never started; empty: it did not
    };
    // Sets the run's inputs going into their temporary files; false when a
    // file is in the way (said).
    bool StartSound();
    // The second input's title in the mixer's list now; empty (said in the
    // log) when it is not there or is the first input.
    std::string SecondInputTitle();
    int SoundInputsRecording() const;
    // Why the run's sound is incomplete, each input's reason; empty when it is not.
    std::string SoundFailures() const;
    void StopAudio();
    void StopSound(SoundInput& input);
    // Where an input's sound lies on the picture's timeline: from the first
    // frame's time to the last frame's.
    SoundPlacing PlacingOf(const SoundInput& input) const;
    // The run's sound files the merge takes into streams from slot `first`
    // of mergeStreams_ on, with their placings in mergePlacing_: one each,
    // or their mix (a new file; the recorded ones are only read).
    // Says what it refused; refused[i] is set for a file left out.
    void OpenSoundStreams(int first, bool refused[2]);
    // The temporary files' folder went away under the recording (removed,
    // unmounted) or took other files under their names.
    bool RecordingFolderLost() const;
    // The folder a recording whose folder was lost is finished in; empty
    // when none takes files.
    std::string FolderForLostRecording() const;
    // Says once that the folder was lost and where the recording goes.
    void TellFolderLoss();
    // After the capture: copies the temporary files out of a lost folder
    // into FolderForLostRecording and moves the target there.
    void FinishInAnotherFolder(std::string& targetFile);
    void MergeRecording(const std::string& targetFile);
    void SetAsideInterruptedRecording();
    void RunRecoveries();
    // A ".part" a killed writer left, finished in its own container.
    void FinishInterruptedPart(const TInterruptedRecording& r);
    // Starts the worker; false (reported) when the thread cannot start.
    bool StartWorker();
    // Moves the chosen temporary files out of the way and appends where to text.
    // audio: the sound inputs' files (bit 0 the first's, bit 1 the second's).
    void KeepTempFiles(const std::string& target, std::string& text, bool video = true,
                       unsigned audio = 3);
    // The ending steps of a run that an exception cut short.
    void AbandonRun();
    void RecordThreadDone();
    void ApplyThreadPriority();
    // Real-time scheduling for the capture loop's thread while it runs
    // (the writer and codec threads, started before, keep normal
    // scheduling); logged once per engine.
    bool EnterRealtimeGrabs();
    void LeaveRealtimeGrabs();
    std::string EntryShortName(int index) const;

    // The desktop a recording grabs from: the recorded window's while one is
    // recorded, else the screen's. Under desktopLock_.
    std::shared_ptr<platform::Desktop> CaptureSource();
    // Opens the window of CaptureWindow for the recording about to start;
    // false (reported) when it cannot be recorded.
    bool OpenCaptureWindow();

    CameraHost& host_;
    std::shared_ptr<platform::Desktop> desktop_;
    WindowOpener openWindow_;
    // The recorded window, from the start of its recording to the worker's end.
    std::shared_ptr<platform::Desktop> windowSource_;
    std::shared_ptr<TEngineClock> clock_;
    std::mutex desktopLock_;  // the frame timer and the worker share the desktop
    // The capture loop's conversion into 4:2:0 frames, while it runs.
    std::unique_ptr<YuvGrab> yuvGrab_;
    // The format of the frames the capture loop hands to the compressor:
    // the grabbed DIB's, or 4:2:0 where the compressor takes that.
    vfw::BITMAPINFOHEADER frameFormat_{};

    std::array<SoundInput, 2> sound_;
    std::unique_ptr<TEngineMixer> mixer_;
    std::unique_ptr<TFlashingFrame> frame_;
    std::unique_ptr<TEngineTimer> frameTimer_;
    std::vector<std::string> compressorNames_;
    std::vector<std::string> audioFormatNames_;
    std::vector<std::string> audioInputNames_, audioInputSources_;
    AudioInputInfo audioInput_;
    // The second input's title for this run, found as it starts (UI thread).
    std::string secondTitle_, firstTitle_;

    // The worker; touched on the UI thread only.
    TRecordAVIThread* worker_ = nullptr;
    // Closures posted to the UI thread do nothing once the engine is gone.
    std::shared_ptr<std::atomic<bool>> alive_;
    std::atomic<bool> destroying_{false};

    // One run's AVI objects and flags (worker only).
    vfw::PAVIFILE aviFile_ = nullptr;
    vfw::PAVISTREAM rawStream_ = nullptr;
    vfw::PAVISTREAM compressedStream_ = nullptr;
    vfw::AVICOMPRESSOPTIONS options_{};
    bool optionsCreated_ = false;
    int libraryInits_ = 0;
    bool aviErrorPending_ = false;
    bool grabFailedInLoop_ = false;
    bool skipNegotiation_ = false;
    int appliedPriority_ = -1;
    // The picture, and one or two sound streams.
    vfw::PAVISTREAM mergeStreams_[3] = {nullptr, nullptr, nullptr};
    SoundPlacing mergePlacing_[3];
    // The mix of two inputs the merge made, deleted after it.
    std::string mixFile_;
    // The sound's place against the picture: the loop's clock zero and the
    // first sample's time as the recorder reported it (-1 unknown).
    std::int64_t loopStartMs_ = 0;
    // Pauses: the loop grabs frames (a pause may begin), the clock's reading
    // at the open pause's start, and the length of the pauses ended.
    std::atomic<bool> capturing_{false};
    std::atomic<std::int64_t> pausedAtMs_{0};
    std::atomic<std::int64_t> pausedMs_{0};
    bool soundPaused_ = false;  // the recorder leaves the pause out (UI thread)
    bool framePaused_ = false;  // the frame stands painted as paused (UI thread)
    bool realtimeLogged_ = false;
    std::int64_t videoEndMs_ = 0;
    std::int64_t videoLengthMs_ = 0;  // the picture's length in the file
    bool loopStarted_ = false;
    // A temporary video that could not be moved out of the way of the next
    // recording after a failure: the worker does not delete it.
    bool leaveTempVideo_ = false;
    // The temporary video as this engine made it: only that it deletes.
    FileIdentity ownVideo_;
    // Open while it is written (the sound files too, see SoundInput), so a
    // lost folder loses nothing; and the folder as it was when it was made.
    HeldFile heldVideo_;
    FileIdentity recordingFolder_;
    bool folderLossTold_ = false;
    // For the summary: where the recording went instead, and why.
    std::string movedNote_;
    // The errno of the write that ended the loop (ENOSPC: the disk is full).
    int writeError_ = 0;
    bool soundWriteFailed_ = false;
    // The failure lies with the folder or its files, not the compressor.
    bool folderError_ = false;
    std::atomic<bool> mergeAbandoned_{false};
    // What RecoverRecordings handed the worker, and the one it merges now.
    std::vector<TInterruptedRecording> recoveries_;
    const TInterruptedRecording* recovering_ = nullptr;
};

}  // namespace velmora::engine
