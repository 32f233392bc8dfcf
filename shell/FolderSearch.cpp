#include "shell/FolderSearch.h"

#include <deque>
#include <map>

#include <filesystem>

#include "engine/TempFiles.h"
#include "shell/CommandLine.h"

namespace velmora {
namespace {

bool HoldsRecordingPart(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (engine::IsRecordingPartName(entry.path().filename().string())) return true;
    return false;
}

}  // namespace

FolderSearch SearchFolders(const std::string& workDir, bool searchWorkDir,
                           const std::vector<std::string>& listed, OutputFormat format) {
    FolderSearch result;
    if (searchWorkDir)
        result.found = engine::FindInterruptedRecordings(workDir, format, &result.leftAlone);
    const bool workDirHolds = !result.found.empty();
    for (const std::string& folder : listed) {
        const bool outputFolder = searchWorkDir && folder == workDir;
        auto in = outputFolder
                      ? std::vector<engine::TInterruptedRecording>()
                      : engine::FindInterruptedRecordings(folder, format, &result.leftAlone);
        // Another copy records there (its temporary files, or the file it
        // writes, locked): the folder stays listed for when that copy is killed.
        const bool busy = engine::FileExists(folder + engine::kTempVideoName) ||
                          engine::FileExists(folder + engine::kTempAudioName) ||
                          engine::FileExists(folder + engine::kTempAudio2Name) ||
                          HoldsRecordingPart(folder);
        if (in.empty() && !(outputFolder && workDirHolds) && !busy)
            result.emptied.push_back(folder);
        for (auto& r : in) result.found.push_back(std::move(r));
    }
    return result;
}

FolderCheck CheckFolder(const std::string& folder, bool create) {
    FolderCheck check;
    std::error_code error, ignored;
    if (create && !std::filesystem::create_directories(folder, error) && error &&
        !std::filesystem::is_directory(folder, ignored))
        check.createError = error.message();
    check.refusal = RefusedFolderReason(folder);
    check.exists = std::filesystem::exists(folder, ignored);
    return check;
}

QThreadPool& FolderSearchPool() {
    static QThreadPool* pool = [] {
        auto* threads = new QThreadPool;
        // Each folder that stopped answering keeps a thread for good: the
        // folders that still answer must find one free all the same.
        threads->setMaxThreadCount(64);
        return threads;
    }();
    return *pool;
}

namespace {
std::mutex queuesMutex;
// A folder is listed while a thread works through its jobs.
std::map<std::string, std::deque<std::function<void()>>> queues;

void WorkThrough(const std::string& folder) {
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard lock(queuesMutex);
            auto& jobs = queues[folder];
            if (jobs.empty()) {
                queues.erase(folder);
                return;
            }
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        job();
    }
}
}  // namespace

void RunInFolder(const std::string& folder, std::function<void()> job) {
    std::lock_guard lock(queuesMutex);
    const auto [jobs, first] = queues.try_emplace(folder);
    jobs->second.push_back(std::move(job));
    if (first) FolderSearchPool().start([folder] { WorkThrough(folder); });
}

}  // namespace velmora
