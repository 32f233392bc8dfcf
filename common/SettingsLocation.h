#pragma once
// Where a run keeps what it writes. A portable copy (and the build tree)
// keeps Setup.ini, the pending-deletions list and Logs/ beside the
// executable while that folder is writable. An installed copy, or one in a
// folder the user cannot write, keeps Setup.ini and the pending-deletions
// list in $XDG_CONFIG_HOME/velmora/ and Logs/ in $XDG_STATE_HOME/velmora/.

#include <string>

namespace velmora {

struct SettingsLocation {
    std::string programFolder;   // the folder the choice was made for
    bool besideProgram = true;   // false: the user's XDG folders
    std::string settingsFolder;  // Setup.ini; ends with '/'
    std::string stateFolder;     // Logs/ goes in here; ends with '/'
    std::string reason;          // why, for the log
};

// What the choice depends on, gathered from the system by
// GatherLocationFacts and made up by tests.
struct LocationFacts {
    std::string programFolder;
    bool programFolderWritable = false;
    bool installed = false;
    std::string home;
    std::string xdgConfigHome;  // as in the environment; may be empty
    std::string xdgStateHome;
};

LocationFacts GatherLocationFacts(const std::string& programFolder);

// The rule. XDG variables that are empty or relative are ignored, as the
// XDG base-directory rules ask.
SettingsLocation ChooseSettingsLocation(const LocationFacts& facts);

// The location of this run: chosen at the first call for the program
// folder, with the XDG folders created (mode 0700) when they are used.
// Chosen again only when tests move the program folder.
SettingsLocation CurrentSettingsLocation();

// The user's own state folder ($XDG_STATE_HOME/velmora/, ending with '/'),
// whatever the run's location: where the log goes when the run's Logs is a
// link that is not followed.
std::string UserStateFolder();

// One line for the log: where the settings file and the log are, and why.
std::string DescribeSettingsLocation(const SettingsLocation& location);

}  // namespace velmora
