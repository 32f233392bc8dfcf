#include "platform/profile/Profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>

#include "platform/profile/OwnFiles.h"

namespace velmora::platform {
namespace {

// A CR is a blank too: lines keep the CR of their CRLF line end.
constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// "[name]" gives name; anything else is not a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct KeyValue {
    std::string_view key, value;
};

// "key = value"; comment lines and lines without '=' are not keys.
std::optional<KeyValue> SplitKey(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
    const auto eq = trimmed.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyValue{Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1))};
}

// A value in a pair of quotes of either kind.
bool Quoted(std::string_view value) {
    return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front();
}

std::string Unquote(std::string_view value) {
    if (Quoted(value)) value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxProfileValue) value = value.substr(0, kMaxProfileValue);
    return std::string(value);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<int> ParseProfileInt(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f') {
            digit = Lower(c) - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    std::int64_t result;
    if (base == 16) {
        result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    } else {
        if (value > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
        result = static_cast<std::int64_t>(value);
    }
    return static_cast<int>(negative ? -result : result);
}

PrivateProfile::PrivateProfile(std::string path) : path_(std::move(path)) {}

bool PrivateProfile::Load() {
    lines_.clear();
    crlf_ = false;
    finalNewline_ = true;
    bom_ = false;
    loadError_ = 0;
    refusedValue_ = false;
    // A link that is not the user's own is neither read nor written: the
    // file reads as refused, so nothing is saved over it.
    const LinkCheck link = CheckLink(path_);
    if (link.kind == LinkCheck::Foreign) {
        errno = loadError_ = EPERM;
        return false;
    }
    const std::string& file = link.kind == LinkCheck::Own ? link.target : path_;
    // Not blocking: a named pipe put in the file's place must not hang the
    // start; anything but a regular file is refused below. A link put there
    // since the check is not followed.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno != ENOENT) loadError_ = errno;
        return loadError_ == 0;
    }
    std::string text;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        ok = false;
        errno = EISDIR;
    }
    char buffer[8192];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const int saved = errno;
    ::close(fd);
    if (!ok) {
        errno = loadError_ = saved;
        return false;
    }
    std::string_view rest = text;
    bom_ = rest.starts_with(kUtf8Bom);
    if (bom_) rest.remove_prefix(kUtf8Bom.size());
    if (const auto nl = rest.find('\n');
        nl != std::string_view::npos && nl > 0 && rest[nl - 1] == '\r')
        crlf_ = true;
    finalNewline_ = rest.empty() || rest.back() == '\n';
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        lines_.emplace_back(rest.substr(0, nl));
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    return true;
}

bool PrivateProfile::Save() {
    if (loadError_ != 0) {
        errno = loadError_;
        return false;
    }
    if (refusedValue_) {
        errno = EINVAL;
        return false;
    }
    // Through the user's own link the file it ends at is replaced, not the
    // link; any other link is left alone (checked again: it may have come
    // since the load).
    const LinkCheck link = CheckLink(path_);
    if (link.kind == LinkCheck::Foreign) {
        errno = EPERM;
        return false;
    }
    const std::filesystem::path target = link.kind == LinkCheck::Own ? link.target : path_;
    // A file the user made read-only stays as it is, although the rename could
    // replace it. The mode bits decide too, since root passes every access().
    struct stat old {};
    const bool exists = ::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (exists && ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                   (::access(target.c_str(), W_OK) != 0 && errno == EACCES))) {
        errno = EACCES;
        return false;
    }
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        target.string() + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;

    std::string text(bom_ ? kUtf8Bom : std::string_view{});
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i];
        if (i + 1 < lines_.size() || finalNewline_) text += '\n';
    }
    bool ok = WriteAll(fd, text);
    if (ok && exists) {
        // The replacement keeps the owner, group and mode of the file it
        // replaces. Only root may give a file away: for others a differing
        // owner simply stays their own. Ownership first, as it clears set-id bits.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        }
        ::fchmod(fd, old.st_mode & 07777);
    }
    ok = ok && ::fsync(fd) == 0;
    int saved = errno;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) return true;
    if (errno != 0) saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return false;
}

std::optional<PrivateProfile::KeyLine> PrivateProfile::Find(std::string_view section,
                                                            std::string_view key) const {
    bool inSection = false, sectionSeen = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (const auto name = SectionName(lines_[i])) {
            // Only the first section of a name counts, as with the Windows calls.
            if (inSection) return std::nullopt;
            inSection = !sectionSeen && SameName(*name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        if (const auto kv = SplitKey(lines_[i]); kv && SameName(kv->key, key))
            return KeyLine{i, Unquote(kv->value)};
    }
    return std::nullopt;
}

std::optional<std::string> PrivateProfile::Value(std::string_view section,
                                                 std::string_view key) const {
    if (auto found = Find(section, key)) return std::move(found->value);
    return std::nullopt;
}

std::string PrivateProfile::ReadString(std::string_view section, std::string_view key,
                                       std::string_view fallback) const {
    if (auto found = Find(section, key)) return std::move(found->value);
    return std::string(fallback);
}

int PrivateProfile::ReadInteger(std::string_view section, std::string_view key,
                                int fallback) const {
    const auto found = Find(section, key);
    if (!found) return fallback;
    return ParseProfileInt(found->value).value_or(fallback);
}

bool PrivateProfile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void PrivateProfile::WriteString(std::string_view section, std::string_view key,
                                 std::string_view value) {
    // A line end inside a value would start new lines, even a new section.
    if (value.find_first_of("\r\n") != std::string_view::npos) {
        refusedValue_ = true;
        return;
    }
    // A value that reading would change (surrounding blanks, or a pair of
    // quotes around it) is stored in quotes of its own, so it reads back as written.
    std::string stored(value);
    if (Trim(value).size() != value.size() || Quoted(value)) {
        stored.insert(0, 1, '"');
        stored.push_back('"');
    }
    value = stored;
    if (const auto found = Find(section, key)) {
        // The key keeps its spelling and its indentation; only the value changes.
        std::string& line = lines_[found->line];
        const bool cr = line.ends_with('\r');
        line = line.substr(0, line.find('='));
        while (!line.empty() && kBlanks.find(line.back()) != std::string_view::npos)
            line.pop_back();
        line += '=';
        line += value;
        if (cr) line += '\r';
        return;
    }
    const std::string_view end = crlf_ ? "\r" : "";
    // New lines end as the file's own do; a last line that had no line end
    // gets one before a line follows it.
    const auto insert = [&](std::size_t at, std::string line) {
        if (at == lines_.size() && !finalNewline_) {
            if (crlf_ && !lines_.empty() && !lines_.back().ends_with('\r')) lines_.back() += '\r';
            finalNewline_ = true;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line + std::string(end));
    };
    std::string keyLine = std::string(key) + "=" + std::string(value);
    std::optional<std::size_t> lastOfSection;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (const auto name = SectionName(lines_[i])) {
            if (inSection) break;
            inSection = SameName(*name, section);
            if (inSection) lastOfSection = i;
            continue;
        }
        if (inSection && !Trim(lines_[i]).empty()) lastOfSection = i;
    }
    if (lastOfSection) {
        insert(*lastOfSection + 1, keyLine);
        return;
    }
    // Built by appending, not "[" + ...: GCC 12 warns falsely (-Wrestrict).
    std::string header(1, '[');
    header.append(section).push_back(']');
    insert(lines_.size(), std::move(header));
    insert(lines_.size(), keyLine);
}

void PrivateProfile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void PrivateProfile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, const std::string& file) {
    PrivateProfile profile(file);
    profile.Load();
    return profile.ReadString(section, key, fallback);
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int fallback,
                         const std::string& file) {
    PrivateProfile profile(file);
    profile.Load();
    return profile.ReadInteger(section, key, fallback);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& file) {
    PrivateProfile profile(file);
    if (!profile.Load()) return false;
    profile.WriteString(section, key, value);
    return profile.Save();
}

}  // namespace velmora::platform
