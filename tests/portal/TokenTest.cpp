// The portal's restore token in Setup.ini: stored on its own when the portal
// hands it, read at start, and not overwritten by the older copy that the
// settings saved at exit still hold.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/Settings.h"

namespace velmora {
namespace {

class TokenTest : public testing::Test {
  protected:
    std::string Path() const { return dir_.filePath(QStringLiteral("Setup.ini")).toStdString(); }
    std::string Text() const {
        std::ifstream in(Path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    QTemporaryDir dir_;
};

TEST_F(TokenTest, KeptInSetupVideoAndReadBack) {
    TSettings s;
    s.VideoFPS = 25;
    ASSERT_TRUE(WriteSettings(s, Path()));
    EXPECT_EQ(ReadSettings(Path(), "/p/").ScreenCastToken, "");
    ASSERT_TRUE(StoreScreenCastToken("3a304891-a91d-4117-99e1-d800ea8ed7b8", Path()));
    const TSettings back = ReadSettings(Path(), "/p/");
    EXPECT_EQ(back.ScreenCastToken, "3a304891-a91d-4117-99e1-d800ea8ed7b8");
    EXPECT_EQ(back.VideoFPS, 25);
    const std::string text = Text();
    const auto section = text.find("[SetupVideo]");
    const auto key = text.find("ScreenCastToken=3a304891");
    ASSERT_NE(section, std::string::npos);
    ASSERT_NE(key, std::string::npos);
    EXPECT_GT(key, section);
    EXPECT_EQ(text.find('[', section + 1) == std::string::npos || text.find('[', section + 1) > key,
              true)
        << text;
}

TEST_F(TokenTest, AWindowsTokenIsKeptBesideTheScreensAndNeitherTouchesTheOther) {
    ASSERT_TRUE(StoreScreenCastToken("screen", Path()));
    ASSERT_TRUE(StoreScreenCastToken("window", Path(), true));
    ASSERT_TRUE(StoreScreenCastToken("window2", Path(), true));
    const std::string text = Text();
    EXPECT_NE(text.find("ScreenCastToken=screen\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ScreenCastWindowToken=window2\n"), std::string::npos) << text;
    EXPECT_EQ(ReadSettings(Path(), "/p/").ScreenCastToken, "screen");
}

TEST_F(TokenTest, SavingOlderSettingsKeepsTheNewerToken) {
    ASSERT_TRUE(StoreScreenCastToken("first", Path()));
    TSettings atStart = ReadSettings(Path(), "/p/");
    ASSERT_TRUE(StoreScreenCastToken("second", Path()));  // a later Start, same run
    atStart.VideoFPS = 12;
    ASSERT_TRUE(WriteSettings(atStart, Path()));  // the exit's save
    const TSettings back = ReadSettings(Path(), "/p/");
    EXPECT_EQ(back.ScreenCastToken, "second");
    EXPECT_EQ(back.VideoFPS, 12);
}

TEST_F(TokenTest, StoredFromAnotherThreadWhileSettingsAreSaved) {
    TSettings s;
    ASSERT_TRUE(WriteSettings(s, Path()));
    std::thread portal([this] {
        for (int i = 0; i < 50; ++i) StoreScreenCastToken("t" + std::to_string(i), Path());
    });
    for (int i = 0; i < 50; ++i) {
        s.VideoFPS = 1 + i % 50;
        WriteSettings(s, Path());
    }
    portal.join();
    // Neither writer lost the other's key.
    const TSettings back = ReadSettings(Path(), "/p/");
    EXPECT_EQ(back.ScreenCastToken, "t49");
    EXPECT_EQ(back.VideoFPS, 50);
}

TEST_F(TokenTest, ATokenThatCannotBeWrittenBackIsRefused) {
    ASSERT_TRUE(StoreScreenCastToken("good", Path()));
    EXPECT_FALSE(StoreScreenCastToken("bad\nline", Path()));
    EXPECT_EQ(ReadSettings(Path(), "/p/").ScreenCastToken, "good");
}

}  // namespace
}  // namespace velmora
