#pragma once
// The program folder: where the executable lies, with a trailing '/'. A
// portable copy (and the build tree) keeps Language/ beside the executable;
// an installed one keeps it in share/velmora/ beside bin/.

#include <string>

namespace velmora {

std::string ProgramFolder();

// Tests point the program folder elsewhere; empty restores the real one.
void SetProgramFolder(const std::string& folder);

// Whether the program runs from an installed tree (bin/velmora with
// share/velmora/Language) rather than a portable folder.
bool InstalledLayout(const std::string& programFolder);

// Where the read-only resources (Language/) are, ending with '/'.
std::string DataFolder();

}  // namespace velmora
