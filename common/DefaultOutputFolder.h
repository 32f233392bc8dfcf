#pragma once
// The output folder a run starts with when Setup.ini names none.

#include <string>
#include <vector>

namespace velmora {

// The program folder for a copy that keeps its settings beside itself;
// otherwise the user's videos folder (XDG "VIDEOS") when it exists, else
// the home folder. Ends with '/'.
std::string DefaultOutputFolder();

// Where a recording goes when its folder is lost under it: the user's
// videos folder when it exists, then the home folder. Each ends with '/'.
std::vector<std::string> FallbackOutputFolders();

}  // namespace velmora
