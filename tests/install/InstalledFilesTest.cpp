// What `cmake --install` lays down: the program, its language files, the
// menu entry, icons, AppStream data and manual, each where desktops and
// package tools look; and the switches that answer without a display.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/install/InstalledTree.h"

namespace velmora::install {
namespace {

using test::capture;
using test::run;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t CountFiles(const fs::path& folder) {
    std::size_t files = 0;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (!entry.is_directory()) ++files;
    return files;
}

// The executable, three languages, desktop entry, AppStream data, manual,
// the SVG icon and eight PNGs.
constexpr std::size_t kInstalledFiles = 1 + 3 + 2 + 1 + 1 + 8;

bool Have(const std::string& tool) {
    return run("command -v " + tool + " >/dev/null") == 0;
}

class InstalledFiles : public testing::Test {
  protected:
    static void SetUpTestSuite() { tree = new InstalledTree; }
    static void TearDownTestSuite() {
        delete tree;
        tree = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(tree->installed()) << Slurp(tree->root() / "install.log"); }
    static fs::path Desktop() { return tree->share() / "applications/org.velmora.velmora.desktop"; }
    static fs::path Metainfo() {
        return tree->share() / "metainfo/org.velmora.velmora.metainfo.xml";
    }
    static InstalledTree* tree;
};
InstalledTree* InstalledFiles::tree = nullptr;

TEST_F(InstalledFiles, EverythingLiesWhereLinuxProgramsKeepIt) {
    EXPECT_TRUE(fs::is_regular_file(tree->executable()));
    EXPECT_NE(fs::status(tree->executable()).permissions() & fs::perms::others_exec,
              fs::perms::none);
    for (const char* language : {"English", "German", "Russian"})
        EXPECT_TRUE(fs::is_regular_file(tree->share() / "velmora/Language" /
                                        (std::string(language) + ".lng")))
            << language;
    EXPECT_TRUE(fs::is_regular_file(Desktop()));
    EXPECT_TRUE(fs::is_regular_file(Metainfo()));
    EXPECT_TRUE(fs::is_regular_file(tree->share() / "man/man1/velmora.1"));
    const fs::path icons = tree->share() / "icons/hicolor";
    EXPECT_NE(Slurp(icons / "scalable/apps/velmora.svg").find("<svg"), std::string::npos);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const fs::path png =
            icons / (std::to_string(size) + "x" + std::to_string(size)) / "apps/velmora.png";
        // The PNG header's width and height, big-endian at bytes 16 and 20.
        const std::string data = Slurp(png);
        ASSERT_GT(data.size(), 24u) << png;
        EXPECT_EQ(data.substr(1, 3), "PNG") << png;
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
        EXPECT_EQ((byte(16) << 24) | (byte(17) << 16) | (byte(18) << 8) | byte(19), size);
        EXPECT_EQ((byte(20) << 24) | (byte(21) << 16) | (byte(22) << 8) | byte(23), size);
    }
    // Nothing but these: the package must not carry build or test files.
    EXPECT_EQ(CountFiles(tree->dest()), kInstalledFiles);
}

TEST_F(InstalledFiles, DesktopEntryIsValidWithTheRecorderCategoriesAndARecordNowAction) {
    const std::string entry = Slurp(Desktop());
    EXPECT_NE(entry.find("\nCategories=AudioVideo;Video;Recorder;\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=velmora\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=velmora\n"), std::string::npos);
    EXPECT_NE(entry.find("\n[Desktop Action RecordNow]\nName=Record now\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=velmora -vc\n"), std::string::npos);
    if (!Have("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate is not installed";
    EXPECT_EQ(capture("desktop-file-validate '" + Desktop().string() + "' 2>&1"), "");
    EXPECT_EQ(run("desktop-file-validate '" + Desktop().string() + "' >/dev/null 2>&1"), 0);
}

TEST_F(InstalledFiles, AppStreamDataIsValidAndNamesTheDesktopEntry) {
    const std::string data = Slurp(Metainfo());
    EXPECT_NE(data.find("<launchable type=\"desktop-id\">org.velmora.velmora.desktop</launchable>"),
              std::string::npos);
    EXPECT_NE(data.find("<release version=\"1.0.4\""), std::string::npos);
    if (!Have("appstreamcli")) GTEST_SKIP() << "appstreamcli is not installed";
    const std::string command =
        "appstreamcli validate --no-net --pedantic '" + Metainfo().string() + "' 2>&1";
    EXPECT_EQ(run(command + " >/dev/null"), 0) << capture(command);
    // Not even pedantic remarks.
    EXPECT_EQ(capture(command + " | grep -c '^[EWIP]:'"), "0\n") << capture(command);
}

TEST_F(InstalledFiles, ManualPageFormatsWithoutComplaint) {
    if (!Have("groff")) GTEST_SKIP() << "groff is not installed";
    const fs::path page = tree->share() / "man/man1/velmora.1";
    const std::string command = "groff -man -Tutf8 -ww -z '" + page.string() + "' 2>&1";
    EXPECT_EQ(capture(command), "");
}

TEST_F(InstalledFiles, HelpAndVersionPrintAndExitWithoutADisplay) {
    const fs::path home = tree->root() / "home";
    fs::create_directory(home);
    const std::string program =
        "env -i PATH=\"$PATH\" HOME='" + home.string() + "' '" + tree->executable().string() + "'";
    EXPECT_EQ(capture(program + " --version; echo status $?"), "Velmora 1.0.4\nstatus 0\n");
    const std::string help = capture(program + " -vc --help; echo status $?");
    EXPECT_TRUE(
        help.starts_with("Usage: velmora [-vc] [path=FOLDER] [time=SECONDS] [delay=SECONDS] "
                         "[format=avi|mp4|mkv]\n               [window=ID|TITLE] [monitor=NAME|all] "
                         "[preset=NAME]\n"))
        << help;
    EXPECT_TRUE(help.ends_with("\nstatus 0\n")) << help;
    // Nothing was read or written: no settings, no log.
    EXPECT_EQ(CountFiles(home), 0u);
    EXPECT_EQ(CountFiles(tree->dest()), kInstalledFiles);
}

}  // namespace
}  // namespace velmora::install
