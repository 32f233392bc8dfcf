// A first start on a German desktop speaks German, and keeps it.

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;

namespace {

TEST_F(ProgramTest, AFirstStartFollowsTheDesktopsLanguage) {
    Program program(folder_, {}, {"LANG=de_DE.UTF-8", "LC_ALL=", "LC_MESSAGES="});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0);
    const std::string setup = Slurp(folder_ / "Setup.ini");
    EXPECT_NE(setup.find("\nLanguage=German\n"), std::string::npos) << setup;
}

}  // namespace
