// Compressor negotiation, the fallback to 'MSVC', and every failure text of a
// recording run.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <fstream>

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"

namespace velmora::enginetest {
namespace {

const FOURCC kTest = MakeFourCC('T', 'E', 'S', 'T');
const FOURCC kMsvc = MakeFourCC('M', 'S', 'V', 'C');
const std::string kNoCompressor = "Notice|You no selected compressor, use default compressor?";
const std::string kCannotUse =
    "Notice|Error: Not recording AVI file using current compressor.\r\nUse default compressor? ";
const std::string kNoSize =
    "Notice|Error: This compressor cann`t work if the dimensions is adjusted slightly\r\nUse "
    "default compressor? ";

// Holds an exclusive lock on a file, as a writer of another program would.
class LockedFile {
  public:
    explicit LockedFile(const std::string& path) {
        std::ofstream(path) << "busy";
        fd_ = ::open(path.c_str(), O_RDWR);
        ::flock(fd_, LOCK_EX);
    }
    ~LockedFile() { ::close(fd_); }

  private:
    int fd_ = -1;
};

class NegotiationTest : public EngineTest {
  protected:
    // The test driver first, then the real MS Video 1.
    TScreenCamera& MakeWith(std::function<bool(int, int)> accepts, int screenWidth = 1024,
                            int screenHeight = 768) {
        driver = std::make_shared<SizeDriver>(kTest, "TestCodec", std::move(accepts));
        InstallDrivers({{kTest, driver}, {kMsvc, vfw::ICGetBuiltinDriver(kMsvc)}});
        auto& cam = Make(screenWidth, screenHeight);
        driver->queries = 0;
        driver->queried.clear();
        cam.CompressorIndex = IndexOf(kTest);
        cam.TimeLimit = TTimeLimit{true, 0, 0, 0};  // one frame per run
        return cam;
    }
    std::string Codec(const std::string& file) { return Probe(file, "stream=codec_name"); }
    std::string Size(const std::string& file) { return Probe(file, "stream=width,height"); }

    std::shared_ptr<SizeDriver> driver;
};

using Sizes = std::vector<std::pair<int, int>>;

// The negotiation's queries; the library may query again when the stream opens.
Sizes FirstQueries(const SizeDriver& driver, std::size_t n) {
    Sizes all = driver.queried;
    if (all.size() > n) all.resize(n);
    return all;
}

TEST_F(NegotiationTest, AcceptedAreaUsesTheEntryNameAndHandler) {
    auto& cam = MakeWith([](int, int) { return true; });
    ASSERT_EQ(cam.CompressorIndex, 0);
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.CompressorHandler, kTest);
    EXPECT_EQ(cam.CompressorName, "TestCodec");
    EXPECT_EQ(FirstQueries(*driver, 2), (Sizes{{64, 48}, {64, 48}}));
    EXPECT_EQ(Probe(TempVideoFile, "stream_tags=title"), "TestCodec");
    EXPECT_TRUE(host.Questions().empty());
    EXPECT_FALSE(cam.EndedByFailure);
}

TEST_F(NegotiationTest, EvenOnlyCompressorGrowsTheAreaAndTheFrameFollows) {
    auto& cam = MakeWith([](int w, int h) { return w % 2 == 0 && h % 2 == 0; });
    cam.Left = 10;
    cam.Top = 20;
    cam.Width = 301;
    cam.Height = 200;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(FirstQueries(*driver, 2), (Sizes{{301, 200}, {302, 200}}));
    EXPECT_EQ(cam.Width, 302);
    EXPECT_EQ(cam.ActualWidth, 302u);
    EXPECT_EQ(cam.ActualHeight, 200u);
    EXPECT_EQ(cam.Left, 10);
    EXPECT_EQ(Size(TempVideoFile), "302,200");
    ASSERT_FALSE(Errors().empty());
    EXPECT_EQ(Errors().front(),
              "The area 301x200 is recorded as 302x200: the compressor takes sizes in steps of 2.");
    cam.Recording = true;
    cam.FrameTimerTick();
    cam.Recording = false;
    EXPECT_EQ(host.frame->width, 302);
    EXPECT_EQ(host.frame->left, 10);
}

TEST_F(NegotiationTest, EachAlignmentRoundsTheOriginalSizeWithinTheScreen) {
    auto& cam = MakeWith([](int w, int h) { return (w % 8 == 0 && h % 8 == 0) || w == 300; });
    cam.Width = 1023;
    cam.Height = 765;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(FirstQueries(*driver, 3), (Sizes{{1023, 765}, {1024, 766}, {1024, 768}}));
    EXPECT_EQ(Size(TempVideoFile), "1024,768");

    auto& narrow =
        MakeWith([](int w, int h) { return (w % 4 == 0 && h % 4 == 0) || w == 300; }, 1022, 768);
    narrow.Width = 1021;
    narrow.Height = 400;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(FirstQueries(*driver, 3), (Sizes{{1021, 400}, {1022, 400}, {1020, 400}}));
    EXPECT_EQ(narrow.Width, 1020);
}

TEST_F(NegotiationTest, NoFittingSizeAsksAndRegrabsAtTheAreaSize) {
    auto& cam = MakeWith([](int w, int h) { return w == 300 && h == 300; });
    cam.Width = 300;
    cam.Height = 196;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(driver->queried, (Sizes{{300, 196}, {300, 196}, {300, 196}, {304, 200}}));
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kNoSize});
    EXPECT_EQ(cam.CompressorHandler, kMsvc);
    EXPECT_EQ(cam.CompressorName, "MS Video Codec");
    // The stream format and the frames agree on the area's size.
    EXPECT_EQ(Size(TempVideoFile), "300,196");
    EXPECT_EQ(Codec(TempVideoFile), "msvideo1");
    EXPECT_EQ(cam.Width, 300);
}

TEST_F(NegotiationTest, RefusedQuestionEndsTheRun) {
    auto& cam = MakeWith([](int w, int h) { return w == 300 && h == 300; });
    cam.Width = 300;
    cam.Height = 196;
    host.timer->SetEnabled(true);
    host.frame->showing = true;
    host.Answer({false});
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors(), std::vector<std::string>{"User aborted!"});
    EXPECT_FALSE(cam.Recording);
    EXPECT_EQ(cam.LastStop, StopReason::Aborted);
    EXPECT_FALSE(host.frame->showing);
    EXPECT_FALSE(host.timer->enabled);
    EXPECT_EQ(host.Restores(), 1);
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_FALSE(cam.EndedByFailure) << "a No is the user's choice, not a failure";
}

TEST_F(NegotiationTest, NoCompressorChosenAsksBeforeOpeningAnything) {
    auto& cam = MakeWith([](int, int) { return true; });
    cam.CompressorIndex = -1;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kNoCompressor});
    EXPECT_EQ(driver->queries, 0);
    EXPECT_EQ(cam.CompressorName, "MS Video Codec");
    EXPECT_EQ(Codec(TempVideoFile), "msvideo1");
    EXPECT_EQ(Probe(TempVideoFile, "stream_tags=title"), "");

    cam.CompressorIndex = -1;
    host.Answer({false});
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors().back(), "User aborted!");
}

TEST_F(NegotiationTest, CompressorThatCannotBeOpenedAsks) {
    auto& cam = MakeWith([](int, int) { return true; });
    ASSERT_TRUE(vfw::ICRemove(vfw::ICTYPE_VIDEO, kTest));
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kCannotUse});
    EXPECT_EQ(cam.CompressorHandler, kMsvc);
    // The stream keeps the chosen entry's name.
    EXPECT_EQ(Probe(TempVideoFile, "stream_tags=title"), "TestCodec");

    cam.CompressorIndex = 7;  // beyond the catalogue
    host.Answer({false});
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors().back(), "User aborted!");
}

TEST_F(NegotiationTest, AviErrorOffersTheDefaultAndTheRepeatSkipsNegotiation) {
    auto& cam = MakeWith([](int, int) { return true; });
    driver->failOpen = true;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), -1);
    EXPECT_EQ(Errors(), std::vector<std::string>{"Error on set AVI stream format."});
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kCannotUse});
    EXPECT_EQ(cam.CompressorHandler, kMsvc);
    EXPECT_EQ(cam.LastStop, StopReason::Aborted);
    EXPECT_TRUE(cam.Recording);

    const int queries = driver->queries;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(driver->queries, queries);
    EXPECT_EQ(Codec(TempVideoFile), "msvideo1");
    EXPECT_EQ(Probe(TempVideoFile, "stream_tags=title"), "TestCodec");
}

TEST_F(NegotiationTest, AviErrorRefusedOrWithTheDefaultEndsTheRun) {
    auto& cam = MakeWith([](int, int) { return true; });
    driver->failCompressAt = 2;
    cam.TimeLimit.Enabled = false;
    host.Answer({false});
    EXPECT_EQ(RunOnce(Target()), 0);
    const std::string kept = folder.path() + "VideoRecord_test_video.avi";
    EXPECT_EQ(Errors(), (std::vector<std::string>{
                            "Error on write data to AVI stream. Recording kept in: " + kept,
                            "User aborted!"}));
    EXPECT_FALSE(FileExists(Target()));
    EXPECT_EQ(WrittenIndices(kept).size(), 1u);
    EXPECT_FALSE(cam.EndedByFailure);

    // 'MSVC' itself failing: nothing left to fall back to.
    auto failing = std::make_shared<SizeDriver>(kMsvc, "MSVC", [](int, int) { return true; });
    failing->failOpen = true;
    InstallDrivers({{kMsvc, failing}});
    auto& plain = Make();
    plain.CompressorIndex = -1;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 0);
    const auto errors = Errors();
    EXPECT_EQ(std::vector<std::string>(errors.end() - 2, errors.end()),
              (std::vector<std::string>{"Error on set AVI stream format.",
                                        "Error creating AVI file with \"MS Video Codec\"."}));
    EXPECT_TRUE(plain.EndedByFailure);
}

TEST_F(NegotiationTest, MissingDefaultCompressorFailsTheCompressedStream) {
    InstallDrivers({});
    auto& cam = Make();
    EXPECT_EQ(cam.CompressorCount, 0);
    cam.CompressorIndex = -1;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{"Error on compress AVI stream.",
                                        "Error creating AVI file with \"MS Video Codec\"."}));
}

TEST_F(NegotiationTest, TemporaryFilesThatCannotBeCreatedOrDeleted) {
    auto& cam = MakeWith([](int, int) { return true; });
    // The folder's fault, not the compressor's: the reason, and no question.
    EXPECT_EQ(RunOnce(folder.path() + "missing/VideoRecord_test.avi"), 0);
    EXPECT_EQ(Errors(), std::vector<std::string>{"Error on create AVI file. " + folder.path() +
                                                 "missing/: No such file or directory"});

    {
        // Another recording's file, still being written: neither deleted nor moved.
        LockedFile lock(folder.path() + "~tempvideo.avi");
        RunOnce(Target());
        EXPECT_EQ(Errors()[1], "Can not delete video temp file: " + folder.path() +
                                   "~tempvideo.avi (another recording writes it).");
        EXPECT_TRUE(FileExists(TempVideoFile));
    }
    EXPECT_EQ(cam.FramesWritten, 0);
    EXPECT_TRUE(host.Questions().empty());
}

TEST_F(NegotiationTest, LockedAudioTempFileEndsTheRunWithoutAQuestion) {
    withAudio = true;
    auto& cam = MakeWith([](int, int) { return true; });
    cam.RecordAudio = true;
    LockedFile lock(folder.path() + "~tempaudio.wav");
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{"Can not delete audio temp file: " + folder.path() +
                                        "~tempaudio.wav (another recording writes it)."}));
    EXPECT_TRUE(host.Questions().empty());
    EXPECT_EQ(cam.FramesWritten, 0);
}

TEST_F(NegotiationTest, GrabFailures) {
    auto& cam = MakeWith([](int w, int) { return w % 2 == 0; });
    desktop->failGrabNumber = desktop->grabCount + 1;  // the probe
    cam.Recording = true;
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors(), std::vector<std::string>{"Error capturing a frame from screen."});
    EXPECT_TRUE(cam.Recording) << "the worker's end clears it";
    EXPECT_EQ(host.Restores(), 1);
    EXPECT_TRUE(cam.EndedByFailure);

    cam.Width = 301;  // the adjusted probe fails
    desktop->failGrabNumber = desktop->grabCount + 2;
    EXPECT_EQ(RunOnce(Target()), 0);
    EXPECT_EQ(Errors().size(), 2u);
    EXPECT_EQ(Errors().back(), "Error capturing a frame from screen.");
}

TEST_F(NegotiationTest, GrabFailureInTheLoopKeepsWhatWasRecorded) {
    auto& cam = MakeWith([](int, int) { return true; });
    cam.TimeLimit.Enabled = false;
    cam.LastStop = StopReason::Aborted;                // the previous recording was aborted
    desktop->failGrabNumber = desktop->grabCount + 5;  // probe, then 3 frames
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(cam.FramesWritten, 3);
    EXPECT_EQ(Errors().front(), "Error capturing a frame from screen.");
    EXPECT_EQ(WrittenIndices(Target()).size(), 3u);
    EXPECT_TRUE(cam.EndedByFailure);

    // Nothing written: nothing to merge, whatever the last stop was.
    std::remove(Target().c_str());
    cam.LastStop = StopReason::Stopped;
    desktop->failGrabNumber = desktop->grabCount + 2;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_FALSE(FileExists(Target()));
}

// 'MSVC' takes only multiples of 4: every way of falling back to it fits the
// area first, or the stream format is refused and nothing is recorded.
TEST_F(NegotiationTest, FallbackToTheDefaultFitsTheAreaToIt) {
    auto expectFitted = [&](TScreenCamera& cam) {
        EXPECT_EQ(cam.Width, 1368);
        EXPECT_EQ(cam.Height, 768);
        EXPECT_EQ(cam.ActualWidth, 1368u);
        EXPECT_EQ(cam.ActualHeight, 768u);
        EXPECT_EQ(Size(TempVideoFile), "1368,768");
        EXPECT_EQ(Codec(TempVideoFile), "msvideo1");
        // Only the merge's summary lines and the area's growth: no AVI error
        // on the way.
        for (const std::string& e : Errors())
            EXPECT_TRUE(e.rfind("L12 MS Video Codec;", 0) == 0 || e.rfind("The area ", 0) == 0)
                << e;
        EXPECT_EQ(Size(Target()), "1368,768");
    };
    // No compressor chosen.
    {
        auto& cam = MakeWith([](int, int) { return true; }, 1400, 800);
        cam.CompressorIndex = -1;
        cam.Width = 1366;
        cam.Height = 766;
        host.Answer({true});
        EXPECT_EQ(RunOnce(Target()), 1);
        expectFitted(cam);
    }
    // The chosen compressor cannot be opened.
    {
        auto& cam = MakeWith([](int, int) { return true; }, 1400, 800);
        ASSERT_TRUE(vfw::ICRemove(vfw::ICTYPE_VIDEO, kTest));
        cam.Width = 1366;
        cam.Height = 766;
        host.Answer({true});
        EXPECT_EQ(RunOnce(Target()), 1);
        expectFitted(cam);
    }
    // No size fits the chosen compressor: fitted from the area's size.
    {
        auto& cam = MakeWith([](int w, int h) { return w == 300 && h == 300; }, 1400, 800);
        cam.Width = 1366;
        cam.Height = 766;
        host.Answer({true});
        EXPECT_EQ(RunOnce(Target()), 1);
        EXPECT_EQ(driver->queries, 4);
        EXPECT_EQ(host.Questions().back(), kNoSize);
        expectFitted(cam);
    }
}

TEST_F(NegotiationTest, RerunWithTheDefaultFitsTheAreaWithoutAsking) {
    auto& cam = MakeWith([](int w, int h) { return w % 2 == 0 && h % 2 == 0; });
    driver->failOpen = true;
    cam.Width = 301;
    cam.Height = 201;
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), -1);
    EXPECT_EQ(cam.Width, 302);  // the even size the test compressor took

    const int queries = driver->queries;
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(driver->queries, queries);
    EXPECT_EQ(host.Questions().size(), 1u);
    EXPECT_EQ(Errors(),
              (std::vector<std::string>{
                  "The area 301x201 is recorded as 302x202: the compressor takes sizes in steps "
                  "of 2.",
                  "Error on set AVI stream format.",
                  "The area 302x202 is recorded as 304x204: the compressor takes sizes in steps "
                  "of 4.",
                  "L12 MS Video Codec; 0x0; L4 0s; L11 0%"}));
    EXPECT_EQ(cam.Width, 304);
    EXPECT_EQ(cam.Height, 204);
    EXPECT_EQ(Size(TempVideoFile), "304,204");
    EXPECT_EQ(Codec(TempVideoFile), "msvideo1");
}

// A compressor failing in the middle of a recording: the frames before it are
// finished into a file beside the target before the question, and the rerun
// with 'MSVC' records into a new temporary file without touching it.
TEST_F(NegotiationTest, WriteErrorAfterFramesKeepsThemAndTheRerunStartsAfresh) {
    withAudio = true;
    auto& cam = MakeWith([](int, int) { return true; });
    cam.RecordAudio = true;
    driver->failCompressAt = 4;
    cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), -1);
    const std::string video = folder.path() + "VideoRecord_test_video.avi";
    const std::string audio = folder.path() + "VideoRecord_test_audio.wav";
    EXPECT_EQ(Errors(),
              std::vector<std::string>{
                  "Error on write data to AVI stream. Recording kept in: " + video + ", " + audio});
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kCannotUse});
    EXPECT_EQ(WrittenIndices(video), (std::vector<long long>{0, 1, 2}));
    EXPECT_EQ(Probe(audio, "stream=codec_type", "a:0"), "audio");

    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(Codec(Target()), "msvideo1");
    EXPECT_EQ(Codec(video), "rawvideo");
    EXPECT_EQ(WrittenIndices(video), (std::vector<long long>{0, 1, 2}));
}

// A disk that fills while the file is finished: the truncated temporary file
// is an AVI error, not a recording to merge.
TEST_F(NegotiationTest, FailureToFinishTheTemporaryFileIsAnAviError) {
    auto& cam = MakeWith([](int, int) { return true; });
    host.Answer({false});
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    // Every frame is on the disk when the loop ends; the index is not.
    cam.OnStop = [&old](TScreenCamera*) {
        rlimit tiny = old;
        tiny.rlim_cur = std::filesystem::file_size(TempVideoFile);
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    };
    const int result = RunOnce(Target());
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(Errors().size(), 2u);
    EXPECT_EQ(Errors()[0].rfind("Error on write data to AVI stream.", 0), 0u) << Errors()[0];
    EXPECT_EQ(Errors()[1], "User aborted!");
    EXPECT_EQ(cam.FramesWritten, 1);
    EXPECT_FALSE(FileExists(Target()));
}

// Stop pressed while a question is open, then Yes: no frame was recorded, so
// no empty target is written and reported as a recording; the log says so.
TEST_F(NegotiationTest, StopDuringAQuestionWritesNoTarget) {
    auto& cam = MakeWith([](int, int) { return true; });
    cam.CompressorIndex = -1;
    cam.TimeLimit.Enabled = false;
    desktop->onGrab = [&cam](int number) {
        if (number == 1) cam.StopRecording();  // the probe, before the question
    };
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kNoCompressor});
    EXPECT_EQ(cam.FramesWritten, 0);
    EXPECT_EQ(Errors(), std::vector<std::string>{
                            "The recording was stopped before its first frame: nothing was "
                            "recorded."});
    EXPECT_FALSE(FileExists(Target()));
}

// An index past the catalogue's count names no stream, whatever the unused
// entries hold.
TEST_F(NegotiationTest, IndexPastTheCatalogueLeavesTheStreamNameEmpty) {
    auto& cam = MakeWith([](int, int) { return true; });
    cam.CompressorIndex = 7;
    const std::u16string stale = u"Stale";
    std::copy(stale.begin(), stale.end(), cam.Compressors[7].szName);
    host.Answer({true});
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(host.Questions(), std::vector<std::string>{kCannotUse});
    EXPECT_EQ(Probe(TempVideoFile, "stream_tags=title"), "");
}

}  // namespace
}  // namespace velmora::enginetest
