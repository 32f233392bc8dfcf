#pragma once
// The output folder a run starts with when Setup.ini names none.

#include <string>

namespace velmora {

// The program folder for a copy that keeps its settings beside itself;
// otherwise the user's videos folder (XDG "VIDEOS") when it exists, else
// the home folder. Ends with '/'.
std::string DefaultOutputFolder();

}  // namespace velmora
