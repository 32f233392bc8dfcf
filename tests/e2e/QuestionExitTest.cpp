// Leaving while a question is open: a termination signal answers it with the
// choice that keeps the recording and the program exits at once, not after
// the merge's wait. (The window manager's close of the main window waits for
// a modal question, as on every desktop.)

#include <signal.h>

#include <thread>

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;

namespace {

class QuestionExitTest : public ProgramTest {
  protected:
    // Signals the program while its "Notice" question is open; the exit
    // comes well inside the merge's 30 s wait.
    void EndWithQuestionOpen(Program& program, int signalNumber) {
        ASSERT_FALSE(program.WaitForWindow("Notice").empty()) << "no question\n" << TodaysLog();
        ::kill(program.pid(), signalNumber);
        EXPECT_EQ(program.Exit(std::chrono::seconds(10)), 0) << TodaysLog();
        const std::string log = TodaysLog();
        EXPECT_NE(log.find(" - Closed for the exit: "), std::string::npos) << log;
        EXPECT_EQ(log.find("takes too long"), std::string::npos) << log;
    }
};

TEST_F(QuestionExitTest, ASignalAnswersTheCompressorQuestionNoAndExits) {
    // A compressor the catalogue does not have: the start asks whether to
    // record with the default one instead.
    const fs::path out = root_ / "out";
    fs::create_directory(out);
    std::ofstream(folder_ / "Setup.ini") << "[SetupVideo]\nCodecIndex=99\nWorkDir=" << out.string()
                                         << "/\n[SetupApp]\nSendStats=0\n";
    Program program(folder_, {"-vc"});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    EndWithQuestionOpen(program, SIGTERM);
    EXPECT_TRUE(Recordings(out).empty());
    EXPECT_FALSE(fs::exists(out / "~tempvideo.avi"));
}

class RecoveryQuestionExitTest : public QuestionExitTest,
                                 public testing::WithParamInterface<int> {};

TEST_P(RecoveryQuestionExitTest, TheInterruptedRecordingIsKeptAndOfferedAgain) {
    std::ofstream(folder_ / "~tempvideo.avi") << "RIFF of a crashed recording";
    {
        Program program(folder_, {});
        ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
        EndWithQuestionOpen(program, GetParam());
    }
    EXPECT_EQ(Slurp(folder_ / "~tempvideo.avi"), "RIFF of a crashed recording");
    // Nobody said No: the next start asks again.
    Program again(folder_, {});
    const std::string main = again.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty());
    const std::string box = again.WaitForWindow("Notice");
    ASSERT_FALSE(box.empty()) << TodaysLog();
    run("xdotool windowactivate --sync " + box + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return again.Window("Notice").empty(); }));
    again.Close(main);
    EXPECT_EQ(again.Exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, RecoveryQuestionExitTest, testing::Values(SIGTERM, SIGHUP),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM ? std::string("SIGTERM")
                                                          : std::string("SIGHUP");
                         });

}  // namespace
