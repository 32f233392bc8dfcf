// Where a run keeps Setup.ini, the pending-deletions list and Logs/, and
// where it finds its language files, for portable and installed copies.

#include "common/SettingsLocation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "common/ProgramFolder.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

LocationFacts Facts(bool installed, bool writable) {
    LocationFacts facts;
    facts.programFolder = "/opt/rec/bin/";
    facts.installed = installed;
    facts.programFolderWritable = writable;
    facts.home = "/home/ann";
    facts.xdgConfigHome = "/home/ann/conf";
    facts.xdgStateHome = "/home/ann/state/";
    return facts;
}

TEST(ChooseSettingsLocation, PortableCopyInAWritableFolderKeepsEverythingBesideItself) {
    const SettingsLocation location = ChooseSettingsLocation(Facts(false, true));
    EXPECT_TRUE(location.besideProgram);
    EXPECT_EQ(location.settingsFolder, "/opt/rec/bin/");
    EXPECT_EQ(location.stateFolder, "/opt/rec/bin/");
    EXPECT_EQ(DescribeSettingsLocation(location),
              "Settings: /opt/rec/bin/Setup.ini, log: /opt/rec/bin/Logs/ "
              "(the program folder is writable)");
}

TEST(ChooseSettingsLocation, ReadOnlyOrInstalledCopiesUseTheUsersXdgFolders) {
    for (const auto& [installed, writable, reason] :
         {std::tuple{false, false, "the program folder is read-only"},
          std::tuple{true, false, "an installed program"},
          // Root may write into bin/, but an installed program stays out of it.
          std::tuple{true, true, "an installed program"}}) {
        const SettingsLocation location = ChooseSettingsLocation(Facts(installed, writable));
        EXPECT_FALSE(location.besideProgram);
        EXPECT_EQ(location.settingsFolder, "/home/ann/conf/velmora/");
        EXPECT_EQ(location.stateFolder, "/home/ann/state/velmora/");
        EXPECT_EQ(DescribeSettingsLocation(location),
                  std::string("Settings: /home/ann/conf/velmora/Setup.ini, log: "
                              "/home/ann/state/velmora/Logs/ (") +
                      reason + ")");
    }
}

TEST(ChooseSettingsLocation, UnsetEmptyOrRelativeXdgVariablesFallBackToTheHomeFolder) {
    for (const std::string value : {"", "relative/conf"}) {
        LocationFacts facts = Facts(true, false);
        facts.xdgConfigHome = value;
        facts.xdgStateHome = value;
        const SettingsLocation location = ChooseSettingsLocation(facts);
        EXPECT_EQ(location.settingsFolder, "/home/ann/.config/velmora/") << value;
        EXPECT_EQ(location.stateFolder, "/home/ann/.local/state/velmora/") << value;
    }
}

// A temporary tree laid out as a prefix (bin/, share/velmora/Language) or a
// portable folder.
class LayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-location-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        fs::create_directories(root / "bin");
        bin = (root / "bin").string() + "/";
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME"})
            if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
        setenv("XDG_CONFIG_HOME", (root / "home/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (root / "home/state").c_str(), 1);
    }
    void TearDown() override {
        SetProgramFolder("");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_STATE_HOME");
        for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
        fs::remove_all(root);
    }
    fs::path root;
    std::string bin;
    std::vector<std::pair<std::string, std::string>> saved;
};

TEST_F(LayoutTest, LanguageFilesBesideTheProgramOrInShareVelmoraDecideTheLayout) {
    // Neither: a bare folder counts as portable (tests run programs so).
    EXPECT_FALSE(InstalledLayout(bin));

    fs::create_directories(root / "share/velmora/Language");
    EXPECT_TRUE(InstalledLayout(bin));
    SetProgramFolder(bin);
    EXPECT_EQ(DataFolder(), (root / "share/velmora").string() + "/");

    // A portable copy unpacked into some bin/ is still itself.
    fs::create_directories(root / "bin/Language");
    EXPECT_FALSE(InstalledLayout(bin));
    EXPECT_EQ(DataFolder(), bin);
}

TEST_F(LayoutTest, InstalledCopyCreatesPrivateXdgFolders) {
    fs::create_directories(root / "share/velmora/Language");
    SetProgramFolder(bin);
    const SettingsLocation location = CurrentSettingsLocation();
    EXPECT_FALSE(location.besideProgram);
    EXPECT_EQ(location.settingsFolder, (root / "home/config/velmora").string() + "/");
    EXPECT_EQ(location.stateFolder, (root / "home/state/velmora").string() + "/");
    for (const auto& folder : {location.settingsFolder, location.stateFolder}) {
        struct stat st {};
        ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }

    // The choice follows the program folder (tests move it), nothing else.
    fs::create_directories(root / "elsewhere/portable");
    SetProgramFolder((root / "elsewhere/portable").string());
    EXPECT_TRUE(CurrentSettingsLocation().besideProgram);
    EXPECT_EQ(CurrentSettingsLocation().settingsFolder, (root / "elsewhere/portable/").string());
}

}  // namespace
