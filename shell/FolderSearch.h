#pragma once
// The search for interrupted recordings, away from the UI thread: a folder on
// a network mount that no longer answers holds a thread of FolderSearchPool(),
// never the window.

#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/OutputFormats.h"
#include "engine/ScreenCamera.h"

namespace velmora {

struct FolderSearch {
    // The output folder's recordings first, then those of the listed folders.
    std::vector<engine::TInterruptedRecording> found;
    std::vector<std::string> leftAlone;  // one log line each
    // Listed folders with nothing of a recording left in them.
    std::vector<std::string> emptied;
};

// What the main window needs to know of a folder typed or picked.
struct FolderCheck {
    std::string refusal;  // why recordings cannot go there, or ""
    bool exists = false;
    std::string createError;  // it was to be made and could not be
};

// Reads folder (any thread); makes it first, with every folder above it that
// is missing, when create.
FolderCheck CheckFolder(const std::string& folder, bool create);

// Searches workDir (when searchWorkDir) and each of the listed folders (the
// output folder among them only once). A folder still holding a temporary
// file (another copy may be recording there) is not emptied. Reads the
// folders and nothing else: any thread.
FolderSearch SearchFolders(const std::string& workDir, bool searchWorkDir,
                           const std::vector<std::string>& listed, OutputFormat format);

// The threads the searches run on. Never waited for: the application's
// global pool is waited for at its end, and a folder that never answers
// would then keep the program from ending.
QThreadPool& FolderSearchPool();

// How long the UI thread waits for a folder before it says that the folder
// does not answer and goes on: a local disk answers well within it.
inline constexpr int kFolderAnswerMs = 500;

// Runs job on a thread of FolderSearchPool(), after the jobs queued before it
// for the same folder: a folder that does not answer holds one thread, not one
// per question asked of it. Any thread.
void RunInFolder(const std::string& folder, std::function<void()> job);

// Asks call of folder (RunInFolder) and waits for the answer at most waitMs.
// The answer when it came in time; otherwise nothing, and later(answer) runs
// on receiver's thread once the folder answers (never when receiver has gone).
template <class T>
std::optional<T> AskFolder(const std::string& folder, int waitMs, std::function<T()> call,
                           QObject* receiver, std::function<void(T)> later) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable answered;
        std::optional<T> answer;
        QPromise<T> promise;
    };
    auto wait = std::make_shared<Wait>();
    QFuture<T> future = wait->promise.future();
    RunInFolder(folder, [wait, call = std::move(call)] {
        T answer = call();
        {
            std::lock_guard lock(wait->mutex);
            wait->answer = answer;
        }
        wait->answered.notify_all();
        wait->promise.start();
        wait->promise.addResult(std::move(answer));
        wait->promise.finish();
    });
    {
        std::unique_lock lock(wait->mutex);
        if (wait->answered.wait_for(lock, std::chrono::milliseconds(waitMs),
                                    [&] { return wait->answer.has_value(); }))
            return wait->answer;
    }
    // A child of receiver: gone with it, and with it the late answer.
    auto* watcher = new QFutureWatcher<T>(receiver);
    QObject::connect(watcher, &QFutureWatcherBase::finished, receiver,
                     [watcher, later = std::move(later)] {
                         watcher->deleteLater();
                         if (watcher->future().resultCount() > 0) later(watcher->result());
                     });
    watcher->setFuture(future);
    return std::nullopt;
}

}  // namespace velmora
