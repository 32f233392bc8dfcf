#include "shell/DeclinedRecordings.h"

#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace velmora {
namespace {

using Identity = std::pair<unsigned long long, unsigned long long>;

bool IdentityOf(const std::string& path, Identity& identity) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    identity = {st.st_dev, st.st_ino};
    return true;
}

std::set<Identity> ReadList(const std::string& file) {
    std::set<Identity> list;
    struct stat st;
    // Only a regular file is read: never a pipe or a device.
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return list;
    std::ifstream in(file);
    Identity identity;
    while (in >> identity.first >> identity.second) list.insert(identity);
    return list;
}

}  // namespace

bool DeclinedRecordings::Contains(const engine::TInterruptedRecording& recording) const {
    const std::set<Identity> list = ReadList(file_);
    for (const std::string* path : {&recording.video, &recording.audio, &recording.audio2}) {
        Identity identity;
        if (IdentityOf(*path, identity) && list.count(identity)) return true;
    }
    return false;
}

bool DeclinedRecordings::Add(const engine::TInterruptedRecording& recording) const {
    std::set<Identity> list = ReadList(file_);
    for (const std::string* path : {&recording.video, &recording.audio, &recording.audio2}) {
        Identity identity;
        if (IdentityOf(*path, identity)) list.insert(identity);
    }
    std::ostringstream text;
    for (const Identity& identity : list) text << identity.first << ' ' << identity.second << '\n';
    // Through a new file and a rename: a half-written list never replaces the old one.
    const std::string temporary = file_ + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text.str();
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), file_.c_str()) == 0;
}

}  // namespace velmora
