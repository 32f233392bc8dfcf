// Leaving during a recording: SIGTERM or the window manager's close, once
// two seconds of sound are stored, ends like F10 - the recording is merged
// whole, the temporary files go, the settings are saved and the program
// exits with 0. (SIGINT and SIGHUP take the same handler; each reaching it
// is tested in tests/shell/TerminationSignalsTest.cpp.)

#include <signal.h>

#include "tests/e2e/SoundProgram.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

// In place of a signal: the main window closed through the window manager.
constexpr int kWindowClose = 0;

class SignalExitTest : public SoundProgramTest, public testing::WithParamInterface<int> {};

TEST_P(SignalExitTest, StopsMergesAndExitsWithZero) {
    const int signalNumber = GetParam();
    const fs::path out = out_;
    Program program(folder_, {"-vc", OutArg()});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(out / "~tempaudio.wav"); }));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForSound(out / "~tempaudio.wav", 2.0)) << TodaysLog();
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (signalNumber == kWindowClose)
        program.Close(program.Window(kMainTitle));
    else
        ::kill(program.pid(), signalNumber);
    EXPECT_EQ(program.Exit(std::chrono::seconds(15)), 0) << TodaysLog();

    const auto files = Recordings(out);
    ASSERT_EQ(files.size(), 1u) << TodaysLog();
    const std::string file = files.front().string();
    ExpectRecordingWithSound(file, recorded, 0.1);
    EXPECT_FALSE(fs::exists(out / "~tempvideo.avi"));
    EXPECT_FALSE(fs::exists(out / "~tempaudio.wav"));
    EXPECT_FALSE(fs::exists(file + ".part"));

    // The log ends with the stop, the merge and its result; the settings
    // kept the folder of the run.
    const std::string log = TodaysLog();
    const std::size_t stop = log.rfind(": the recording is stopped and saved before the exit\n");
    ASSERT_NE(stop, std::string::npos) << log;
    const std::string tail = log.substr(stop);
    EXPECT_NE(tail.find(" - Video file saved\n"), std::string::npos) << log;
    EXPECT_NE(tail.find(" - Recorded with "), std::string::npos) << log;
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("WorkDir=" + out.string() + "/"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalExitTest, testing::Values(SIGTERM, kWindowClose),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM ? std::string("SIGTERM")
                                                          : std::string("WindowClose");
                         });

}  // namespace
