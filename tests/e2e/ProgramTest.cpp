// The whole program on the private Xvfb with openbox, each test in its own
// copy of the program folder, closed through the window manager as a user
// would close it.

#include "tests/e2e/ProgramHarness.h"

#include "platform/x11/HotKeys.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::display24;

namespace {

struct XConnection {
    XConnection() : c(xcb_connect(display24().c_str(), nullptr)) {}
    ~XConnection() { xcb_disconnect(c); }
    xcb_connection_t* c;
};

TEST_F(ProgramTest, SecondCopyExitsWithZeroAndTheFirstKeepsRunning) {
    Program first(folder_, {});
    const std::string mainWindow = first.WaitForWindow(kMainTitle);
    ASSERT_FALSE(mainWindow.empty());

    Program second(folder_, {"-vc"});
    const std::string notice = second.WaitForWindow("Velmora");
    ASSERT_FALSE(notice.empty()) << "no \"already running\" box";
    EXPECT_TRUE(second.Window(kMainTitle).empty());
    second.Close(notice);
    EXPECT_EQ(second.Exit(), 0);

    EXPECT_TRUE(first.Running());
    EXPECT_EQ(first.Window(kMainTitle), mainWindow);
    EXPECT_FALSE(fs::exists(folder_ / "Setup.ini")) << "the second copy wrote settings";
    first.Close(mainWindow);
    EXPECT_EQ(first.Exit(), 0);
}

TEST_F(ProgramTest, FirstStartCreatesSettingsAtExitAndHoldsTheHotKeysWhileRunning) {
    const std::string out = (folder_ / "Out Mixed/").string();
    Program program(folder_, {"PATH=" + out, "time=abc"});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    EXPECT_FALSE(fs::exists(folder_ / "Setup.ini"));

    // F9 and F10 belong to the program now; another client cannot take them.
    XConnection other;
    {
        velmora::platform::HotKeys keys(other.c);
        EXPECT_FALSE(keys.Register(1, velmora::platform::kVkF9));
        EXPECT_FALSE(keys.Register(2, velmora::platform::kVkF10));
    }
    EXPECT_NE(TodaysLog().find(" - The time= parameter is not a number"), std::string::npos)
        << TodaysLog();

    program.Close(window);
    ASSERT_EQ(program.Exit(), 0);
    const std::string ini = Slurp(folder_ / "Setup.ini");
    for (const char* key : {"[Setup]\nLanguage=English\n",
                            "[SetupApp]\n",
                            "MinimizeCapture=0\n",
                            "RestoreAfterRecord=1\n",
                            "SendStats=1\n",
                            "[SetupVideo]\n",
                            "TypeCapture=1\n",
                            "VideoFPS=15\n",
                            "KeyFramesFreq=8\n",
                            "CodecIndex=",
                            "VideoQuality=90\n",
                            "RegionTopPos=0\n",
                            "RegionLeftPos=0\n",
                            "RegionWidthPos=500\n",
                            "RegionHeightPos=500\n",
                            "CaptureCursor=1\n",
                            "[SetupAudio]\n",
                            "AudioRecordEnable=0\n",
                            "AudioFormatIndex=-1\n",
                            "AudioInputIndex=-1\n",
                            "AudioVolumeValue=10\n"})
        EXPECT_NE(ini.find(key), std::string::npos) << key << " missing from\n" << ini;
    // The folder from the command line, exactly as written.
    EXPECT_NE(ini.find("\nWorkDir=" + out + "\n"), std::string::npos) << ini;

    // Gone with the program.
    {
        velmora::platform::HotKeys keys(other.c);
        EXPECT_TRUE(keys.Register(1, velmora::platform::kVkF9));
        EXPECT_TRUE(keys.Register(2, velmora::platform::kVkF10));
    }
}

TEST_F(ProgramTest, SettingsThatCannotBeWrittenAreReportedAndTheWindowStillCloses) {
    fs::create_directory(folder_ / "Setup.ini");
    Program program(folder_, {});
    const std::string window = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(window.empty());
    program.Close(window);

    const std::string box = program.WaitForWindow("Velmora");
    ASSERT_FALSE(box.empty()) << "no message box";
    const std::string message = "Unable to write to " + (folder_ / "Setup.ini").string();
    EXPECT_NE(TodaysLog().find(message + " - The settings of this session are not saved."),
              std::string::npos)
        << TodaysLog();
    program.Close(box);

    EXPECT_EQ(program.Exit(), 0);
    EXPECT_TRUE(fs::is_directory(folder_ / "Setup.ini"));
}

}  // namespace
