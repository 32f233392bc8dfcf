// The installed program as a user meets it: run by an ordinary user from a
// tree nobody may write to, it records, keeps its settings and log in that
// user's XDG folders and its recordings in the user's videos folder, and
// closes normally.

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "tests/e2e/ProgramHarness.h"
#include "tests/install/InstalledTree.h"

namespace velmora::install {
namespace {

using e2e::kMainTitle;
using e2e::Program;
using e2e::Slurp;
using e2e::WaitFor;
using test::capture;
using test::display24;
using test::run;

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (!entry.is_directory()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string Log(const fs::path& logs) {
    std::string text;
    for (const auto& file : FilesIn(logs)) text += Slurp(file);
    return text;
}

TEST(InstalledProgram, OrdinaryUserRecordsFromAReadOnlyTreeWithFilesInTheirOwnFolders) {
    if (display24().empty()) GTEST_SKIP() << "no test display";
    InstalledTree tree;
    ASSERT_TRUE(tree.installed()) << Slurp(tree.root() / "install.log");

    // Run as root, the test hands the program to "nobody"; run as anyone
    // else, it already is an ordinary user.
    std::vector<std::string> command;
    uid_t uid = ::getuid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        uid = nobody->pw_uid;
        command = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                   "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"};
    }
    const fs::path home = tree.root() / "home";
    fs::create_directories(home / "Videos");
    std::ofstream(tree.root() / "lsan.supp") << "leak:libfontconfig.so\nleak:libharfbuzz.so\n"
                                                "leak:libfreetype.so\nleak:libdbus-1.so\n";
    ASSERT_EQ(run("chown -R " + std::to_string(uid) + " '" + home.string() + "'"), 0);
    ASSERT_EQ(run("chmod -R a-w '" + tree.dest().string() + "'"), 0);
    const auto installedFiles = FilesIn(tree.dest());

    command.insert(command.end(), {tree.executable().string(), "-vc", "time=2"});
    // A login's environment, without the XDG variables: their defaults apply.
    Program program(
        command,
        {"HOME=" + home.string(), "USER=nobody", "PATH=/usr/bin:/bin", "DISPLAY=" + display24(),
         "LSAN_OPTIONS=suppressions=" + (tree.root() / "lsan.supp").string() +
             ":print_suppressions=0"},
        home);
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty()) << "the installed program showed no window";

    const fs::path logs = home / ".local/state/velmora/Logs";
    const fs::path videos = home / "Videos";
    std::vector<fs::path> recordings;
    ASSERT_TRUE(WaitFor(
        [&] {
            recordings = FilesIn(videos);
            return recordings.size() == 1 &&
                   Log(logs).find(" - Video file saved\n") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << Log(logs);
    program.Close(window);
    EXPECT_EQ(program.Exit(), 0) << Log(logs);

    // The recording, in the user's videos folder (the default output folder).
    EXPECT_TRUE(recordings[0].filename().string().starts_with("VideoRecord_")) << recordings[0];
    const std::string probe = capture(
        "ffprobe -v error -show_entries stream=codec_type:format=duration -of "
        "default=nw=1 '" +
        recordings[0].string() + "'");
    EXPECT_NE(probe.find("codec_type=video"), std::string::npos) << probe;

    // Settings and log in the XDG folders, owned by the user.
    const fs::path ini = home / ".config/velmora/Setup.ini";
    EXPECT_NE(Slurp(ini).find("WorkDir=" + videos.string() + "/"), std::string::npos) << Slurp(ini);
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_NE(Log(logs).find(" - Settings: " + ini.string() + ", log: " + logs.string() +
                             "/ (an installed program)\n"),
              std::string::npos)
        << Log(logs);
    // The installed tree is as it was, and nothing else landed in the home.
    EXPECT_EQ(FilesIn(tree.dest()), installedFiles);
    EXPECT_EQ(FilesIn(home).size(), 3u) << "settings, today's log and the recording";
}

}  // namespace
}  // namespace velmora::install
