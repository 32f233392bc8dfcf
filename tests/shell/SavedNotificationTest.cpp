// What a merge's result line tells the notification: the file saved (also
// under the extension the merge chose), the recovered one, the first file kept
// after a failure, and nothing where no file is left.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "shell/SavedNotification.h"

using namespace velmora;

namespace {

class SavedRecordingTest : public testing::Test {
  protected:
    QString Make(const QString& name, int bytes = 10) {
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(bytes, 'x'));
        return file.fileName();
    }
    QTemporaryDir dir_;
};

const QString kPrefix = QStringLiteral("Recorded with");

TEST_F(SavedRecordingTest, SavedFileWithItsLengthAndSizeAlsoUnderTheMergesExtension) {
    const QString mkv = Make(QStringLiteral("VideoRecord_1.mkv"), 2500);
    const QString line = QStringLiteral("Recorded with x264; 320x240; Time 3s; Dropped frames: 0%");
    auto saved = SavedRecordingOf(line, kPrefix, mkv, QStringLiteral("3s"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->kind, SavedRecording::Kind::Saved);
    EXPECT_EQ(saved->file, mkv);
    EXPECT_EQ(saved->size, 2500);
    EXPECT_EQ(SavedNotification::Body(*saved), QStringLiteral("VideoRecord_1.mkv\n3s, 2.5 kB"));
    // Asked for MP4, written as Matroska: the file that is there.
    saved = SavedRecordingOf(line, kPrefix, dir_.filePath(QStringLiteral("VideoRecord_1.mp4")), {});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->file, mkv);
    // Nothing written: nothing to tell of.
    EXPECT_FALSE(SavedRecordingOf(line, kPrefix, dir_.filePath(QStringLiteral("none.avi")), {}));
    EXPECT_FALSE(SavedRecordingOf(QStringLiteral("Saving cancelled"), kPrefix, mkv, {}));
}

TEST_F(SavedRecordingTest, RecoveredAndKeptFilesAreReadFromTheLine) {
    const QString recovered = Make(QStringLiteral("VideoRecord_2.avi"));
    auto saved =
        SavedRecordingOf(QStringLiteral("The interrupted recording is saved: ") + recovered,
                         kPrefix, QStringLiteral("/elsewhere.avi"), QStringLiteral("9s"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->kind, SavedRecording::Kind::Recovered);
    EXPECT_EQ(saved->file, recovered);
    EXPECT_TRUE(saved->length.isEmpty());

    // A name with ", " in it is still one file; the sound kept beside it is not shown.
    const QString video = Make(QStringLiteral("Talk, part 1_video.avi"));
    const QString sound = Make(QStringLiteral("Talk, part 1_audio.wav"));
    saved = SavedRecordingOf(QStringLiteral("Disk full. Recording kept in: ") + video +
                                 QStringLiteral(", ") + sound +
                                 QStringLiteral(" Recording left in: /media/usb/~tempaudio.wav"),
                             kPrefix, QStringLiteral("/elsewhere.avi"), {});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->kind, SavedRecording::Kind::Kept);
    EXPECT_EQ(saved->file, video);
    const QString body = SavedNotification::Body(*saved);
    EXPECT_TRUE(body.contains(QStringLiteral("Talk, part 1_video.avi\n"))) << body.toStdString();
    EXPECT_FALSE(body.contains(QStringLiteral("audio")));
}

}  // namespace
