#include "common/FileEraser.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

#include "common/Functions.h"
#include "common/SettingsLocation.h"

namespace velmora {
namespace {

std::mutex hookMutex;
std::function<void(bool)> busyCursorHook;
// The list is rewritten whole; one writer at a time within the process.
std::mutex listMutex;

std::vector<std::string> readList(const std::string& file) {
    std::vector<std::string> paths;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) paths.push_back(line);
    return paths;
}

// Written beside and renamed over the old list, so a crash mid-write
// cannot lose the entries already there.
bool writeList(const std::string& file, const std::vector<std::string>& paths) {
    if (paths.empty()) return ::unlink(file.c_str()) == 0 || errno == ENOENT;
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& p : paths) out << p << '\n';
        out.flush();
        if (!out) {
            ::unlink(temporary.c_str());
            return false;
        }
    }
    return ::rename(temporary.c_str(), file.c_str()) == 0;
}

}  // namespace

std::string PendingDeletionsFile() {
    return CurrentSettingsLocation().settingsFolder + "PendingDeletions.lst";
}

bool FileEraser::exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool FileEraser::isLocked(const std::string& path) {
    return IsFileLocked(path);
}

bool FileEraser::deleteNow(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool FileEraser::deleteAtNextStart(const std::string& path) {
    std::lock_guard lock(listMutex);
    const std::string file = PendingDeletionsFile();
    auto paths = readList(file);
    if (std::find(paths.begin(), paths.end(), path) != paths.end()) return true;
    paths.push_back(path);
    return writeList(file, paths);
}

bool FileEraser::erase(const std::string& path) {
    const bool deletable = exists(path) && !isLocked(path);
    bool result = false;
    for (int pass = 1; pass <= kPasses; ++pass) {
        if (!exists(path)) return true;
        result = deletable ? deleteNow(path) : deleteAtNextStart(path);
    }
    return result;
}

bool IsFileLocked(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;
    // Our writers hold an exclusive flock on the files they are writing.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

bool EraseFile(const std::string& path) {
    std::function<void(bool)> hook;
    {
        std::lock_guard lock(hookMutex);
        hook = busyCursorHook;
    }
    if (hook) hook(true);
    FileEraser eraser;
    const bool result = eraser.erase(path);
    if (hook) hook(false);
    return result;
}

void ProcessPendingDeletions() {
    std::lock_guard lock(listMutex);
    const std::string file = PendingDeletionsFile();
    std::vector<std::string> left;
    for (const auto& path : readList(file)) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;  // already gone
        if (IsFileLocked(path) || ::unlink(path.c_str()) != 0) left.push_back(path);
    }
    writeList(file, left);
}

void SetBusyCursorHook(std::function<void(bool)> hook) {
    std::lock_guard lock(hookMutex);
    busyCursorHook = std::move(hook);
}

}  // namespace velmora
