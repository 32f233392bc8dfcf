#include "shell/FolderSearch.h"

#include "engine/TempFiles.h"

namespace velmora {

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
        const bool busy = engine::FileExists(folder + engine::kTempVideoName) ||
                          engine::FileExists(folder + engine::kTempAudioName) ||
                          engine::FileExists(folder + engine::kTempAudio2Name);
        if (in.empty() && !(outputFolder && workDirHolds) && !busy)
            result.emptied.push_back(folder);
        for (auto& r : in) result.found.push_back(std::move(r));
    }
    return result;
}

QThreadPool& FolderSearchPool() {
    static QThreadPool* pool = new QThreadPool;
    return *pool;
}

}  // namespace velmora
