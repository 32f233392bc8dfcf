#pragma once
// The texts and figures the main window makes of a recording: the target
// file's name, the live figures shown in the companion panel, and what a
// merge progress report does to the Cancel button and the log.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/ScreenCamera.h"

namespace velmora {

// "VideoRecord_20240131_142503.avi" for that local time.
QString TargetFileName(const QDateTime& when);

// workDir + name, or, when that file exists, the same with "_2", "_3", ...
// before the extension, so a recording never replaces an earlier one.
// workDir is a prefix: no separator is inserted.
QString UniqueTargetPath(const QString& workDir, const QString& name,
                         const std::function<bool(const QString&)>& exists);

// Frames dropped in percent of all frame slots, rounded half to even; 0 when
// there were none.
double DroppedPercentOf(std::int64_t written, std::int64_t dropped);

// Frames per second as the file has them: the frames kept in the frame slots
// so far (the index reached plus one) at the set rate; 0 before the first
// slot.
double RecordedFrameRate(std::int64_t kept, std::int64_t frameSlots, unsigned framesPerSecond);

struct LiveFigures {
    QString compressorName;
    QString elapsedText;
    double frameRate = 0.0;  // RecordedFrameRate
    std::int64_t framesWritten = 0;
    std::int64_t framesDropped = 0;
    bool paused = false;  // the time line says so
};

// The five lines (joined by "\n") of the panel's information label; titles are the language's
// TextMsg3..7, then the word for a paused recording, TextMsg24, and are shown as written (no
// format characters in them).
QString LiveFiguresText(const LiveFigures& figures, const QStringList& titles,
                        const QLocale& locale);

// The status line for how frames are grabbed, from the language's texts for
// a real-time priority, one granted by RealtimeKit and normal scheduling
// ("%1" stands for the priority, or the system's reason); the English
// sentence where the language has no text.
QString RealtimeGrabsStatus(const engine::TRealtimeGrabs& grabs, const QString& granted,
                            const QString& grantedByKit, const QString& refused);

// What one merge progress report does. Called on the recording worker; the
// Cancel request comes from the UI thread. Nothing here waits for that thread.
class MergeProgress {
  public:
    struct Step {
        bool proceed = true;  // false abandons the merge
        bool cancelEnabled = false;
        int progress = 0;
        QList<int> logTexts;  // LogTexts numbers to write, in order
    };

    Step Report(int percent);
    // The user's Cancel; the next report abandons the merge.
    void RequestCancel() { cancelRequested_ = true; }
    // A new recording starts with no cancel pending.
    void Reset() {
        cancelRequested_ = false;
        finished_ = false;
    }
    bool CancelRequested() const { return cancelRequested_; }

  private:
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> cancelEnabled_{false};
    std::atomic<bool> finished_{false};  // the last report completed a merge
};

}  // namespace velmora
