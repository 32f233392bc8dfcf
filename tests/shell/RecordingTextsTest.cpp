// The target file's name, the panel's live figures and what each merge
// progress report does.

#include <gtest/gtest.h>

#include <set>

#include "shell/RecordingTexts.h"

using namespace velmora;

namespace {

TEST(TargetName, IsTheLocalStartTimeWithTwoDigitFields) {
    EXPECT_EQ(TargetFileName(QDateTime(QDate(2024, 1, 31), QTime(14, 25, 3))),
              QStringLiteral("VideoRecord_20240131_142503.avi"));
    EXPECT_EQ(TargetFileName(QDateTime(QDate(987, 2, 3), QTime(4, 5, 6))),
              QStringLiteral("VideoRecord_09870203_040506.avi"));
}

TEST(TargetName, ATakenNameGetsTheNextFreeNumberAndTheFolderIsAPlainPrefix) {
    std::set<QString> existing;
    const auto exists = [&](const QString& path) { return existing.count(path) > 0; };
    const QString name = QStringLiteral("VideoRecord_20240131_142503.avi");

    EXPECT_EQ(UniqueTargetPath(QStringLiteral("/out/"), name, exists),
              QStringLiteral("/out/VideoRecord_20240131_142503.avi"));
    existing = {QStringLiteral("/out/VideoRecord_20240131_142503.avi"),
                QStringLiteral("/out/VideoRecord_20240131_142503_2.avi")};
    EXPECT_EQ(UniqueTargetPath(QStringLiteral("/out/"), name, exists),
              QStringLiteral("/out/VideoRecord_20240131_142503_3.avi"));
    // An empty folder gives the bare name, in the current folder.
    EXPECT_EQ(UniqueTargetPath(QString(), name, exists), name);
}

TEST(DroppedPercent, RoundsHalvesToEven) {
    EXPECT_EQ(DroppedPercentOf(1, 0), 0.0);
    EXPECT_EQ(DroppedPercentOf(0, 0), 0.0);
    EXPECT_EQ(DroppedPercentOf(3, 1), 25.0);
    EXPECT_EQ(DroppedPercentOf(199, 1), 0.0);  // 0.5 goes to 0
    EXPECT_EQ(DroppedPercentOf(197, 3), 2.0);  // 1.5 goes to 2
    EXPECT_EQ(DroppedPercentOf(195, 5), 2.0);  // 2.5 goes to 2
    EXPECT_EQ(DroppedPercentOf(2, 1), 33.0);
    EXPECT_EQ(DroppedPercentOf(1, 2), 67.0);
    EXPECT_EQ(DroppedPercentOf(0, 7), 100.0);
}

TEST(LiveFigures, FiveLinesWithTheLocaleSeparatorAndPercentSignsAsWritten) {
    LiveFigures f;
    f.compressorName = QStringLiteral("Xvid");
    f.elapsedText = QStringLiteral("1m 5s");
    f.frameRate = 25.0;
    f.framesWritten = 970;
    f.framesDropped = 12;
    const QStringList titles{QStringLiteral("Kompressor"), QStringLiteral("Zeit"),
                             QStringLiteral("Rate %d %s"), QStringLiteral("Geschrieben"),
                             QStringLiteral("Verworfen 100%")};
    EXPECT_EQ(LiveFiguresText(f, titles, QLocale(QLocale::German)),
              QStringLiteral("Kompressor: Xvid\nZeit: 1m 5s\nRate %d %s: 25,00\n"
                             "Geschrieben: 970\nVerworfen 100%: 12"));
    EXPECT_EQ(LiveFiguresText(f, titles, QLocale::c()).section(u'\n', 2, 2),
              QStringLiteral("Rate %d %s: 25.00"));
}

TEST(LiveFigures, TheFrameRateIsTheFilesNotTheLastInterval) {
    // 15 fps with every frame written: 15, however the last two were spaced.
    EXPECT_EQ(RecordedFrameRate(150, 150, 15), 15.0);
    // A fifth of the slots dropped.
    EXPECT_EQ(RecordedFrameRate(120, 150, 15), 12.0);
    EXPECT_EQ(RecordedFrameRate(0, 0, 15), 0.0);
    EXPECT_EQ(RecordedFrameRate(1, 1, 60), 60.0);
}

// What the user sees after each report: the log texts, Cancel, the bar.
struct Seen {
    QList<int> logs;
    bool cancelEnabled;
    int progress;
    bool proceed;
};

Seen See(MergeProgress& merge, int percent) {
    const MergeProgress::Step step = merge.Report(percent);
    return {step.logTexts, step.cancelEnabled, step.progress, step.proceed};
}

TEST(MergeProgressReports, AnOrdinaryMergeLogsSavingOnceAndSavedOnce) {
    MergeProgress merge;
    Seen s = See(merge, 0);
    EXPECT_EQ(s.logs, QList<int>{2});
    EXPECT_TRUE(s.cancelEnabled);
    EXPECT_TRUE(s.proceed);
    s = See(merge, 40);
    EXPECT_TRUE(s.logs.isEmpty());
    EXPECT_EQ(s.progress, 40);
    // The save's own 100, then the engine's closing 100.
    s = See(merge, 100);
    EXPECT_EQ(s.logs, QList<int>{3});
    EXPECT_FALSE(s.cancelEnabled);
    EXPECT_EQ(s.progress, 0);
    s = See(merge, 100);
    EXPECT_TRUE(s.logs.isEmpty());
    EXPECT_FALSE(s.cancelEnabled);
    EXPECT_EQ(s.progress, 0);

    // The next merge starts over.
    EXPECT_EQ(See(merge, 5).logs, QList<int>{2});
}

TEST(MergeProgressReports, CancelAbandonsAtTheNextReportAndTheClosingReportLogsSavingAndSaved) {
    MergeProgress merge;
    See(merge, 10);
    merge.RequestCancel();
    Seen s = See(merge, 20);
    EXPECT_EQ(s.logs, QList<int>{4});
    EXPECT_FALSE(s.proceed);
    EXPECT_FALSE(s.cancelEnabled);
    EXPECT_EQ(s.progress, 0);
    EXPECT_FALSE(merge.CancelRequested());

    s = See(merge, 100);
    EXPECT_EQ(s.logs, (QList<int>{2, 3}));
    EXPECT_TRUE(s.proceed);
    EXPECT_FALSE(s.cancelEnabled);
    EXPECT_EQ(s.progress, 0);
}

TEST(MergeProgressReports, ACancelLeftOverFromTheLastMergeIsForgottenByANewRecording) {
    MergeProgress merge;
    See(merge, 100);
    merge.RequestCancel();  // pressed just as the merge ended
    merge.Reset();
    EXPECT_TRUE(See(merge, 0).proceed);
}

}  // namespace
