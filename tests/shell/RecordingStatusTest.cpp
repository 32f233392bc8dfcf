// The time shown while recording and the status line after a save.

#include "shell/RecordingStatus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

using namespace velmora;

namespace {

TEST(RecordingStatus, ThePausedTimeIsTheLastFramesToTheNearestSecond) {
    EXPECT_EQ(RecordedSeconds(44, 15), 3);  // 2.93 s
    EXPECT_EQ(RecordedSeconds(22, 15), 1);  // 1.47 s
    EXPECT_EQ(RecordedSeconds(0, 0), 0);
}

TEST(RecordingStatus, TheClockAndTheTitleCountHoursOnlyWhenThereAreAny) {
    EXPECT_EQ(ElapsedClock(0), QStringLiteral("0:00"));
    EXPECT_EQ(ElapsedClock(42), QStringLiteral("0:42"));
    EXPECT_EQ(ElapsedClock(12 * 60 + 5), QStringLiteral("12:05"));
    EXPECT_EQ(ElapsedClock(3600 + 2 * 60 + 3), QStringLiteral("1:02:03"));
    EXPECT_EQ(RecordingTitle(42, false, QStringLiteral("Velmora")),
              QStringLiteral("\u25CF 0:42 - Velmora"));
    EXPECT_EQ(RecordingTitle(42, true, QStringLiteral("Velmora")),
              QStringLiteral("\u275A\u275A 0:42 - Velmora"));
}

TEST(RecordingStatus, LengthsAndSizesReadAsAPersonSaysThem) {
    const QString hm = QStringLiteral("%1 h %2 min"), ms = QStringLiteral("%1 min %2 s"),
                  s = QStringLiteral("%1 s");
    EXPECT_EQ(DurationText(14, hm, ms, s), QStringLiteral("14 s"));
    EXPECT_EQ(DurationText(62, hm, ms, s), QStringLiteral("1 min 2 s"));
    EXPECT_EQ(DurationText(3 * 3600 + 65, hm, ms, s), QStringLiteral("3 h 1 min"));
    const QLocale c = QLocale::c();
    EXPECT_EQ(FileSizeText(14'200'000, c), QStringLiteral("14 MB"));
    EXPECT_EQ(FileSizeText(1'340'000, c), QStringLiteral("1.3 MB"));
    EXPECT_EQ(FileSizeText(640'000, c), QStringLiteral("640 kB"));
    EXPECT_EQ(FileSizeText(2'500'000'000, c), QStringLiteral("2.5 GB"));
}

TEST(RecordingStatus, TheSavedLineLinksTheFileAndGivesUpTheMiddleOfItsNameToFit) {
    const QFontMetrics metrics(QFont(QStringLiteral("Liberation Sans"), 9));
    const QString path = QStringLiteral("/home/u/Videos/a & b/VideoRecord_20261211_093000.mp4");
    const QString wide =
        SavedFileLine(QStringLiteral("Saved: %1 (%2, %3)"), path, QStringLiteral("1 min 2 s"),
                      QStringLiteral("14 MB"), metrics, 2000);
    EXPECT_EQ(wide, QStringLiteral("Saved: <a href=\"file:///home/u/Videos/a%20&amp;%20b/"
                                   "VideoRecord_20261211_093000.mp4\">"
                                   "VideoRecord_20261211_093000.mp4</a> (1 min 2 s, 14 MB)"));
    const QString narrow =
        SavedFileLine(QStringLiteral("Saved: %1 (%2, %3)"), path, QStringLiteral("1 min 2 s"),
                      QStringLiteral("14 MB"), metrics, 260);
    EXPECT_TRUE(narrow.contains(QStringLiteral("\u2026"))) << narrow.toStdString();
    EXPECT_TRUE(narrow.contains(QStringLiteral(".mp4</a> (1 min 2 s, 14 MB)")))
        << narrow.toStdString();
    // A name is text, never markup.
    const QString odd = SavedFileLine(QStringLiteral("%1"), QStringLiteral("/t/<b>%2.mp4"),
                                      QStringLiteral("x"), QStringLiteral("y"), metrics, 2000);
    EXPECT_TRUE(odd.endsWith(QStringLiteral(">&lt;b&gt;%2.mp4</a>"))) << odd.toStdString();
}

}  // namespace
