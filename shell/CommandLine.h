#pragma once
// The command line: "-vc" or "/vc" starts a recording once start-up is done,
// "path=FOLDER" sets the output folder for the run (saved at exit), and
// "time=SECONDS" sets the time to record (never saved). Switch names ignore
// letter case; the folder is taken exactly as written, since Linux file names
// are case-sensitive.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Settings.h"

namespace velmora {

// Applies the parameters (without the program name) to the settings in order.
// A "time=" value that is not a number is reported through logInvalidTime,
// cancels a "-vc" seen before it and ends the reading. True when a recording
// is to start. A folder with a line break in its name cannot be stored: it
// leaves WorkDir as it was and is reported through logRefusedPath.
bool ReadCommandLine(const std::vector<std::string>& parameters, TSettings& settings,
                     const std::function<void()>& logInvalidTime,
                     const std::function<void()>& logRefusedPath = {});

// "--help" or "--version" anywhere among the parameters: the text to print
// instead of starting, so neither needs a display. Nothing otherwise.
std::optional<std::string> InformationRequest(const std::vector<std::string>& parameters);

}  // namespace velmora
