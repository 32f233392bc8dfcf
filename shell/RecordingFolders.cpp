#include "shell/RecordingFolders.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

namespace velmora {

std::vector<std::string> RecordingFolders::Read() const {
    std::vector<std::string> folders;
    struct stat st;
    // Only a regular file is read: never a pipe or a device.
    if (::stat(file_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return folders;
    std::ifstream in(file_);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && std::find(folders.begin(), folders.end(), line) == folders.end())
            folders.push_back(line);
    return folders;
}

bool RecordingFolders::Add(const std::string& folder) const {
    std::vector<std::string> folders = Read();
    if (std::find(folders.begin(), folders.end(), folder) != folders.end()) return true;
    folders.push_back(folder);
    return Replace(folders);
}

bool RecordingFolders::Replace(const std::vector<std::string>& folders) const {
    // Nothing to remember: no file either.
    if (folders.empty()) return std::remove(file_.c_str()) == 0 || errno == ENOENT;
    // Through a new file and a rename: a half-written list never replaces the old one.
    const std::string temporary = file_ + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const std::string& folder : folders)
            // A line break would split the name: such a folder is never listed.
            if (!folder.empty() && folder.find('\n') == std::string::npos) out << folder << '\n';
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), file_.c_str()) == 0;
}

}  // namespace velmora
