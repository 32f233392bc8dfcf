#pragma once
// The command line: "-vc" or "/vc" starts a recording once start-up is done,
// "path=FOLDER" sets the output folder (kept, and saved at exit), and
// "time=SECONDS" sets the time to record, "delay=SECONDS" the countdown
// before it, "format=avi|mp4|mkv" the kind of file, "window=ID|TITLE" the one
// window to record, "monitor=NAME|all" the monitor Full Screen records and
// "preset=NAME" the codec, format, frame rate and sound of a preset,
// each for the one recording the command line starts (without -vc, the next
// one), never saved and never shown in Options. Switch names ignore letter
// case; the folder is taken exactly as written, since Linux file names are
// case-sensitive: an existing folder is that folder, any other name without
// a closing '/' a prefix of the file names.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Settings.h"

namespace velmora {

// Why recordings cannot go into folder (a WorkDir as the user gives it);
// empty when they can.
std::string RefusedFolderReason(const std::string& folder);

// What a "path=" value is: the folder as it is used (an existing folder
// named without its closing '/' gets one) and why recordings cannot go there
// ("" when they can). Reads the folder: any thread.
struct PathCheck {
    std::string folder;
    std::string refusal;
};
PathCheck CheckPath(const std::string& value);

// Applies the parameters (without the program name) to the settings in order.
// A "time=" value that is not a number is reported through logInvalidTime,
// cancels a "-vc" seen before it and ends the reading. True when a recording
// is to start. A folder that cannot take recordings (missing, not a folder,
// not writable, a line break in its name) leaves WorkDir as it was and is
// reported through logRefusedPath with the folder and the reason. checkPath
// replaces CheckPath (the window asks it away from its thread).
bool ReadCommandLine(const std::vector<std::string>& parameters, TSettings& settings,
                     const std::function<void()>& logInvalidTime,
                     const std::function<void(const std::string& folder,
                                              const std::string& reason)>& logRefusedPath = {},
                     const std::function<PathCheck(const std::string&)>& checkPath = {});

// Why a parameter of the program's own cannot be taken ("format=" with a
// kind of file there is none of), as the line to print; nothing when all can.
std::optional<std::string> InvalidParameter(const std::vector<std::string>& parameters);

// Whether a window of that id or title is shown now; error says why not.
using WindowLookup = std::function<bool(const std::string& idOrTitle, std::string& error)>;
// "window=" naming no window that shown finds: the line to print. Nothing
// when every window named is there.
std::optional<std::string> MissingWindow(const std::vector<std::string>& parameters,
                                         const WindowLookup& shown);

// The usage lines, printed by --help and after an unknown option.
extern const char* const kUsage;

// The first parameter that is neither the program's own (-vc, path=, time=,
// delay=, format=, window=, monitor=, preset=, --start, --stop, --toggle,
// --pause, --resume, --pause-toggle, --screen=, --help, --version) nor one Qt
// takes (-platform NAME, -session ID, -style NAME, ...): a typo must not start
// a copy that ignores it. Nothing when every parameter is known.
std::optional<std::string> UnknownParameter(const std::vector<std::string>& parameters);

// With "-vc" among the parameters, hands the recording to the running copy:
// it starts as on "--start", after applying the "path=" (made absolute: the
// running copy has a working folder of its own) and "time=" parameters. The
// exit status for this process when the running copy answered for it: 0 when
// it took it, 1 when it cannot record now (message says why). Nothing when
// this process goes on starting: there is no running copy (message empty) or
// it does not take such a command (message says why).
std::optional<int> HandRecordingToRunningCopy(const std::string& title,
                                              const std::vector<std::string>& parameters,
                                              std::string& message);

// "--start", "--stop", "--toggle", "--pause", "--resume" or "--pause-toggle"
// anywhere among the parameters: the command (the switch without its dashes)
// for the running copy, the first given when there are several. Nothing
// otherwise.
std::optional<std::string> InstanceCommandRequest(const std::vector<std::string>& parameters);

// Hands command to the running copy of title: the exit status for this
// process (0 when it took it) and, on failure, the text to print.
int SendToRunningCopy(const std::string& title, const std::string& command, std::string& message);

// "--help" or "--version" anywhere among the parameters: the text to print
// instead of starting, so neither needs a display. Nothing otherwise.
std::optional<std::string> InformationRequest(const std::vector<std::string>& parameters);

}  // namespace velmora
