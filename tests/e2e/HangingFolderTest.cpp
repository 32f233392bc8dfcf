// A recordings' folder that does not answer (a network mount whose server has
// gone): the program is preloaded with a double that holds every call into
// the folder until the test lets it answer. The window shows and answers
// meanwhile, a signal still ends the program, and the interrupted recording
// planted there is offered once the folder answers.

#include <cstdlib>

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::run;

namespace {

class HangingFolderTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        if (IsSkipped()) return;
        hanging_ = root_ / "mount";
        out_ = hanging_ / "out";
        answers_ = root_ / "mount-answers";
        fs::create_directories(out_);
        // What a recording killed in its first second leaves.
        std::ofstream(out_ / "~tempvideo.avi") << "RIFF";
        std::ofstream(folder_ / "Setup.ini")
            << "[SetupVideo]\nWorkDir=" << out_.string() << "/\nTypeCapture=1\n"
            << "CaptureCursor=0\nVideoFPS=10\n"
            << "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\nSendStats=0\n";
    }
    std::vector<std::string> Environment() const {
        const char* asan = std::getenv("ASAN_OPTIONS");
        return {std::string("LD_PRELOAD=") + VELMORA_HANGING_FOLDER_LIB,
                "VELMORA_TEST_HANG_UNDER=" + hanging_.string(),
                "VELMORA_TEST_HANG_UNTIL=" + answers_.string(),
                // The double comes before the sanitizer's library.
                std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                    "verify_asan_link_order=0"};
    }
    void Answer() const { std::ofstream(answers_) << "now"; }

    fs::path hanging_, out_, answers_;
};

TEST_F(HangingFolderTest, TheWindowAnswersWhileTheFolderHangsAndTheOfferComesAfter) {
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty()) << "the window did not show\n" << TodaysLog();
    ASSERT_TRUE(Program::WaitViewable(main));
    // Its controls work: Options opens and closes.
    const std::string options = program.OpenOptions(main);
    ASSERT_FALSE(options.empty()) << "Options did not open\n" << TodaysLog();
    program.Close(options);
    ASSERT_TRUE(WaitFor([&] { return program.Window("Options").empty(); }));
    EXPECT_TRUE(program.Window("Notice").empty()) << "offered before the folder answered";

    Answer();
    const std::string box = program.WaitForWindow("Notice");
    ASSERT_FALSE(box.empty()) << "no question\n" << TodaysLog();
    EXPECT_NE(TodaysLog().find("An interrupted recording was found: " +
                               (out_ / "~tempvideo.avi").string()),
              std::string::npos)
        << TodaysLog();
    run("xdotool windowactivate --sync " + box + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Notice").empty(); }));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
    EXPECT_TRUE(fs::exists(out_ / "~tempvideo.avi"));
}

TEST_F(HangingFolderTest, ASignalEndsTheProgramWhileTheFolderHangs) {
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_FALSE(main.empty()) << "the window did not show\n" << TodaysLog();
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
}

}  // namespace
