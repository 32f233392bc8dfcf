#include "shell/CommandLine.h"

#include <algorithm>
#include <cctype>

#include "common/WritableFolder.h"
#include "platform/instance/SingleInstance.h"
#include "platform/profile/Profile.h"

namespace velmora {
namespace {
std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
}  // namespace

std::string RefusedFolderReason(const std::string& folder) {
    // The settings file cannot hold such a name.
    if (!StorableFolder(folder)) return "the name has a line break";
    return FolderUnusableReason(folder);
}

bool ReadCommandLine(const std::vector<std::string>& parameters, TSettings& s,
                     const std::function<void()>& logInvalidTime,
                     const std::function<void(const std::string& folder,
                                              const std::string& reason)>& logRefusedPath) {
    bool start = false;
    for (const std::string& parameter : parameters) {
        const std::string lower = Lower(parameter);
        if (lower == "-vc" || lower == "/vc") start = true;
        if (lower.starts_with("path=")) {
            std::string folder = parameter.substr(5);
            const std::string reason = RefusedFolderReason(folder);
            if (reason.empty())
                s.WorkDir = std::move(folder);
            else if (logRefusedPath)
                logRefusedPath(folder, reason);
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

std::optional<std::string> InstanceCommandRequest(const std::vector<std::string>& parameters) {
    for (const std::string& parameter : parameters)
        if (parameter == "--start" || parameter == "--stop" || parameter == "--toggle")
            return parameter.substr(2);
    return std::nullopt;
}

int SendToRunningCopy(const std::string& title, const std::string& command, std::string& message) {
    std::string detail;
    const std::string display = platform::InstanceLock::CurrentDisplay();
    const std::string where = display.empty() ? "without a display" : "on display " + display;
    switch (platform::SendInstanceCommand(title, command, &detail)) {
        case platform::CommandResult::Done:
            message.clear();
            return 0;
        case platform::CommandResult::NoCopy:
            message = "velmora: --" + command + ": no running copy of " + title +
                      " for this user " + where + "\n";
            return 1;
        case platform::CommandResult::Refused:
            message = "velmora: --" + command + ": the running copy does not know this command\n";
            return 1;
        case platform::CommandResult::Failed:
            break;
    }
    message = "velmora: --" + command + ": " + detail + "\n";
    return 1;
}

std::optional<std::string> InformationRequest(const std::vector<std::string>& parameters) {
    const auto given = [&](const char* name) {
        return std::find(parameters.begin(), parameters.end(), name) != parameters.end();
    };
    if (given("--help"))
        return std::string(
            "Usage: velmora [-vc] [path=FOLDER/] [time=SECONDS]\n"
            "       velmora --start | --stop | --toggle\n"
            "Records the screen, or an area of it, into AVI files.\n"
            "\n"
            "  -vc, /vc         start recording once the window is up\n"
            "  path=FOLDER/     save recordings in FOLDER (kept for the next runs); the\n"
            "                   name is used as written, so end it with '/'\n"
            "  time=SECONDS     stop recording after SECONDS\n"
            "  --start          tell the running copy to start recording (as F9 does)\n"
            "  --stop           tell the running copy to stop recording (as F10 does)\n"
            "  --toggle         tell the running copy to start or stop recording\n"
            "  --help           print this help and exit\n"
            "  --version        print the version and exit\n"
            "\n"
            "F9 starts and F10 stops a recording from any window. Where the desktop\n"
            "offers no global keys (Wayland), bind keys to velmora --start and\n"
            "velmora --stop in its keyboard settings.\n"
            "Setup.ini and Logs/ are kept beside the program when its folder is\n"
            "writable; otherwise in $XDG_CONFIG_HOME/velmora/ and\n"
            "$XDG_STATE_HOME/velmora/.\n");
    if (given("--version")) return std::string("Velmora ") + AppVersion + "\n";
    return std::nullopt;
}

}  // namespace velmora
