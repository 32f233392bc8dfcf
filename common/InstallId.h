#pragma once
// What the reports say about the machine: a random id made at the first
// report and kept in the settings folder, so reports of one install can be
// told apart without a hardware address ever leaving the machine.

#include <string>

namespace velmora {

// The id kept in folder + "InstallId": 32 lower-case hex digits. A missing or
// damaged file gets a new id; when the folder cannot take it, the id lives
// for this run only.
std::string InstallId(const std::string& folder);

// The id of the current settings folder.
std::string InstallId();

}  // namespace velmora
