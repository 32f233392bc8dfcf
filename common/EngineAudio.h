#pragma once
// The engine's view of the audio recorder and the input mixer. The audio
// library implements them behind the host; the engine only drives them.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::engine {

class TEngineAudioRecorder {
  public:
    virtual ~TEngineAudioRecorder() = default;
    // PCM format numbers 1..20 of the audio format catalogue.
    virtual void SetPCMFormat(int format) = 0;
    virtual void SetAsync(bool value) = 0;
    // May throw; the engine catches everything at its edge.
    virtual bool RecordToFile(const std::string& fileName) = 0;
    virtual bool Active() = 0;
    virtual void SetActive(bool value) = 0;
    virtual bool Stop() = 0;
    // Waits until Active is false, that is until the WAV file is complete.
    virtual bool WaitForInactive(int timeoutMs) = 0;
    virtual int DefaultPCMFormat() = 0;
    virtual std::string FormatDescription(int format) = 0;
    // Our gain on the samples, percent on the desktop's volume scale
    // (VolumeFactor); 100 keeps them as captured. Takes effect at once,
    // recording or not.
    virtual void SetGain(int percent) = 0;
    // The input this recorder takes from its next RecordToFile: the sound
    // server's name of a source ("speakers.monitor"), or empty for the one
    // the mixer chose. title ("Monitor of Speakers") begins the errors it
    // reports, so that beside another recorder they say whose they are;
    // empty: they name none.
    virtual void SetInput(const std::string& /*source*/, const std::string& /*title*/) {}
    // When the first sample in the file was taken, as the sound server dates
    // it: steady_clock nanoseconds, -1 while unknown. Kept after the stop so
    // the merge can line the sound up with the picture.
    virtual std::int64_t FirstSampleTime() = 0;
    // What kept the sound on the picture's clock in the last recording, kept
    // after the stop. Stalls: spans in which the input delivered nothing and
    // silence stands in the file instead, in milliseconds of the file.
    struct TStall {
        std::int64_t atMs, lengthMs;
    };
    struct TCorrections {
        std::int64_t holeMs = 0;      // silence where sound was missing
        std::int64_t droppedMs = 0;   // bursts thrown away
        std::int64_t unqueuedMs = 0;  // sound with no buffer queued, as silence
        std::uint64_t addedFrames = 0, removedFrames = 0;  // for slow drift
        std::uint32_t overruns = 0;
        std::vector<TStall> stalls;
    };
    virtual TCorrections Corrections() { return {}; }
    // A paused recording: the sound taken from steadyNs (steady_clock
    // nanoseconds) on is left out of the file (paused) or kept again, the
    // time between counting as none, so the sound after a pause follows the
    // sound before it as the picture does. False when the input cannot.
    virtual bool PauseCapture(bool /*paused*/, std::int64_t /*steadyNs*/) { return false; }
    // The errno of a failed write into the WAV file (ENOSPC: the disk is
    // full), 0 while the sound is being stored.
    virtual int WriteError() { return 0; }
    // Why the sound of the recording since the last RecordToFile stopped or
    // never started (an error the recorder reported), or empty.
    virtual std::string SoundFailure() { return {}; }
};

// The recording side of the sound card: destinations, their Master line and
// its source lines.
class TEngineMixer {
  public:
    virtual ~TEngineMixer() = default;
    virtual void SetMixerID(int id) = 0;
    virtual int DestinationCount() = 0;
    virtual void SetDestinationID(int id) = 0;
    // The current destination's Master line has a source selector.
    virtual bool MasterHasSelect() = 0;
    // Selected source of the Master line, -1 when unreadable.
    virtual int GetSelectedSource() = 0;
    virtual void SelectSource(int index) = 0;
    virtual int LineCount() = 0;
    virtual std::string LineName(int index) = 0;
    // The sound server's name of the source a line is ("speakers.monitor"),
    // what a recorder's SetInput takes; empty where the lines are no
    // server's sources (a sound card's own mixer) and beyond the lines.
    virtual std::string LineSource(int /*index*/) { return {}; }
    // The server's default microphone and its default output's monitor by
    // their source names (either may be empty); false where the mixer is
    // no server's.
    virtual bool DefaultSources(std::string& /*microphone*/, std::string& /*outputMonitor*/) {
        return false;
    }
};

}  // namespace velmora::engine
