#pragma once
// Keeps captured sound on the steady clock the picture follows. A sound card
// runs on its own crystal (10-100 ppm off is common), and sound servers lose
// or bunch up sound now and then; the file's sample count must still match
// the time that passed, or the sound slides away from the picture.
//
// Each read of captured bytes comes with the sound server's date of its first
// sample. The clock compares the frames put out so far with the frames that
// span of steady time holds, and corrects the difference: whole spans of
// silence for holes, whole frames dropped for bursts, and single frames
// added or removed at quiet moments for slow drift.

#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "platform/wavein/WaveInApi.h"

namespace velmora::platform::wavein {

class CaptureClock {
  public:
    explicit CaptureClock(const WAVEFORMATEX& format);

    // Off: bytes pass as they come and only reported holes become silence.
    void setCorrection(bool on) { correct_ = on; }

    // captureNs: steady_clock ns when the first byte was taken, -1 when
    // unknown. nowNs: when the read returned. Appends what goes on to out.
    void take(const char* data, std::size_t n, std::int64_t captureNs, std::int64_t nowNs,
              std::vector<char>& out);
    // The source reported this many bytes as missing: silence in their place.
    void hole(std::uint64_t bytes, std::vector<char>& out);
    // The source lost sound of unknown length; the next dated reads measure it.
    void overrun() {
        ++counters_.overruns;
        resync_ = true;
    }
    // Nothing came since the last read: after stallNs of that, silence
    // stands in for the time passing.
    void idle(std::int64_t nowNs, std::int64_t stallNs, std::vector<char>& out);
    // Capture stopped and starts again: time in between is no hole.
    void restart(std::int64_t nowNs);
    // The recording is paused at atNs: sound taken from then on is left out
    // until resume(). The capture itself goes on, so a pause may outlast the
    // sound server's buffers, and the sound is cut where the picture is, by
    // when it was taken rather than when it arrives.
    void pause(std::int64_t atNs);
    // Sound taken from atNs on is kept again. The paused time counts as none:
    // what follows joins what came before, with no hole to fill and no
    // reference to learn anew.
    void resume(std::int64_t atNs);
    bool paused() const { return !pauses_.empty() && pauses_.back().toNs == kOpen; }
    // A pause is on and the reads have reached its start: nothing more is
    // put out until the resume.
    bool pauseReached() const { return paused() && pauses_.back().fromFrame != kUnplaced; }

    // When the first frame put out was taken (the median of the first
    // estimates), -1 while unknown.
    std::int64_t firstSampleNs() const { return firstSampleNs_; }
    // Frames put out so far.
    std::uint64_t framesOut() const { return framesOut_; }
    // Frames ahead (+) or behind (-) the steady clock, by the filtered error.
    double errorFrames() const;
    const WaveInReport& counters() const { return counters_; }
    bool stalled() const { return stalled_; }

  private:
    static constexpr std::int64_t kOpen = std::numeric_limits<std::int64_t>::max();
    static constexpr std::uint64_t kUnplaced = std::numeric_limits<std::uint64_t>::max();
    struct Pause {
        std::int64_t fromNs, toNs;  // toNs is kOpen until the resume
        // The first frame taken in the pause, once a read reaches it.
        std::uint64_t fromFrame = kUnplaced;
    };

    // take() for reads that may reach into a pause: the frames taken in one
    // are left out, the others measured by their dating (datedNs, -1 for
    // none) less the paused time before them. A pause begins at the frame
    // cutFirstNs (when the read's first frame was taken) says, and lasts as
    // many frames as its time holds: the cut's place may be off by what the
    // datings miss, never its length.
    void takeAroundPauses(const char* data, std::size_t frames, std::int64_t cutFirstNs,
                          std::int64_t datedNs, std::vector<char>& out);
    void measure(std::int64_t firstByteNs);
    void putSilence(std::uint64_t frames, std::vector<char>& out);
    void putCorrected(const char* data, std::size_t frames, std::vector<char>& out);
    std::size_t quietestFrame(const char* data, std::size_t from, std::size_t to) const;

    const std::uint32_t rate_;
    const std::uint16_t frameBytes_;
    const bool eightBit_;
    bool correct_ = true;

    std::uint64_t framesOut_ = 0;
    std::vector<char> partial_;  // the start of a frame a read split
    std::int64_t firstSampleNs_ = -1;
    std::vector<std::int64_t> startEstimates_;
    bool locked_ = false;  // the start estimate is final; corrections run
    // The clock's reference: frame k belongs to refNs_ + k / rate.
    std::int64_t refNs_ = 0;
    std::uint64_t refFrame_ = 0;

    // Errors before the corrections made since (so they stay comparable).
    std::vector<double> window_;
    std::size_t windowNext_ = 0;
    std::int64_t netCorrection_ = 0;  // frames added minus frames removed or dropped
    std::vector<double> streak_;      // consecutive errors beyond the step limit
    double medianUncorrected_ = 0;
    double credit_ = 0;           // frames owed to the smooth correction (+ remove, - add)
    std::uint64_t dropDebt_ = 0;  // frames of a burst still to drop
    std::uint64_t fillDebt_ = 0;  // frames of a hole still to fill

    std::int64_t lastArrivalNs_ = -1;
    std::uint64_t framesAtArrival_ = 0;
    bool stalled_ = false;
    bool resync_ = false;      // the next reading corrects at once
    bool afterStall_ = false;  // ... and ends a stall
    bool fillIsStall_ = false;
    WaveInReport counters_;

    // Pauses the sound taken has not yet passed, oldest first, and the
    // length of those it has: the sound's dates less that are the file's time.
    std::deque<Pause> pauses_;
    std::int64_t pausedNs_ = 0;
    // Where a cut falls: every frame taken is placed by the median of the
    // last reads' datings, each less the frames taken before it, so that the
    // scatter of one dating does not move the cut.
    std::vector<std::int64_t> datings_;
    std::size_t datingNext_ = 0;
    std::uint64_t framesTaken_ = 0;
};

}  // namespace velmora::platform::wavein
