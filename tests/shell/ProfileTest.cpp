// The settings file layer against real files in a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/profile/Profile.h"

using namespace velmora::platform;
namespace fs = std::filesystem;

namespace {

class ProfileTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("velmora-profile-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = (dir_ / "Setup.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }
    std::string Contents() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir_;
    std::string file_;
};

TEST(ParseProfileInt, DecimalAndBothHexFormsWithinThirtyTwoBits) {
    EXPECT_EQ(ParseProfileInt("42"), 42);
    EXPECT_EQ(ParseProfileInt("  -7 "), -7);
    EXPECT_EQ(ParseProfileInt("0x1F"), 31);
    EXPECT_EQ(ParseProfileInt("$ff"), 255);
    EXPECT_EQ(ParseProfileInt("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseProfileInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseProfileInt("2147483648"), std::nullopt);
    EXPECT_EQ(ParseProfileInt("0x100000000"), std::nullopt);
    for (const char* bad : {"", "abc", "12abc", "0x", "$", "1.5", "0xG1", "- 1"})
        EXPECT_EQ(ParseProfileInt(bad), std::nullopt) << bad;
}

TEST_F(ProfileTest, NamesIgnoreCaseValuesAreTrimmedUnquotedAndCut) {
    Put("; comment=not a key\n[SetupVideo]\n  workdir =  /home/Ann/Videos/  \n"
        "Quoted=\"  spaced  \"\nLong=" +
        std::string(3000, 'x') + "\n[Other]\nWorkDir=wrong\n");
    PrivateProfile ini(file_);
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadString("SETUPVIDEO", "WorkDir", "-"), "/home/Ann/Videos/");
    EXPECT_EQ(ini.ReadString("setupvideo", "quoted", "-"), "  spaced  ");
    EXPECT_EQ(ini.ReadString("SetupVideo", "Long", "-").size(), kMaxProfileValue);
    EXPECT_EQ(ini.ReadString("SetupVideo", "Missing", "def"), "def");
    EXPECT_EQ(ini.ReadString("Nowhere", "WorkDir", "def"), "def");
    EXPECT_EQ(ini.ReadString("", "; comment", "def"), "def");
}

TEST_F(ProfileTest, IntegersAndBooleansFallBackOnlyWhenUnreadable) {
    Put("[S]\nHex=0x10\nDollar=$10\nBad=ten\nCursor=5\nOff=0\n");
    PrivateProfile ini(file_);
    ASSERT_TRUE(ini.Load());
    EXPECT_EQ(ini.ReadInteger("S", "Hex", -1), 16);
    EXPECT_EQ(ini.ReadInteger("S", "Dollar", -1), 16);
    EXPECT_EQ(ini.ReadInteger("S", "Bad", -1), -1);
    EXPECT_TRUE(ini.ReadBool("S", "Cursor", false));
    EXPECT_FALSE(ini.ReadBool("S", "Off", true));
    EXPECT_TRUE(ini.ReadBool("S", "Bad", true));
}

TEST_F(ProfileTest, WritesInPlaceAppendsKeysToTheirSectionAndSectionsAtTheEnd) {
    Put("[A]\r\n; keep me\r\nkey=old\r\nOther=1\r\n\r\n[B]\r\nx=1\r\n");
    ASSERT_TRUE(WritePrivateProfileString("a", "KEY", "new", file_));
    ASSERT_TRUE(WritePrivateProfileString("A", "Added", "2", file_));
    ASSERT_TRUE(WritePrivateProfileString("C", "y", "3", file_));
    EXPECT_EQ(Contents(),
              "[A]\r\n; keep me\r\nkey=new\r\nOther=1\r\nAdded=2\r\n\r\n[B]\r\nx=1\r\n"
              "[C]\r\ny=3\r\n");
    EXPECT_EQ(GetPrivateProfileString("a", "key", "", file_), "new");
}

TEST_F(ProfileTest, NewFileGetsSectionsInWriteOrder) {
    PrivateProfile ini(file_);
    ASSERT_TRUE(ini.Load());  // absent: empty
    ini.WriteString("Setup", "Language", "English");
    ini.WriteBool("SetupApp", "SendStats", true);
    ini.WriteInteger("SetupVideo", "VideoFPS", 15);
    ini.WriteBool("SetupApp", "MinimizeCapture", false);
    ASSERT_TRUE(ini.Save());
    EXPECT_EQ(Contents(),
              "[Setup]\nLanguage=English\n[SetupApp]\nSendStats=1\nMinimizeCapture=0\n"
              "[SetupVideo]\nVideoFPS=15\n");
}

TEST_F(ProfileTest, FailedSaveLeavesTargetAndNoTemporaryFiles) {
    fs::create_directory(file_);  // a folder where the file should be
    PrivateProfile ini(file_);
    EXPECT_FALSE(ini.Load());
    ini.WriteString("Setup", "Language", "English");
    EXPECT_FALSE(ini.Save());
    EXPECT_FALSE(WritePrivateProfileString("Setup", "Language", "x", file_));
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // A folder that cannot take the temporary file.
    const std::string missing = (dir_ / "gone" / "Setup.ini").string();
    EXPECT_FALSE(WritePrivateProfileString("Setup", "Language", "x", missing));
}

TEST_F(ProfileTest, SaveKeepsModeAndWritesThroughSymbolicLinks) {
    Put("[S]\nk=1\n");
    ::chmod(file_.c_str(), 0640);
    const auto link = dir_ / "link.ini";
    fs::create_symlink(file_, link);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", link.string()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Contents(), "[S]\nk=2\n");
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A dotfile manager's links, one after another, are the user's own.
TEST_F(ProfileTest, AChainOfTheUsersOwnLinksIsFollowedToItsFile) {
    Put("[S]\nk=1\n");
    fs::create_directory(dir_ / "dotfiles");
    fs::create_symlink("../Setup.ini", dir_ / "dotfiles" / "inner.ini");
    fs::create_symlink("dotfiles/inner.ini", dir_ / "outer.ini");
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", (dir_ / "outer.ini").string()));
    EXPECT_EQ(Contents(), "[S]\nk=2\n");
    EXPECT_TRUE(fs::is_symlink(dir_ / "outer.ini"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "dotfiles" / "inner.ini"));
}

// Run as root, another user's link (or a link of ours to another user's
// file, or to what is no regular file) must not lead the settings into a
// file elsewhere: it is neither read nor written, and stays as it was.
TEST_F(ProfileTest, ALinkThatIsNotTheUsersOwnIsNeitherReadNorWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "other users' files need root";
    const fs::path elsewhere = dir_ / "elsewhere";
    fs::create_directory(elsewhere);
    const fs::path victim = elsewhere / "victim";
    const std::string original = "root:x:0:0:root:/root:/bin/bash\n[S]\nk=1\n";
    const fs::path link = dir_ / "link.ini";
    const auto make = [&](const fs::path& to, uid_t linkOwner, uid_t targetOwner) {
        fs::remove(link);
        std::ofstream(victim, std::ios::trunc) << original;
        ASSERT_EQ(::chown(victim.c_str(), targetOwner, targetOwner), 0);
        fs::create_symlink(to, link);
        ASSERT_EQ(::lchown(link.c_str(), linkOwner, linkOwner), 0);
    };
    struct Case {
        const char* what;
        fs::path to;
        uid_t linkOwner, targetOwner;
    };
    const fs::path hop = dir_ / "hop";
    fs::create_symlink(victim, hop);
    ASSERT_EQ(::lchown(hop.c_str(), 65534, 65534), 0);
    for (const Case& c :
         {Case{"another user's link", victim, 65534, 0},
          Case{"to another user's file", victim, 0, 65534},
          Case{"through another user's link", hop, 0, 0}, Case{"to a folder", elsewhere, 0, 0},
          Case{"to nothing", dir_ / "missing", 0, 0}}) {
        make(c.to, c.linkOwner, c.targetOwner);
        PrivateProfile ini(link.string());
        errno = 0;
        EXPECT_FALSE(ini.Load()) << c.what;
        EXPECT_EQ(errno, EPERM) << c.what;
        EXPECT_FALSE(ini.Value("S", "k")) << c.what;
        ini.WriteString("S", "k", "2");
        EXPECT_FALSE(ini.Save()) << c.what;
        EXPECT_FALSE(WritePrivateProfileString("Setup", "Language", "x", link.string())) << c.what;
        std::ifstream in(victim);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), original) << c.what;
        EXPECT_TRUE(fs::is_symlink(link)) << c.what;
        EXPECT_FALSE(fs::exists(dir_ / "missing")) << c.what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, ValueWithLineBreakFailsTheSaveAndLeavesTheFile) {
    Put("[Setup]\nLanguage=English\n[SetupVideo]\nWorkDir=/old/\n");
    for (const char* value : {"/a\n[Setup]\nLanguage=x/", "/a\rb/", "\n"}) {
        PrivateProfile ini(file_);
        ASSERT_TRUE(ini.Load());
        ini.WriteString("SetupVideo", "WorkDir", value);
        ini.WriteString("Setup", "Language", "German");
        errno = 0;
        EXPECT_FALSE(ini.Save()) << value;
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(Contents(), "[Setup]\nLanguage=English\n[SetupVideo]\nWorkDir=/old/\n");
        EXPECT_FALSE(WritePrivateProfileString("S", "k", value, file_));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ProfileTest, ReadOnlyFileIsRefusedAndAReplacedFileKeepsItsOwner) {
    Put("[S]\nk=1\n");
    ::chmod(file_.c_str(), 0444);
    errno = 0;
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "2", file_));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(Contents(), "[S]\nk=1\n");
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    // Root can tell whether the owner survives; others cannot give files away.
    ::chmod(file_.c_str(), 0664);
    if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
    ASSERT_EQ(::chown(file_.c_str(), 12345, 23456), 0);
    ASSERT_TRUE(WritePrivateProfileString("S", "k", "2", file_));
    EXPECT_EQ(Contents(), "[S]\nk=2\n");
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
    EXPECT_EQ(info.st_mode & 0777, 0664u);
}

TEST_F(ProfileTest, FileWithoutFinalNewlineAndWithBomStaysReadable) {
    Put("\xEF\xBB\xBF[S]\nk=1");
    EXPECT_EQ(GetPrivateProfileInt("S", "k", 0, file_), 1);
    ASSERT_TRUE(WritePrivateProfileString("T", "j", "2", file_));
    EXPECT_EQ(GetPrivateProfileInt("S", "k", 0, file_), 1);
    EXPECT_EQ(GetPrivateProfileInt("T", "j", 0, file_), 2);
}

TEST_F(ProfileTest, ValuesWithBlanksOrQuotesAroundThemReadBackAsWritten) {
    for (const std::string value : {" /a folder/ ", "\"quoted\"", "'x'", "tab\t", "\"", "plain"}) {
        ASSERT_TRUE(WritePrivateProfileString("S", "k", value, file_)) << value;
        EXPECT_EQ(GetPrivateProfileString("S", "k", "-", file_), value);
    }
    EXPECT_EQ(Contents(), "[S]\nk=plain\n");
}

TEST_F(ProfileTest, MixedLineEndsSurviveWritesByteForByte) {
    // A CRLF line in an LF file, a value ending in CRs, no final line end.
    const std::string lf = "[A]\nx=1\r\r\ny=2\r\n[B]\nz=3";
    Put(lf);
    ASSERT_TRUE(WritePrivateProfileString("A", "y", "5", file_));
    ASSERT_TRUE(WritePrivateProfileString("C", "n", "6", file_));
    EXPECT_EQ(Contents(), "[A]\nx=1\r\r\ny=5\r\n[B]\nz=3\n[C]\nn=6\n");
    EXPECT_EQ(GetPrivateProfileString("A", "x", "-", file_), "1");
    Put("[A]\r\nx=1\n[B]\r\nz=3");
    ASSERT_TRUE(WritePrivateProfileString("B", "w", "4", file_));
    EXPECT_EQ(Contents(), "[A]\r\nx=1\n[B]\r\nz=3\r\nw=4\r\n");
    const std::string once = Contents();
    ASSERT_TRUE(WritePrivateProfileString("B", "w", "4", file_));
    EXPECT_EQ(Contents(), once);
}

}  // namespace
