#include "common/ProgramFolder.h"

#include <filesystem>
#include <mutex>
#include <system_error>

#ifndef VELMORA_DATA_FROM_BIN
#define VELMORA_DATA_FROM_BIN "../share/velmora"
#endif

namespace velmora {
namespace {
std::mutex folderMutex;
std::string overrideFolder;

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The installed data folder seen from the program folder.
std::string InstalledDataFolder(const std::string& programFolder) {
    // /proc/self/exe has no symbolic links in it, so ".." is the real parent.
    return std::filesystem::path(programFolder + VELMORA_DATA_FROM_BIN "/")
        .lexically_normal()
        .string();
}
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

bool InstalledLayout(const std::string& programFolder) {
    // Language/ beside the executable wins, so a build tree or a portable
    // copy unpacked into some bin/ still runs as itself.
    return !IsDirectory(programFolder + "Language") &&
           IsDirectory(InstalledDataFolder(programFolder) + "Language");
}

std::string DataFolder() {
    const std::string folder = ProgramFolder();
    return InstalledLayout(folder) ? InstalledDataFolder(folder) : folder;
}

}  // namespace velmora
