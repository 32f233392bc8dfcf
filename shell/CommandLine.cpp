#include "shell/CommandLine.h"

#include <algorithm>
#include <cctype>

#include "platform/profile/Profile.h"

namespace velmora {
namespace {
std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
}  // namespace

bool ReadCommandLine(const std::vector<std::string>& parameters, TSettings& s,
                     const std::function<void()>& logInvalidTime,
                     const std::function<void()>& logRefusedPath) {
    bool start = false;
    for (const std::string& parameter : parameters) {
        const std::string lower = Lower(parameter);
        if (lower == "-vc" || lower == "/vc") start = true;
        if (lower.starts_with("path=")) {
            std::string folder = parameter.substr(5);
            if (StorableFolder(folder))
                s.WorkDir = std::move(folder);
            else if (logRefusedPath)
                logRefusedPath();
        }
        if (lower.starts_with("time=")) {
            const auto seconds = platform::ParseProfileInt(parameter.substr(5));
            if (!seconds) {
                if (logInvalidTime) logInvalidTime();
                return false;
            }
            if (*seconds > 0) s.RecordTimeEnabled = true;
            s.RecordHours = *seconds / 3600;
            s.RecordMinutes = (*seconds - s.RecordHours * 3600) / 60;
            s.RecordSeconds = *seconds - s.RecordHours * 3600 - s.RecordMinutes * 60;
        }
    }
    return start;
}

std::optional<std::string> InformationRequest(const std::vector<std::string>& parameters) {
    const auto given = [&](const char* name) {
        return std::find(parameters.begin(), parameters.end(), name) != parameters.end();
    };
    if (given("--help"))
        return std::string(
            "Usage: velmora [-vc] [path=FOLDER/] [time=SECONDS]\n"
            "Records the screen, or an area of it, into AVI files.\n"
            "\n"
            "  -vc, /vc         start recording once the window is up\n"
            "  path=FOLDER/     save recordings in FOLDER (kept for the next runs); the\n"
            "                   name is used as written, so end it with '/'\n"
            "  time=SECONDS     stop recording after SECONDS\n"
            "  --help           print this help and exit\n"
            "  --version        print the version and exit\n"
            "\n"
            "F9 starts and F10 stops a recording from any window.\n"
            "Setup.ini and Logs/ are kept beside the program when its folder is\n"
            "writable; otherwise in $XDG_CONFIG_HOME/velmora/ and\n"
            "$XDG_STATE_HOME/velmora/.\n");
    if (given("--version")) return std::string("Velmora ") + AppVersion + "\n";
    return std::nullopt;
}

}  // namespace velmora
