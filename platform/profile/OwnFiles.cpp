#include "platform/profile/OwnFiles.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace velmora::platform {

LinkCheck CheckLink(const std::string& path, bool folder) {
    // As many links in a row as the kernel itself follows.
    constexpr int kMaxLinks = 40;
    const uid_t me = ::geteuid();
    LinkCheck check;
    std::filesystem::path at = path;
    for (int links = 0;; ++links) {
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) {
            if (links == 0) return check;
            check.kind = LinkCheck::Foreign;
            check.why = at.string() + ", where it leads, does not exist";
            return check;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (links == 0) return check;
            check.kind = LinkCheck::Foreign;
            if (folder && !S_ISDIR(info.st_mode))
                check.why = "it leads to " + at.string() + ", which is not a folder";
            else if (!folder && !S_ISREG(info.st_mode))
                check.why = "it leads to " + at.string() + ", which is not a regular file";
            else if (info.st_uid != me)
                check.why =
                    "it leads to " + at.string() + ", which belongs to " + UserName(info.st_uid);
            else
                check.kind = LinkCheck::Own;
            check.target = at.string();
            return check;
        }
        check.kind = LinkCheck::Foreign;
        if (info.st_uid != me) {
            check.why = "the link " + at.string() + " belongs to " + UserName(info.st_uid);
            return check;
        }
        std::error_code error;
        const std::filesystem::path next = std::filesystem::read_symlink(at, error);
        if (error || links == kMaxLinks) {
            check.why = "the link " + at.string() + " cannot be followed";
            return check;
        }
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
}

std::string UserName(unsigned uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found && found->pw_name && *found->pw_name)
        return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

}  // namespace velmora::platform
