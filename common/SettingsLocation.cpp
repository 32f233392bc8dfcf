#include "common/SettingsLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "common/ProgramFolder.h"

namespace velmora {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string BaseFolder(const std::string& variable, const std::string& home, const char* fallback) {
    if (!variable.empty() && variable.front() == '/') return WithSlash(variable);
    return WithSlash(home) + fallback;
}

// mkdir -p, one level at a time; failures show up when the files are written.
void CreateFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1))
        if (::mkdir(folder.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return;
}

std::mutex choiceMutex;
std::optional<SettingsLocation> chosen;

}  // namespace

LocationFacts GatherLocationFacts(const std::string& programFolder) {
    LocationFacts facts;
    facts.programFolder = programFolder;
    // access() sees read-only mounts and ACLs as well as the mode bits.
    facts.programFolderWritable = ::access(programFolder.c_str(), W_OK | X_OK) == 0;
    facts.installed = InstalledLayout(programFolder);
    facts.home = Env("HOME");
    if (facts.home.empty())
        if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
            facts.home = user->pw_dir;
    facts.xdgConfigHome = Env("XDG_CONFIG_HOME");
    facts.xdgStateHome = Env("XDG_STATE_HOME");
    return facts;
}

SettingsLocation ChooseSettingsLocation(const LocationFacts& facts) {
    SettingsLocation location;
    location.programFolder = facts.programFolder;
    // An installed copy never writes into bin/, even for a user who may
    // (root, or a member of "staff" under /usr/local).
    if (!facts.installed && facts.programFolderWritable) {
        location.besideProgram = true;
        location.settingsFolder = facts.programFolder;
        location.stateFolder = facts.programFolder;
        location.reason = "the program folder is writable";
        return location;
    }
    location.besideProgram = false;
    location.settingsFolder = BaseFolder(facts.xdgConfigHome, facts.home, ".config/") + "velmora/";
    location.stateFolder = BaseFolder(facts.xdgStateHome, facts.home, ".local/state/") + "velmora/";
    location.reason = facts.installed ? "an installed program" : "the program folder is read-only";
    return location;
}

SettingsLocation CurrentSettingsLocation() {
    const std::string programFolder = ProgramFolder();
    std::lock_guard lock(choiceMutex);
    if (!chosen || chosen->programFolder != programFolder) {
        chosen = ChooseSettingsLocation(GatherLocationFacts(programFolder));
        if (!chosen->besideProgram) {
            CreateFolders(chosen->settingsFolder);
            CreateFolders(chosen->stateFolder);
        }
    }
    return *chosen;
}

std::string UserStateFolder() {
    LocationFacts facts = GatherLocationFacts(ProgramFolder());
    facts.programFolderWritable = false;
    return ChooseSettingsLocation(facts).stateFolder;
}

std::string DescribeSettingsLocation(const SettingsLocation& location) {
    return "Settings: " + location.settingsFolder + "Setup.ini, log: " + location.stateFolder +
           "Logs/ (" + location.reason + ")";
}

}  // namespace velmora
