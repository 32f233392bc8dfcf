#pragma once
// INI files with the semantics of the Windows private-profile calls: section
// and key names compare without regard to ASCII case, a written key replaces
// its line in place and leaves every other line as it was, a new key goes at
// the end of its section and a new section at the end of the file. Values are
// trimmed, lose one pair of surrounding quotes and are cut at 2047 characters;
// a value written with blanks or quotes around it gets quotes of its own, so
// it reads back as written.
// Saving writes a temporary file beside the target and renames it over the
// target, so a crash or a full disk never leaves a truncated file. A file
// that is a symbolic link is used only when it is the user's own (see
// OwnFiles.h); otherwise it is refused as an unreadable one (EPERM).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Longest value a read returns, as a 2048-character buffer would.
inline constexpr std::size_t kMaxProfileValue = 2047;

// An integer as the settings store it: decimal, or hexadecimal after "0x" or
// "$" (taken as 32 bits, so "$FFFFFFFF" is -1), with an optional sign and
// surrounding blanks. Empty when the text is anything else or out of range.
std::optional<int> ParseProfileInt(std::string_view text);

// One INI file held in memory between Load and Save. Not thread-safe.
class PrivateProfile {
  public:
    explicit PrivateProfile(std::string path);

    // Reads the file. A missing file reads as an empty one (true); a file
    // that exists but cannot be read gives false, and Save then refuses to
    // overwrite it.
    bool Load();
    // Writes the lines atomically. False on any failure; the target is then
    // untouched and errno tells why. An existing target without write
    // permission is refused (EACCES), as is everything after a refused value
    // (EINVAL). The new file keeps the old one's owner, group and mode.
    bool Save();

    const std::string& path() const { return path_; }

    // The value of a key, or nothing when the section or key is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    // A missing key or one that is not an integer gives the fallback.
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    // Any non-zero integer is true.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

    // A value with a line break (CR or LF) is not written, and the next Save
    // fails rather than store the other values without it.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);

  private:
    struct KeyLine {
        std::size_t line;
        std::string value;
    };
    std::optional<KeyLine> Find(std::string_view section, std::string_view key) const;

    std::string path_;
    // Cut at LF only: a CRLF line keeps its CR, so every line is saved as it came.
    std::vector<std::string> lines_;
    bool crlf_ = false;  // the file's own line end is CRLF: new lines get it too
    bool finalNewline_ = true;
    bool bom_ = false;
    int loadError_ = 0;          // errno of a failed Load; Save refuses while set
    bool refusedValue_ = false;  // a value with a line break was written
};

// The Windows calls, one key per call: the file is read (and written) anew
// each time.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, const std::string& file);
int GetPrivateProfileInt(std::string_view section, std::string_view key, int fallback,
                         const std::string& file);
bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& file);

}  // namespace velmora::platform
