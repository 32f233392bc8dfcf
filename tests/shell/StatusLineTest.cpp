// How a status text is fitted into the status line's width.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

#include "shell/StatusLine.h"

using namespace velmora;

namespace {

const QChar kEllipsis(0x2026);

TEST(StatusLineTest, AFittingTextIsShownAsItIs) {
    const QFontMetrics metrics(QApplication::font());
    const QString text = QStringLiteral("Video file saved");
    EXPECT_EQ(ElidedStatusText(text, metrics, metrics.horizontalAdvance(text)), text);
}

TEST(StatusLineTest, ALongTextKeepsItsReasonWholeAndAsMuchOfTheBeginningAsFits) {
    const QFontMetrics metrics(QApplication::font());
    const QString reason = QStringLiteral("Permission denied");
    const QString text = QStringLiteral(
                             "Error on create AVI file. /home/somebody/Videos/a/rather/deep/"
                             "folder/: ") +
                         reason;
    const QString head = QStringLiteral("Error on create AVI file. ");
    const int wide = metrics.horizontalAdvance(head + kEllipsis + reason) + 40;
    for (const int width : {metrics.horizontalAdvance(kEllipsis + reason) + 30, 200, wide}) {
        const QString shown = ElidedStatusText(text, metrics, width);
        EXPECT_LE(metrics.horizontalAdvance(shown), width) << width;
        EXPECT_TRUE(shown.startsWith(u'E')) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QStringLiteral(": ") + reason) ||
                    shown.endsWith(kEllipsis + reason))
            << shown.toStdString();
        EXPECT_EQ(shown.count(kEllipsis), 1) << shown.toStdString();
    }
    // With room for it, the whole beginning and the folder's end.
    const QString shown = ElidedStatusText(text, metrics, wide);
    EXPECT_TRUE(shown.startsWith(head)) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/: ") + reason)) << shown.toStdString();

    // "what: where: why" as well.
    const QString sound = QStringLiteral(
        "Can not write the sound file: /home/somebody/Videos/~tempaudio.wav: No space left on "
        "device");
    const QString fitted = ElidedStatusText(sound, metrics, 260);
    EXPECT_LE(metrics.horizontalAdvance(fitted), 260);
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("No space left on device"))) << fitted.toStdString();
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("Can"))) << fitted.toStdString();
}

// The countdown and the recording's state in a narrow line (German at scale
// 2): the seconds and the state stay, the keys' hint after the dash goes.
TEST(StatusLineTest, AStateKeepsItsBeginningAndGivesUpTheHintAfterTheDash) {
    const QFontMetrics metrics(QApplication::font());
    for (const QString& state : {QStringLiteral("Die Aufnahme beginnt in 3 s"),
                                QStringLiteral("Запись начнётся через 3 с"),
                                QStringLiteral("Aufnahme läuft")}) {
        const QString text = state + QStringLiteral(" - F10 oder Esc bricht ab");
        const int width = metrics.horizontalAdvance(state + QStringLiteral(" - F1"));
        const QString shown = ElidedStatusText(text, metrics, width);
        EXPECT_LE(metrics.horizontalAdvance(shown), width);
        EXPECT_TRUE(shown.startsWith(state)) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(kEllipsis)) << shown.toStdString();
    }
}

TEST(StatusLineTest, AReasonTooLongForTheLineShowsTheEndOfTheText) {
    const QFontMetrics metrics(QApplication::font());
    const QString text = QStringLiteral(
        "The compressor \"Xvid MPEG-4 Codec\" cannot keep 15 frames per second at 1920x1080: it "
        "takes 90.0 ms a frame, enough for 11.1 frames per second.");
    const int width =
        metrics.horizontalAdvance(QStringLiteral("enough for 11.1 frames per second."));
    const QString shown = ElidedStatusText(text, metrics, width);
    EXPECT_LE(metrics.horizontalAdvance(shown), width);
    EXPECT_TRUE(shown.startsWith(kEllipsis)) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("frames per second."))) << shown.toStdString();
    // No text, nothing shown; no room, nothing but the mark at most.
    EXPECT_EQ(ElidedStatusText(QString(), metrics, 100), QString());
    EXPECT_LE(ElidedStatusText(text, metrics, 0).size(), 1);
}

}  // namespace
