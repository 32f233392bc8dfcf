// How the main window ends the program: the user closing it, the exit
// button, a termination signal and the session's logout. A recording running
// then is stopped and merged first where nobody is there to answer.

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdlib>

#include "common/EventLog.h"
#include "common/Language.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "overlays/AreaSelector.h"
#include "shell/ExitQuestion.h"
#include "shell/FolderSearch.h"
#include "shell/MainWindow.h"

namespace velmora {

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing must not lose a recording: it is stopped as F10 stops it and
    // merged, with the progress in this window, and the window closes once
    // the worker is done (Cancel there keeps the recording for the next start).
    // A countdown, or a start waiting for its folder, ends without a recording.
    CancelCountdown();
    CancelFolderWait();
    if (camera_ && (camera_->Recording || camera_->WorkerRunning())) {
        event->ignore();
        if (!quitting_)
            BeginQuit(QStringLiteral(
                "The window was closed: the recording is stopped and saved before the exit"));
        return;
    }
    // The other windows go with this one: open questions with their safe
    // answer, the frozen screenshot, which has no owner, and the panel and
    // dialogs it owns.
    quitting_ = true;
    AnswerOpenDialogs();
    if (selector_ && selector_->IsShowing()) selector_->CloseSelector();
    for (QWidget* owned : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (owned->isWindow() && owned->isVisible()) owned->close();
    if (quitUnattended_) {
        // Nobody is there to answer a message box.
        SaveSettingsQuietly();
        event->accept();
        return;
    }
    // A settings file that cannot be written must not keep the user in the
    // program (an installed copy whose folders are all read-only would never
    // close): the message says what is lost, then the window closes.
    const std::string file = SettingsFile();
    if (!WriteSettings(Settings, file))
        ShowSaveFailure(file, QStringLiteral("The settings of this session are not saved."));
    event->accept();
}

void MainWindow::ExitClicked() {
    if (camera_ && camera_->Recording) {
        const ExitAnswer answer =
            AskExitDuringRecording(this, QString::fromStdString(camera_->TargetFile()));
        // Ended by itself meanwhile (its time limit): the question has
        // closed and the status line tells where the file went.
        if (!camera_->Recording || answer == ExitAnswer::KeepRecording) return;
        if (answer == ExitAnswer::Discard) {
            if (!ConfirmDiscard(this) || !camera_->Recording) return;
            // Not saved: the temporary files go once the worker has ended.
            discardOnExit_ = true;
            camera_->AbandonMerge();
            BeginQuit(LogTexts(54));
            return;
        }
        BeginQuit(LogTexts(53));
        return;
    }
    close();
}

void MainWindow::DiscardRecording() {
    discardOnExit_ = false;
    QStringList files;
    for (const std::string* file :
         {&engine::TempVideoFile, &engine::TempAudioFile, &engine::TempAudio2File})
        if (!file->empty()) files << QString::fromStdString(*file);
    // Deleted on a thread of their own, and waited for only so long: a folder
    // that does not answer must not keep the program. The list of folders
    // recorded in forgets this one at the next start.
    auto* deletion = new QFutureWatcher<QStringList>(this);
    auto* patience = new QTimer(this);
    patience->setSingleShot(true);
    const auto done = [this, deletion, patience](const QString& line) {
        deletion->disconnect(this);
        patience->disconnect(this);
        if (!line.isEmpty()) WriteLog(line);
        QTimer::singleShot(0, this, [this] { close(); });
    };
    connect(deletion, &QFutureWatcherBase::finished, this, [deletion, done] {
        const QStringList deleted = deletion->result();
        done(deleted.isEmpty() ? QString() : LogTexts(55).arg(deleted.join(QStringLiteral(", "))));
    });
    connect(patience, &QTimer::timeout, this, [done] {
        done(LogTextOr(64, "The recordings' folder does not answer: the temporary files are "
                           "left for the next start"));
    });
    patience->start(kFolderWaitMs);
    deletion->setFuture(QtConcurrent::run(&FolderSearchPool(), [files] {
        QStringList deleted;
        for (const QString& file : files)
            if (QFile::exists(file) && QFile::remove(file)) deleted << file;
        return deleted;
    }));
}

void MainWindow::QuitRequested(const QString& why) {
    if (quitUnattended_) {
        // timeout(1) and a logout signal the process and its group: the
        // second request may come with nothing left to give up.
        const bool saving = camera_ && (camera_->Recording || camera_->WorkerRunning());
        WriteLog(why + (saving ? QStringLiteral(" again: the merge is given up; the recording "
                                                "stays in the temporary files for the next start")
                               : QStringLiteral(" again: exit")));
        if (saving) camera_->AbandonMerge();
        FinishQuit();
        if (saving) ExitIfTheWorkerHangs();
        return;
    }
    quitUnattended_ = true;
    const bool busy = camera_ && (camera_->Recording || camera_->WorkerRunning());
    if (busy) {
        quitTimer_ = new QTimer(this);
        quitTimer_->setSingleShot(true);
        connect(quitTimer_, &QTimer::timeout, this, [this] {
            WriteLog(QStringLiteral(
                "The merge takes too long for the exit; the recording stays in the temporary "
                "files for the next start"));
            if (camera_) camera_->AbandonMerge();
        });
        quitTimer_->start(kQuitMergeWaitMs);
    }
    BeginQuit(why + (busy ? QStringLiteral(": the recording is stopped and saved before the exit")
                          : QStringLiteral(": exit")));
}

void MainWindow::ExitIfTheWorkerHangs() {
    // The worker is held in a folder that does not answer (a dead network
    // mount): waiting for it would keep the process for ever, and the
    // engine's end waits for it too. What it recorded is in its temporary
    // files, which the next start offers.
    QTimer::singleShot(kFolderWaitMs, this, [this] {
        if (!camera_ || !camera_->WorkerRunning()) return;
        WriteLog(LogTextOr(70, "The recording's folder does not answer: the program ends without "
                               "waiting for it; what was recorded is offered at the next start"));
        SaveSettingsQuietly();
        std::_Exit(0);
    });
}

void MainWindow::BeginQuit(const QString& why) {
    quitting_ = true;
    WriteLog(why);
    AnswerOpenDialogs();
    if (camera_ && camera_->Recording) StopCapture();
    FinishQuit();
}

void MainWindow::AnswerOpenDialogs() {
    // A question left open would hold the exit (the recording worker waits
    // for its answer, a nested event loop keeps the process): each is
    // answered as Cancel or No, which every caller takes as the answer that
    // keeps what was recorded. The answers arrive once this handler returns.
    QList<QPointer<QDialog>> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
            open.append(dialog);
    for (const QPointer<QDialog>& dialog : open) {
        if (!dialog) continue;
        const auto* box = qobject_cast<QMessageBox*>(dialog.data());
        QString what = box ? box->text() : dialog->windowTitle();
        what.replace(u'\n', u' ');
        WriteLog(QStringLiteral("Closed for the exit: ") + what.simplified());
        dialog->reject();
    }
}

void MainWindow::FinishQuit() {
    if (quitClosing_ || (camera_ && camera_->WorkerRunning())) return;
    quitClosing_ = true;
    // Closed once the discarded recording's files are gone.
    if (discardOnExit_) return DiscardRecording();
    // Closed from the event loop, not from inside the engine's report.
    QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::FinishForLogout() {
    if (!quitUnattended_) QuitRequested(QStringLiteral("Logout"));
    // The session manager may end the process once this returns: wait here.
    QElapsedTimer waited;
    waited.start();
    while (camera_ && camera_->WorkerRunning() && waited.elapsed() < kQuitMergeWaitMs + 10000) {
        if (waited.elapsed() >= kQuitMergeWaitMs) camera_->AbandonMerge();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    }
    SaveSettingsQuietly();
}

void MainWindow::SaveSettingsQuietly() {
    const std::string file = SettingsFile();
    if (!WriteSettings(Settings, file))
        WriteLog(QStringLiteral("Unable to write to %1").arg(QString::fromStdString(file)));
}

}  // namespace velmora
