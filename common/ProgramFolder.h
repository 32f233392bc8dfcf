#pragma once
// The program folder: where the executable lies, with a trailing '/'.
// Setup.ini, Language/, Logs/ and the pending-deletions list live there.

#include <string>

namespace velmora {

std::string ProgramFolder();

// Tests point the program folder elsewhere; empty restores the real one.
void SetProgramFolder(const std::string& folder);

}  // namespace velmora
