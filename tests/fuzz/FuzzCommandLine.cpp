// The command line from fuzzed parameters (the input cut at NUL bytes): the
// time to record is for its recording alone and leaves the stored one be,
// and a folder it accepts is saved and read back unchanged.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "platform/profile/Profile.h"
#include "shell/CommandLine.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> parameters = fuzz::SplitInput(input, '\0');
    TSettings s;
    s.WorkDir = "/program/";
    int invalid = 0, refused = 0;
    ReadCommandLine(
        parameters, s, [&] { ++invalid; },
        [&](const std::string&, const std::string&) { ++refused; });
    FUZZ_CHECK(invalid <= 1);

    // The last "time=" read before any invalid one decides.
    std::optional<int> seconds;
    std::string folder = "/program/";
    for (const std::string& p : parameters) {
        std::string lower = p.substr(0, 5);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == "path=") {
            std::string named = p.substr(5);
            std::error_code error;
            if (!named.empty() && !named.ends_with('/') && std::filesystem::is_directory(named, error))
                named += '/';
            if (RefusedFolderReason(named).empty()) folder = named;
        }
        if (lower == "time=") {
            const auto parsed = platform::ParseProfileInt(p.substr(5));
            if (!parsed) break;
            seconds = parsed;
        }
    }
    FUZZ_CHECK(s.WorkDir == folder);
    FUZZ_CHECK(s.RunTimeLimit == (seconds ? std::optional<int>(std::max(*seconds, 0)) : std::nullopt));
    FUZZ_CHECK(s.RecordHours == 0 && s.RecordMinutes == 0 && s.RecordSeconds == 0);

    const std::string file = fuzz::ScratchFolder() + "Setup.ini";
    std::remove(file.c_str());
    FUZZ_CHECK(WriteSettings(s, file));
    FUZZ_CHECK(ReadSettings(file, "/elsewhere/").WorkDir == s.WorkDir);
    return 0;
}
