// The INI reader and writer on a fuzzed file. The input's first line names
// what to write ("section|key|value"), the rest is the file. A written value
// must read back as written, every other key must keep its value, and
// writing the same value again must leave the file as it is.

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "platform/profile/Profile.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;
using platform::GetPrivateProfileString;

namespace {

// Section and key names as the program uses them: letters, digits, '_'.
std::string Name(const std::string& text, const char* fallback) {
    std::string name;
    for (const char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') name += c;
    return name.empty() ? fallback : name;
}

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// Up to 16 (section, key) pairs that look present in the file.
std::vector<std::pair<std::string, std::string>> Probes(const std::string& file) {
    std::vector<std::pair<std::string, std::string>> probes;
    std::string section;
    for (const std::string& line : fuzz::SplitInput(file, '\n')) {
        if (probes.size() >= 16) break;
        if (!line.empty() && line.front() == '[') {
            section = Name(line.substr(1, line.find(']') - 1), "");
        } else if (const auto eq = line.find('='); eq != std::string::npos && !section.empty()) {
            const std::string key = Name(line.substr(0, eq), "");
            if (!key.empty()) probes.emplace_back(section, key);
        }
    }
    return probes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const auto lineEnd = input.find('\n');
    const std::string selector = input.substr(0, lineEnd);
    const std::string text =
        lineEnd == std::string::npos ? std::string() : input.substr(lineEnd + 1);
    const std::vector<std::string> fields = fuzz::SplitInput(selector, '|');
    const std::string section = Name(fields[0], "Fuzz");
    const std::string key = Name(fields.size() > 1 ? fields[1] : "", "Key");
    const std::string value =
        fields.size() > 2 ? selector.substr(fields[0].size() + fields[1].size() + 2) : "value";

    const std::string file = fuzz::WriteScratchFile(
        "profile.ini", reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const auto probes = Probes(text);
    std::vector<std::string> before;
    for (const auto& [s, k] : probes) {
        before.push_back(GetPrivateProfileString(s, k, "\x01missing", file));
        // What ReadInteger takes, WriteInteger writes back the same.
        if (const auto n = platform::ParseProfileInt(before.back()))
            FUZZ_CHECK(platform::ParseProfileInt(std::to_string(*n)) == n);
    }

    const bool written = platform::WritePrivateProfileString(section, key, value, file);
    if (value.find_first_of("\r\n") != std::string::npos) {
        FUZZ_CHECK(!written);
        FUZZ_CHECK(fuzz::ReadWholeFile(file) == text);
        return 0;
    }
    FUZZ_CHECK(written);
    FUZZ_CHECK(GetPrivateProfileString(section, key, "", file) ==
               value.substr(0, platform::kMaxProfileValue));
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const auto& [s, k] = probes[i];
        if (SameName(s, section) && SameName(k, key)) continue;
        FUZZ_CHECK(GetPrivateProfileString(s, k, "\x01missing", file) == before[i]);
    }
    const std::string once = fuzz::ReadWholeFile(file);
    FUZZ_CHECK(platform::WritePrivateProfileString(section, key, value, file));
    FUZZ_CHECK(fuzz::ReadWholeFile(file) == once);
    return 0;
}
