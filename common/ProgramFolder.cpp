#include "common/ProgramFolder.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace velmora {
namespace {
std::mutex folderMutex;
std::string overrideFolder;
}  // namespace

std::string ProgramFolder() {
    {
        std::lock_guard lock(folderMutex);
        if (!overrideFolder.empty()) return overrideFolder;
    }
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "./";
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

void SetProgramFolder(const std::string& folder) {
    std::lock_guard lock(folderMutex);
    overrideFolder = folder;
    if (!overrideFolder.empty() && overrideFolder.back() != '/') overrideFolder += '/';
}

}  // namespace velmora
