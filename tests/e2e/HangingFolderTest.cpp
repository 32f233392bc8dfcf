// A recordings' folder that does not answer (a network mount whose server has
// gone): the program is preloaded with a double that holds every call into
// the folder until the test lets it answer. The window shows and answers
// meanwhile, a signal still ends the program, and the interrupted recording
// planted there is offered once the folder answers. A recording started
// there waits for the folder, says so and can be cancelled; a folder typed
// there is taken once it answers.

#include <cctype>
#include <cstdlib>

#include "tests/e2e/ProgramHarness.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using velmora::test::capture;
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
    // calls: only these calls hang ("mkdir"); all of them when empty.
    std::vector<std::string> Environment(const std::string& calls = {}) const {
        const char* asan = std::getenv("ASAN_OPTIONS");
        return {std::string("LD_PRELOAD=") + VELMORA_HANGING_FOLDER_LIB,
                "VELMORA_TEST_HANG_UNDER=" + hanging_.string(),
                "VELMORA_TEST_HANG_UNTIL=" + answers_.string(), "VELMORA_TEST_HANG_CALLS=" + calls,
                // The double comes before the sanitizer's library.
                std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                    "verify_asan_link_order=0"};
    }
    void Answer() const { std::ofstream(answers_) << "now"; }
    bool Logged(const std::string& text, std::size_t times = 1) const {
        return WaitFor([&] {
            const std::string log = TodaysLog();
            std::size_t found = 0;
            for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++found;
            return found >= times;
        });
    }
    // Types folder into the main window's folder field and presses Enter.
    static void TypeFolder(const std::string& main, const fs::path& folder) {
        // Relative to the window itself: its frame is not counted.
        run("xdotool mousemove --window " + main + " 100 144 click 1");
        run("xdotool key --clearmodifiers ctrl+a");
        run("xdotool type --delay 20 '" + folder.string() + "'");
        run("xdotool key Return");
    }
    static bool ShowsRecording(const std::string& window) {
        std::string title = capture("xdotool getwindowname " + window);
        while (!title.empty() && std::isspace(static_cast<unsigned char>(title.back())))
            title.pop_back();
        return RecordingTitle(title);
    }
    std::string Waiting() const {
        return "The recording waits (Stop or Escape cancels): the folder " + out_.string() +
               "/ does not answer";
    }

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

// F9, F10, Escape: each is answered while the folder hangs, and nothing is
// recorded there once it answers after the cancels.
TEST_F(HangingFolderTest, ARecordingStartedThereWaitsSaysSoAndIsCancelled) {
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main)) << TodaysLog();
    run("xdotool key F9");
    ASSERT_TRUE(Logged(Waiting())) << "the window does not answer\n" << TodaysLog();
    run("xdotool key F10");
    const std::string cancelled =
        "Nothing was recorded: the folder " + out_.string() + "/ did not answer";
    ASSERT_TRUE(Logged(cancelled)) << TodaysLog();
    run("xdotool key F9");
    ASSERT_TRUE(Logged(Waiting(), 2)) << TodaysLog();
    run("xdotool key Escape");
    ASSERT_TRUE(Logged(cancelled, 2)) << TodaysLog();
    Answer();
    // The start's search answers too; the window is idle, not recording.
    ASSERT_FALSE(program.WaitForWindow("Notice").empty()) << TodaysLog();
    EXPECT_FALSE(ShowsRecording(main));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
    EXPECT_TRUE(Recordings(out_).empty());
}

TEST_F(HangingFolderTest, ARecordingStartedThereBeginsWhenTheFolderAnswers) {
    fs::remove(out_ / "~tempvideo.avi");
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main)) << TodaysLog();
    run("xdotool key F9");
    ASSERT_TRUE(Logged(Waiting())) << "the window does not answer\n" << TodaysLog();
    Answer();
    ASSERT_TRUE(Logged("The folder " + out_.string() + "/ answers: the recording starts"))
        << TodaysLog();
    ASSERT_TRUE(WaitFor([&] { return ShowsRecording(main); })) << TodaysLog();
    ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi")) << TodaysLog();
    run("xdotool key F10");
    EXPECT_FALSE(MergedRecording(out_).empty()) << TodaysLog();
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
}

// A folder that stops answering during a recording (a network mount that
// dies): the first signal stops the recording and waits for its save, the
// second ends the program all the same, and the recording stays there for
// the next start.
TEST_F(HangingFolderTest, TwoSignalsEndTheProgramThoughTheFolderDiedDuringTheRecording) {
    fs::remove(out_ / "~tempvideo.avi");
    Answer();
    Program program(folder_, {"-vc"}, Environment());
    ASSERT_TRUE(WaitForGrowth(out_ / "~tempvideo.avi")) << TodaysLog();
    fs::remove(answers_);
    ::kill(program.pid(), SIGTERM);
    ASSERT_TRUE(Logged(": the recording is stopped and saved before the exit")) << TodaysLog();
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << "the program waits for the folder\n" << TodaysLog();
    EXPECT_TRUE(Logged("The recording's folder does not answer: the program ends without "
                       "waiting for it"))
        << TodaysLog();
    Answer();
    EXPECT_TRUE(fs::exists(out_ / "~tempvideo.avi"));
}

TEST_F(HangingFolderTest, AFolderTypedThereIsUsedOnceItAnswers) {
    const fs::path typed = hanging_ / "typed";
    fs::create_directories(typed);
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main)) << TodaysLog();
    TypeFolder(main, typed);
    ASSERT_TRUE(Logged("Recordings go to " + out_.string() +
                       "/ until the folder answers: " + typed.string() + "/ does not answer"))
        << "the window does not answer\n"
        << TodaysLog();
    Answer();
    ASSERT_TRUE(
        Logged("The folder " + typed.string() + "/ answers: the recordings are saved there"))
        << TodaysLog();
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("WorkDir=" + typed.string() + "/\n"),
              std::string::npos)
        << Slurp(folder_ / "Setup.ini");
}

// The chooser opens elsewhere than in the folder in use, which would hold it.
TEST_F(HangingFolderTest, TheFolderChooserOpensWhileTheFolderInUseHangs) {
    Program program(folder_, {}, Environment());
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main)) << TodaysLog();
    run("xdotool mousemove --window " + main + " 250 144 click 1");
    const std::string chooser = program.WaitForWindow("Select directory");
    ASSERT_FALSE(chooser.empty()) << "the window does not answer\n" << TodaysLog();
    run("xdotool windowactivate --sync " + chooser + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Select directory").empty(); }));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
    // Cancelled: the folder in use stays.
    EXPECT_NE(Slurp(folder_ / "Setup.ini").find("WorkDir=" + out_.string() + "/\n"),
              std::string::npos);
}

// The folder answers, but making one in it hangs (a mount gone read-only
// behind a dead server): the question's Create does not hold the window.
TEST_F(HangingFolderTest, AFolderMadeThereIsUsedOnceItIsMade) {
    const fs::path missing = hanging_ / "new" / "deeper";
    Program program(folder_, {}, Environment("mkdir,mkdirat"));
    const std::string main = program.WaitForWindow(kMainTitle);
    ASSERT_TRUE(Program::WaitViewable(main)) << TodaysLog();
    // The planted recording is offered: the folder answers.
    const std::string notice = program.WaitForWindow("Notice");
    ASSERT_FALSE(notice.empty()) << TodaysLog();
    run("xdotool windowactivate --sync " + notice + " key Escape");
    ASSERT_TRUE(WaitFor([&] { return program.Window("Notice").empty(); }));
    TypeFolder(main, missing);
    const std::string question = program.WaitForWindow("Velmora");
    ASSERT_FALSE(question.empty()) << TodaysLog();
    run("xdotool windowactivate --sync " + question + " key Return");  // Create
    ASSERT_TRUE(Logged("until the folder answers: " + missing.string() + "/ does not answer"))
        << "the window does not answer\n"
        << TodaysLog();
    EXPECT_FALSE(fs::exists(missing));
    Answer();
    ASSERT_TRUE(
        Logged("The folder " + missing.string() + "/ answers: the recordings are saved there"))
        << TodaysLog();
    EXPECT_TRUE(fs::is_directory(missing));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
}

// Another folder recorded into earlier hangs the start's search: the command
// line's recording into a folder that answers does not wait for it.
TEST_F(HangingFolderTest, ACommandLinesRecordingStartsThoughASearchedFolderHangs) {
    const fs::path good = root_ / "good";
    fs::create_directories(good);
    std::ofstream(folder_ / "RecordingFolders.lst") << out_.string() << "/\n";
    Program program(folder_, {"-vc", "time=2", "path=" + good.string() + "/"}, Environment());
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty()) << TodaysLog();
    EXPECT_FALSE(MergedRecording(good).empty()) << TodaysLog();
    EXPECT_NE(TodaysLog().find("The search for interrupted recordings has not ended: the "
                               "recording starts without it"),
              std::string::npos)
        << TodaysLog();
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0) << TodaysLog();
}

}  // namespace
