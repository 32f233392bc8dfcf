// The folder chooser, driven like a user on Qt's offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "common/FolderPicker.h"

using velmora::BrowseForFolder;

namespace {

// Answers the dialog as soon as it shows.
void whenShown(const std::function<void(QFileDialog*)>& answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                poll->stop();
                poll->deleteLater();
                answer(dialog);
                return;
            }
    });
    poll->start(10);
}

}  // namespace

TEST(BrowseForFolder, CancelOnAMissingFolderLeavesItEmpty) {
    QString folder = QStringLiteral("/no/such/folder/anywhere");
    QString title;
    whenShown([&](QFileDialog* d) {
        title = d->windowTitle();
        d->reject();
    });
    EXPECT_FALSE(BrowseForFolder("Select directory", "desktop", folder, false, false, true));
    EXPECT_TRUE(folder.isEmpty());
    EXPECT_EQ(title, QStringLiteral("Select directory"));
}

TEST(BrowseForFolder, ChosenFolderIsReturnedAndOptionsFollowTheFlags) {
    QTemporaryDir start, target;
    QString folder = start.path();
    QFileDialog::Options seen;
    QString shownAt;
    whenShown([&](QFileDialog* d) {
        seen = d->options();
        shownAt = d->directory().absolutePath();
        d->setDirectory(target.path());
        d->selectFile(target.path());
        QMetaObject::invokeMethod(d, "accept");
    });
    EXPECT_TRUE(BrowseForFolder("Select directory", "desktop", folder, false, false, false));
    EXPECT_EQ(QDir(folder).canonicalPath(), QDir(target.path()).canonicalPath());
    EXPECT_EQ(QDir(shownAt).canonicalPath(), QDir(start.path()).canonicalPath());
    EXPECT_TRUE(seen.testFlag(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(seen.testFlag(QFileDialog::ReadOnly));  // no new-folder button
}
