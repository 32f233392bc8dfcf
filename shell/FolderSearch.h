#pragma once
// The search for interrupted recordings, away from the UI thread: a folder on
// a network mount that no longer answers holds a thread of FolderSearchPool(),
// never the window.

#include <QThreadPool>
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

}  // namespace velmora
