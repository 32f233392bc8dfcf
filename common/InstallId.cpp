#include "common/InstallId.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>

#include "common/SettingsLocation.h"

namespace velmora {
namespace {

constexpr std::size_t kDigits = 32;

bool WellFormed(const std::string& id) {
    if (id.size() != kDigits) return false;
    for (const char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c)) ||
            std::isupper(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::string Read(const std::string& file) {
    // Only a regular file of ours: a link or a device is no id.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    char text[kDigits + 1] = {};
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    return n >= static_cast<ssize_t>(kDigits) ? std::string(text, kDigits) : std::string();
}

std::string NewId() {
    // The system's random source (getrandom or /dev/urandom here).
    std::random_device device;
    unsigned char bytes[kDigits / 2] = {};
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
    std::string id;
    for (const unsigned char b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        id += pair;
    }
    return id;
}

bool Write(const std::string& file, const std::string& id) {
    // Written whole under another name first: a reader never sees half an id.
    const std::string part = file + ".part";
    ::unlink(part.c_str());
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string line = id + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    if (::close(fd) != 0 || !written || ::rename(part.c_str(), file.c_str()) != 0) {
        ::unlink(part.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string InstallId(const std::string& folder) {
    static std::mutex mutex;
    // Ids a folder could not keep, for the rest of the run.
    static std::map<std::string, std::string> unkept;
    std::lock_guard lock(mutex);
    const std::string file = folder + "InstallId";
    std::string id = Read(file);
    if (WellFormed(id)) return id;
    if (const auto kept = unkept.find(folder); kept != unkept.end()) return kept->second;
    id = NewId();
    if (!Write(file, id)) unkept[folder] = id;
    return id;
}

std::string InstallId() {
    return InstallId(CurrentSettingsLocation().settingsFolder);
}

}  // namespace velmora
