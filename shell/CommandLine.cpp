#include "shell/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "common/WritableFolder.h"
#include "shell/Presets.h"
#include "platform/instance/SingleInstance.h"
#include "platform/profile/Profile.h"

namespace velmora {
namespace {
std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsRecordSwitch(const std::string& lower) {
    return lower == "-vc" || lower == "/vc";
}

// What Qt's application object takes from the command line itself (one or two
// dashes): the session manager restarts a program with -session, and users
// pass -platform, -style and the like to any Qt program.
constexpr const char* kToolkitOptionsWithValue[] = {"platform",
                                                    "platformpluginpath",
                                                    "platformtheme",
                                                    "plugin",
                                                    "qwindowgeometry",
                                                    "geometry",
                                                    "qwindowtitle",
                                                    "title",
                                                    "qwindowicon",
                                                    "display",
                                                    "name",
                                                    "session",
                                                    "style",
                                                    "stylesheet"};
constexpr const char* kToolkitFlags[] = {"reverse", "widgetcount", "testability",
                                         "nograb",  "dograb",      "sync"};
constexpr const char* kToolkitOptionsWithEquals[] = {"style=", "stylesheet=", "qmljsdebugger="};

// 0: not the toolkit's; else how many parameters it takes, itself included.
int ToolkitOption(const std::string& parameter) {
    if (!parameter.starts_with('-')) return 0;
    const std::string name = parameter.substr(parameter.starts_with("--") ? 2 : 1);
    for (const char* option : kToolkitOptionsWithValue)
        if (name == option) return 2;
    for (const char* option : kToolkitFlags)
        if (name == option) return 1;
    for (const char* option : kToolkitOptionsWithEquals)
        if (name.starts_with(option)) return 1;
    return 0;
}
// The seconds of a delay= value: a whole number 0..kMaxRunCountdown.
std::optional<int> CountdownSeconds(const std::string& value) {
    const auto seconds = platform::ParseProfileInt(value);
    if (!seconds || *seconds < 0 || *seconds > kMaxRunCountdown) return std::nullopt;
    return *seconds;
}

}  // namespace

const char* const kUsage =
    "Usage: velmora [-vc] [path=FOLDER] [time=SECONDS] [delay=SECONDS] [format=avi|mp4|mkv]\n"
    "               [window=ID|TITLE] [monitor=NAME|all] [preset=NAME]\n"
    "       velmora --start | --stop | --toggle | --pause | --resume | --pause-toggle\n";

std::string RefusedFolderReason(const std::string& folder) {
    // The settings file cannot hold such a name.
    if (!StorableFolder(folder)) return "the name has a line break";
    return FolderUnusableReason(folder);
}

PathCheck CheckPath(const std::string& value) {
    PathCheck check{value, {}};
    // An existing folder is meant, with or without its closing '/'; any
    // other name stays a prefix of the file names.
    std::error_code error;
    if (!value.empty() && !value.ends_with('/') && std::filesystem::is_directory(value, error))
        check.folder += '/';
    check.refusal = RefusedFolderReason(check.folder);
    return check;
}

bool ReadCommandLine(
    const std::vector<std::string>& parameters, TSettings& s,
    const std::function<void()>& logInvalidTime,
    const std::function<void(const std::string& folder, const std::string& reason)>& logRefusedPath,
    const std::function<PathCheck(const std::string&)>& checkPath) {
    bool start = false;
    for (const std::string& parameter : parameters) {
        const std::string lower = Lower(parameter);
        if (IsRecordSwitch(lower)) start = true;
        if (lower.starts_with("path=")) {
            PathCheck path =
                checkPath ? checkPath(parameter.substr(5)) : CheckPath(parameter.substr(5));
            if (path.refusal.empty())
                s.WorkDir = std::move(path.folder);
            else if (logRefusedPath)
                logRefusedPath(path.folder, path.refusal);
        }
        if (lower.starts_with("window=")) s.RunWindow = parameter.substr(7);
        if (lower.starts_with("delay=")) {
            // Refused before the program starts (InvalidParameter).
            if (const auto seconds = CountdownSeconds(parameter.substr(6)))
                s.RunCountdown = *seconds;
        }
        // A monitor's name, or "all"; looked for when the recording starts.
        if (lower.starts_with("monitor=")) s.RunMonitor = parameter.substr(8);
        if (lower.starts_with("preset=")) {
            // Refused before the program starts (InvalidParameter).
            if (const auto preset = ParsePreset(parameter.substr(7))) s.RunPreset = preset;
        }
        if (lower.starts_with("format=")) {
            // Refused before the program starts (InvalidParameter).
            if (const auto format = ParseOutputFormat(parameter.substr(7))) s.RunFormat = format;
        }
        if (lower.starts_with("time=")) {
            const auto seconds = platform::ParseProfileInt(parameter.substr(5));
            if (!seconds) {
                if (logInvalidTime) logInvalidTime();
                return false;
            }
            // For the recording this command line starts; Options keeps its own.
            s.RunTimeLimit = std::max(*seconds, 0);
        }
    }
    return start;
}

std::optional<std::string> InvalidParameter(const std::vector<std::string>& parameters) {
    for (const std::string& parameter : parameters) {
        if (Lower(parameter) == "window=")
            return "velmora: window=: name the window to record by its id or its title\n";
        if (Lower(parameter).starts_with("delay=") && !CountdownSeconds(parameter.substr(6)))
            return "velmora: " + parameter + ": give the seconds to count down before recording, " +
                   "0 to " + std::to_string(kMaxRunCountdown) + "\n";
        if (Lower(parameter) == "monitor=")
            return "velmora: monitor=: name the monitor to record (as xrandr --listmonitors "
                   "shows it) or all\n";
        if (Lower(parameter).starts_with("preset=") && !ParsePreset(parameter.substr(7)))
            return "velmora: " + parameter + ": no such preset; use " + PresetKeys() + "\n";
        if (!Lower(parameter).starts_with("format=")) continue;
        const std::string value = parameter.substr(7);
        if (!ParseOutputFormat(value))
            return "velmora: " + parameter +
                   ": no such kind of file; use format=avi, format=mp4 or format=mkv\n";
    }
    return std::nullopt;
}

std::optional<std::string> MissingWindow(const std::vector<std::string>& parameters,
                                         const WindowLookup& shown) {
    for (const std::string& parameter : parameters) {
        if (!Lower(parameter).starts_with("window=")) continue;
        std::string error;
        if (!shown(parameter.substr(7), error))
            return "velmora: " + parameter + ": " + error + "\n";
    }
    return std::nullopt;
}

std::optional<std::string> InstanceCommandRequest(const std::vector<std::string>& parameters) {
    for (const std::string& parameter : parameters)
        if (parameter == "--start" || parameter == "--stop" || parameter == "--toggle" ||
            parameter == "--pause" || parameter == "--resume" || parameter == "--pause-toggle")
            return parameter.substr(2);
    return std::nullopt;
}

std::optional<std::string> UnknownParameter(const std::vector<std::string>& parameters) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string& parameter = parameters[i];
        const std::string lower = Lower(parameter);
        if (IsRecordSwitch(lower) || lower.starts_with("path=") || lower.starts_with("time=") ||
            lower.starts_with("format=") || lower.starts_with("window=") ||
            lower.starts_with("delay=") || lower.starts_with("monitor=") ||
            lower.starts_with("preset=") || parameter.starts_with("--screen=") ||
            InstanceCommandRequest({parameter}) || parameter == "--help" ||
            parameter == "--version")
            continue;
        if (const int taken = ToolkitOption(parameter)) {
            i += static_cast<std::size_t>(taken - 1);
            continue;
        }
        return parameter;
    }
    return std::nullopt;
}

int SendToRunningCopy(const std::string& title, const std::string& command, std::string& message) {
    std::string detail;
    // Named as the user knows it; the lock's own name for a Wayland display
    // is its socket's path.
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const std::string where = x && *x               ? std::string("on display ") + x
                              : wayland && *wayland ? std::string("on Wayland display ") + wayland
                                                    : "without a display";
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
        case platform::CommandResult::Busy:
        case platform::CommandResult::NotDone:
        case platform::CommandResult::Failed:
            break;
    }
    message = "velmora: --" + command + ": " + detail + "\n";
    return 1;
}

std::optional<int> HandRecordingToRunningCopy(const std::string& title,
                                              const std::vector<std::string>& parameters,
                                              std::string& message) {
    message.clear();
    std::vector<std::string> handed;
    bool record = false;
    for (const std::string& parameter : parameters) {
        const std::string lower = Lower(parameter);
        record = record || IsRecordSwitch(lower);
        if (lower.starts_with("path=") && parameter.size() > 5 && parameter[5] != '/') {
            std::error_code error;
            const auto folder = std::filesystem::absolute(parameter.substr(5), error);
            handed.push_back(error ? parameter : parameter.substr(0, 5) + folder.string());
        } else if (IsRecordSwitch(lower) || lower.starts_with("path=") ||
                   lower.starts_with("time=") || lower.starts_with("format=") ||
                   lower.starts_with("window=") || lower.starts_with("delay=") ||
                   lower.starts_with("monitor=") || lower.starts_with("preset=")) {
            handed.push_back(parameter);
        }
    }
    if (!record) return std::nullopt;
    std::string detail;
    switch (platform::SendInstanceCommand(title, "start", &detail, handed)) {
        case platform::CommandResult::Done:
            return 0;
        case platform::CommandResult::NoCopy:
            return std::nullopt;
        case platform::CommandResult::Refused:
            message = "velmora: -vc: the running copy does not take a recording with parameters\n";
            return std::nullopt;
        case platform::CommandResult::Busy:
        case platform::CommandResult::NotDone:
            message = "velmora: -vc: " + detail + "\n";
            return 1;
        case platform::CommandResult::Failed:
            break;
    }
    message = "velmora: -vc: " + detail + "\n";
    return std::nullopt;
}

std::optional<std::string> InformationRequest(const std::vector<std::string>& parameters) {
    const auto given = [&](const char* name) {
        return std::find(parameters.begin(), parameters.end(), name) != parameters.end();
    };
    if (given("--help"))
        return std::string(kUsage) +
               "Records the screen, or an area of it, into AVI, MP4 or Matroska files.\n"
               "\n"
               "  -vc, /vc         start recording once the window is up; with a copy\n"
               "                   running, that copy records (with path=, time=, delay=,\n"
               "                   format=, window=, monitor=, preset=)\n"
               "  path=FOLDER      save recordings in FOLDER (kept for the next runs); a\n"
               "                   name that is no folder starts the file names:\n"
               "                   path=/tmp/demo- saves /tmp/demo-VideoRecord_....avi\n"
               "  time=SECONDS     stop that recording after SECONDS\n"
               "  delay=SECONDS    count SECONDS down on the screen before that recording\n"
               "                   starts (0 to 600; Options keeps the usual one)\n"
               "  format=KIND      save that recording as avi, mp4 or mkv (Matroska); mp4\n"
               "                   records H.264 video, whatever codec Options has\n"
               "  window=ID|TITLE  record this window only (an X window id, decimal or 0x..,\n"
               "                   or its title), whatever covers it; on Wayland the\n"
               "                   desktop asks which window\n"
               "  monitor=NAME     record that whole monitor (its RandR name, as\n"
               "                   xrandr --listmonitors shows it); monitor=all records\n"
               "                   every monitor together\n"
               "  preset=NAME      record that recording with one of Options' presets:\n"
               "                   web (MP4, H.264 at 30 fps, AAC sound from the default\n"
               "                   input: plays in web browsers), small (the same at\n"
               "                   15 fps, smaller), lossless (Matroska, FFV1, FLAC) or\n"
               "                   default (AVI, Xvid, 15 fps, no sound); format= wins\n"
               "                   over its file format\n"
               "  --start          tell the running copy to start recording (as F9 does)\n"
               "  --stop           tell the running copy to stop recording (as F10 does)\n"
               "  --toggle         tell the running copy to start or stop recording\n"
               "  --pause          tell the running copy to pause its recording; the file\n"
               "                   goes on where it stopped when it is resumed\n"
               "  --resume         tell the running copy to resume its paused recording\n"
               "  --pause-toggle   pause or resume, as F11 does\n"
               "  --screen=KIND    record through x11 (the X server) or portal (the\n"
               "                   desktop's ScreenCast portal); chosen by itself otherwise\n"
               "  --help           print this help and exit\n"
               "  --version        print the version and exit\n"
               "\n"
               "time=, delay=, format=, window=, monitor= and preset= count for the one\n"
               "recording they start (given without -vc, the next one); Options keeps the\n"
               "usual choices.\n"
               "Where recordings play: MP4 and Matroska with H.264 video play in web\n"
               "browsers (Chromium, Firefox) and desktop players (VLC, mpv); AVI (the\n"
               "usual format, with Xvid) and MP4 with Xvid or Motion JPEG play in desktop\n"
               "players only.\n"
               "Any other option is refused (exit status 2).\n"
               "F9 starts, F10 stops and F11 pauses or resumes a recording from any window.\n"
               "Where the desktop offers no global keys (Wayland), bind keys to\n"
               "velmora --start, --stop and --pause-toggle in its keyboard settings.\n"
               "Setup.ini and Logs/ are kept beside the program when its folder is\n"
               "writable; otherwise in $XDG_CONFIG_HOME/velmora/ and\n"
               "$XDG_STATE_HOME/velmora/.\n";
    if (given("--version")) return std::string("Velmora ") + AppVersion + "\n";
    return std::nullopt;
}

}  // namespace velmora
