// The id the reports carry instead of a hardware address.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "common/InstallId.h"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class InstallIdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-installid-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = std::string(pattern) + "/";
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Kept() const {
        std::ifstream in(dir + "InstallId");
        std::string line;
        std::getline(in, line);
        return line;
    }
    std::string dir;
};

const std::regex kId("[0-9a-f]{32}");

TEST_F(InstallIdTest, MadeOnceKeptAndTheSameAtEveryReport) {
    const std::string id = InstallId(dir);
    EXPECT_TRUE(std::regex_match(id, kId)) << id;
    EXPECT_EQ(Kept(), id);
    EXPECT_EQ(InstallId(dir), id);
    EXPECT_EQ((fs::status(dir + "InstallId").permissions() & fs::perms::others_read),
              fs::perms::none);
    // Another install, another id.
    char other[] = "/tmp/velmora-installid-XXXXXX";
    ASSERT_NE(mkdtemp(other), nullptr);
    EXPECT_NE(InstallId(std::string(other) + "/"), id);
    fs::remove_all(other);
}

TEST_F(InstallIdTest, ADamagedFileOrALinkGetsAFreshIdAndTheLinksTargetStaysAsItWas) {
    for (const char* damaged : {"", "not an id", "0123456789ABCDEF0123456789ABCDEF"}) {
        std::ofstream(dir + "InstallId") << damaged;
        const std::string id = InstallId(dir);
        EXPECT_TRUE(std::regex_match(id, kId)) << damaged;
        EXPECT_EQ(Kept(), id) << damaged;
    }
    const std::string target = dir + "elsewhere";
    std::ofstream(target) << "0123456789abcdef0123456789abcdef\n";
    fs::remove(dir + "InstallId");
    fs::create_symlink(target, dir + "InstallId");
    const std::string id = InstallId(dir);
    EXPECT_NE(id, "0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(fs::is_symlink(dir + "InstallId"));
    std::ifstream in(target);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "0123456789abcdef0123456789abcdef");
}

TEST_F(InstallIdTest, AFolderThatCannotKeepItStillGivesAnId) {
    const std::string gone = dir + "missing/";
    const std::string id = InstallId(gone);
    EXPECT_TRUE(std::regex_match(id, kId));
    EXPECT_FALSE(fs::exists(gone));
    // The same for the rest of the run.
    EXPECT_EQ(InstallId(gone), id);
}

}  // namespace
