// A recording with sound killed with SIGKILL once two seconds of its sound are
// stored: the next start finds it,
// asks once, and Yes saves it under the name of its start time; No leaves it
// alone, it is not asked about again, and a new recording moves it aside
// instead of deleting it. Killed at random moments, a recording's sound
// reaches about as far as its picture, in AVI and in MP4.

#include <signal.h>

#include <random>
#include <regex>
#include <thread>

#include "tests/e2e/FormatRecording.h"
#include "tests/sound/SoundCheck.h"

namespace fs = std::filesystem;
using namespace velmora::e2e;
using namespace velmora::soundtest;

namespace {

class RecoveryTest : public SoundProgramTest {
  protected:
    // A recording with sound into path=, killed once two seconds of its
    // sound are stored; its temporary files stay in that folder, where the
    // recording was being made.
    void RecordAndKill() {
        Program program(folder_, {"-vc", OutArg()});
        ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
        ASSERT_TRUE(WaitFor([&] { return fs::exists(out_ / "~tempaudio.wav"); }));
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitForSound(out_ / "~tempaudio.wav", 2.0)) << TodaysLog();
        ::kill(program.pid(), SIGKILL);
        killedAfter_ =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        program.Exit();
        ASSERT_TRUE(fs::exists(out_ / "~tempvideo.avi"));
        ASSERT_TRUE(fs::exists(out_ / "~tempaudio.wav"));
        videoSize_ = fs::file_size(out_ / "~tempvideo.avi");
        // What the kill left reads to within a second of it: the frames of
        // 15 fps, and the sizes in the sound file's header.
        const std::string frames = capture(
            "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" +
            (out_ / "~tempvideo.avi").string() + "'");
        EXPECT_GE(std::atoi(frames.c_str()), (killedAfter_ - 1) * 15) << frames;
        std::ifstream wav(out_ / "~tempaudio.wav", std::ios::binary);
        std::uint32_t dataSize = 0;
        wav.seekg(42);
        wav.read(reinterpret_cast<char*>(&dataSize), 4);
        EXPECT_GE(dataSize, (killedAfter_ - 1) * 176400) << killedAfter_ << " s recorded";
        EXPECT_LE(dataSize, fs::file_size(out_ / "~tempaudio.wav") - 46);
    }
    // Answers the start's question by key: Return is Yes, Escape is No.
    void Answer(Program& program, const std::string& key) {
        const std::string box = program.WaitForWindow("Notice");
        ASSERT_FALSE(box.empty()) << "no question\n" << TodaysLog();
        run("xdotool windowactivate --sync " + box + " key " + key);
        ASSERT_TRUE(WaitFor([&] { return program.Window("Notice").empty(); }));
    }
    // Kills a recording with sound in format ms after its sound began, and
    // saves it at the next start: the recovered file, or "".
    std::string KillAndRecover(const std::string& format, int ms) {
        fs::remove_all(out_);
        fs::create_directory(out_);
        fs::remove_all(folder_ / "Logs");
        std::ofstream(folder_ / "Setup.ini")
            << FormatSettings(MicrophoneSettings(), format, format == "AVI" ? "PCM" : "AAC");
        {
            Program program(folder_, {"-vc", OutArg()});
            if (program.WaitForWindow(kMainTitle).empty()) return {};
            if (!WaitFor([&] { return StoredSoundSeconds(out_ / "~tempaudio.wav") > 0; }))
                return {};
            // The moment of the crash is the test's input: any may come.
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            ::kill(program.pid(), SIGKILL);
            program.Exit();
        }
        Program program(folder_, {OutArg()});
        if (program.WaitForWindow(kMainTitle).empty()) return {};
        Answer(program, "Return");
        const bool saved = WaitFor([&] {
            return TodaysLog().find(" - The interrupted recording is saved: ") != std::string::npos;
        });
        ::kill(program.pid(), SIGTERM);
        EXPECT_EQ(program.Exit(), 0);
        const auto files = Recordings(out_);
        return saved && files.size() == 1 ? files.front().string() : std::string();
    }
    std::uintmax_t videoSize_ = 0;
    double killedAfter_ = 0;  // seconds from the sound file's start to the kill
};

TEST_F(RecoveryTest, YesSavesTheKilledRecordingWithItsSound) {
    RecordAndKill();
    Program program(folder_, {OutArg()});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    Answer(program, "Return");
    ASSERT_TRUE(WaitFor([&] {
        return TodaysLog().find(" - The interrupted recording is saved: ") != std::string::npos;
    })) << TodaysLog();
    const auto files = Recordings(out_);
    ASSERT_EQ(files.size(), 1u) << TodaysLog();
    const std::string file = files.front().string();
    // Named after the killed recording's own start, as its log line says:
    // the start its temporary file was made at, which may be the second
    // after the line was written.
    std::smatch started;
    const std::string log = TodaysLog();
    ASSERT_TRUE(
        std::regex_search(log, started, std::regex(R"( - VideoRecord_(\d{8})_(\d{6})\.avi\n)")))
        << log;
    const std::string name = files.front().filename().string();
    const auto seconds = [](const std::string& hhmmss) {
        return std::stoi(hhmmss.substr(0, 2)) * 3600 + std::stoi(hhmmss.substr(2, 2)) * 60 +
               std::stoi(hhmmss.substr(4, 2));
    };
    const int late = seconds(name.substr(21, 6)) - seconds(started[2].str());
    EXPECT_EQ(name.substr(12, 8), started[1].str()) << log;
    EXPECT_TRUE(late == 0 || late == 1) << name << "\n" << log;
    // The sound reaches the last block the recorder had stored; the one
    // being filled at the kill is lost.
    ExpectRecordingWithSound(file, killedAfter_, 1.5);
    EXPECT_FALSE(fs::exists(out_ / "~tempvideo.avi"));
    EXPECT_FALSE(fs::exists(out_ / "~tempaudio.wav"));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0);
}

TEST_F(RecoveryTest, NoLeavesItAloneAndANewRecordingMovesItAside) {
    RecordAndKill();
    // Started without path=, its output folder is another: the recording is
    // found where it was made all the same.
    {
        Program program(folder_, {});
        ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
        Answer(program, "Escape");
        ::kill(program.pid(), SIGTERM);
        EXPECT_EQ(program.Exit(), 0);
    }
    EXPECT_EQ(fs::file_size(out_ / "~tempvideo.avi"), videoSize_);
    EXPECT_TRUE(Recordings(out_).empty());

    // Not asked again; the new recording into that folder takes the
    // temporary names.
    Program program(folder_, {"-vc", "time=2", OutArg()});
    ASSERT_FALSE(program.WaitForWindow(kMainTitle).empty());
    ASSERT_TRUE(WaitFor([&] { return Recordings(out_).size() == 1; })) << TodaysLog();
    EXPECT_TRUE(program.Window("Notice").empty());
    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(out_))
        if (entry.path().filename().string().ends_with("_video.avi")) aside.push_back(entry);
    ASSERT_EQ(aside.size(), 1u) << TodaysLog();
    EXPECT_EQ(fs::file_size(aside.front()), videoSize_);
    EXPECT_NE(TodaysLog().find("An interrupted recording was moved aside: "), std::string::npos);
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.Exit(), 0);
}

// Sound reaches its file in blocks of a tenth of a second: a crash at any
// moment loses about as much of it as of the picture.
TEST_F(RecoveryTest, AKillAtAnyMomentLosesLittleMoreSoundThanPicture) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> moment(300, 2500);
    for (const std::string format : {"AVI", "MP4"})
        for (int kill = 0; kill < 2; ++kill) {
            const int ms = moment(random);
            SCOPED_TRACE(format + " killed " + std::to_string(ms) + " ms after its sound began");
            const std::string file = KillAndRecover(format, ms);
            ASSERT_FALSE(file.empty()) << TodaysLog();
            const double picture = VideoSeconds(file);
            const double sound = static_cast<double>(Samples(file).size()) / 2 / 44100;
            std::printf("%s killed %d ms after its sound began: picture %.3f s, sound %.3f s\n",
                        format.c_str(), ms, picture, sound);
            EXPECT_NEAR(sound, picture, 0.3);
        }
}

}  // namespace
