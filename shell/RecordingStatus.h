#pragma once
// What the main window says of a recording while it runs and once it is
// saved: the time recorded so far, beside Stop and in the title (so the
// task bar shows it), and the status line naming the saved file.

#include <QFontMetrics>
#include <QLocale>
#include <QString>
#include <cstdint>

namespace velmora {

// The time of the frame at frameIndex to the nearest second, as the result
// line counts a recording: its frame at 2.93 s is 3 s.
std::int64_t RecordedSeconds(std::int64_t frameIndex, unsigned framesPerSecond);

// "0:42", "12:05", "1:02:03".
QString ElapsedClock(std::int64_t seconds);

// "● 0:42 - Velmora" while recording, "❚❚ 0:42 - Velmora" while paused.
QString RecordingTitle(std::int64_t seconds, bool paused, const QString& program);

// A length in the language's words: the patterns hold %1 and %2 ("%1 h %2
// min", "%1 min %2 s") or %1 alone ("%1 s"); hours show with minutes,
// minutes with seconds.
QString DurationText(std::int64_t seconds, const QString& hoursMinutes,
                     const QString& minutesSeconds, const QString& secondsOnly);

// "14 MB", "1.3 MB", "640 kB": decimal units, a decimal only below 10.
QString FileSizeText(std::int64_t bytes, const QLocale& locale);

// The status line after a save, as rich text: pattern ("Saved: %1 (%2,
// %3)") with %1 the file's name as a link to the file, its middle given up
// where the line would not fit width pixels, and %2 and %3 as given.
QString SavedFileLine(const QString& pattern, const QString& path, const QString& duration,
                      const QString& size, const QFontMetrics& metrics, int width);

}  // namespace velmora
