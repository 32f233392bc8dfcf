// A recording written straight into its file and killed leaves
// "<name>.part": the next start finds it and finishes it in its own
// container, up to what reached the disk; what is not such a file is left
// alone.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "engine/encode/SoundEncoder.h"
#include "engine/mux/FinishPart.h"
#include "engine/mux/Muxer.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/media/MediaTestSupport.h"
#include "tests/support/TestEnv.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace velmora::enginetest {
namespace {

namespace fs = std::filesystem;

constexpr int kFps = 10;
constexpr int kRate = 44100;

SoundCodec SoundOf(OutputFormat format) {
    return format == OutputFormat::Avi   ? SoundCodec::Pcm
           : format == OutputFormat::Mp4 ? SoundCodec::Aac
                                         : SoundCodec::Opus;
}

// The child's recording: 320x240 H.264 at 10 fps and a tone, written through
// the muxer as they are due, as a recording is. After each frame it writes
// the number of frames written into report and waits for a byte from go, so
// that a kill comes right after a known frame. It ends by itself after a
// minute.
[[noreturn]] void RecordLive(const std::string& target, OutputFormat format, int report, int go) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = 320;
    c->height = 240;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, kFps};
    c->framerate = {kFps, 1};
    c->gop_size = kFps;
    if (format != OutputFormat::Avi) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "ultrafast", 0);
    if (avcodec_open2(c, codec, &options) < 0) ::_exit(2);
    av_dict_free(&options);
    AVCodecParameters* par = avcodec_parameters_alloc();
    avcodec_parameters_from_context(par, c);

    std::string error;
    const engine::PcmFormat pcm{kRate, 2, 16};
    auto sound =
        engine::SoundEncoder::Open(SoundOf(format), pcm, format != OutputFormat::Avi, error);
    if (!sound) ::_exit(3);
    std::vector<engine::MuxerStream> streams(2);
    streams[0].parameters = par;
    streams[0].timeBase = {1, kFps};
    streams[0].frameRate = {kFps, 1};
    streams[1].parameters = sound->Parameters();
    streams[1].timeBase = sound->TimeBase();
    streams[1].delay = sound->Delay();
    streams[1].title = "Microphone";
    engine::MuxerFault fault;
    auto muxer = engine::Muxer::Create(target, format, streams, fault);
    if (!muxer) ::_exit(4);

    AVFrame* frame = av_frame_alloc();
    frame->width = c->width;
    frame->height = c->height;
    frame->format = c->pix_fmt;
    av_frame_get_buffer(frame, 0);
    AVPacket* packet = av_packet_alloc();
    std::vector<std::int16_t> tone(kRate / kFps * 2);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 60 * kFps; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(1000 * i / kFps));
        av_frame_make_writable(frame);
        for (int y = 0; y < c->height; ++y)
            for (int x = 0; x < c->width; ++x)
                frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(x + 4 * i);
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < c->height / 2; ++y)
                std::memset(frame->data[p] + y * frame->linesize[p], 128, c->width / 2);
        frame->pts = i;
        avcodec_send_frame(c, frame);
        while (avcodec_receive_packet(c, packet) == 0)
            if (muxer->Write(0, packet) < 0) ::_exit(5);
        for (std::size_t s = 0; s < tone.size() / 2; ++s) {
            const double t = static_cast<double>(i * (kRate / kFps) + s) / kRate;
            tone[2 * s] = tone[2 * s + 1] =
                static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
        }
        int e = sound->Send(reinterpret_cast<const std::uint8_t*>(tone.data()), kRate / kFps);
        while (e == 0 && (e = sound->Receive(packet)) == 0) e = muxer->Write(1, packet);
        const int written = i + 1;
        char byte = 0;
        if (::write(report, &written, sizeof written) != sizeof written ||
            ::read(go, &byte, 1) != 1)
            ::_exit(6);
    }
    ::_exit(0);
}

// Seconds of picture and of sound a player decodes.
double PictureSeconds(const std::string& file) {
    const std::string frames = test::capture(
        "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
        "stream=nb_read_frames -of csv=p=0 '" +
        file + "'");
    return std::atof(frames.c_str()) / kFps;
}

double SoundSeconds(const std::string& file) {
    // The end of the last sound packet.
    const std::string last = test::capture(
        "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
        "-of csv=p=0 '" +
        file + "' | tail -n 1");
    double pts = 0, duration = 0;
    std::sscanf(last.c_str(), "%lf,%lf", &pts, &duration);
    return pts + duration;
}

std::string FormatEntry(const std::string& file, const std::string& entry) {
    std::string out = test::capture("ffprobe -v error -show_entries format=" + entry +
                                    " -of csv=p=0 '" + file + "'");
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

class KilledRecording : public EngineTest, public ::testing::WithParamInterface<OutputFormat> {};

TEST_P(KilledRecording, IsFinishedInItsOwnContainerUpToWhatReachedTheDisk) {
    if (!avcodec_find_encoder_by_name("libx264")) GTEST_SKIP() << "no libx264";
    const OutputFormat format = GetParam();
    const std::string target = Target("VideoRecord_20240131_142503" + FormatExtension(format));
    // A random moment between 2 and 5 s.
    std::mt19937 random(std::random_device{}());
    const int killAt = std::uniform_int_distribution<int>(2 * kFps, 5 * kFps)(random);
    int report[2], go[2];
    ASSERT_EQ(::pipe(report), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        ::close(go[1]);
        RecordLive(target, format, report[1], go[0]);
    }
    ::close(report[1]);
    ::close(go[0]);
    int written = 0;
    while (::read(report[0], &written, sizeof written) == sizeof written && written < killAt &&
           ::write(go[1], "", 1) == 1) {
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(report[0]);
    ::close(go[1]);
    ASSERT_EQ(written, killAt) << "the recording ended by itself: " << status;
    const double killed = static_cast<double>(written) / kFps;
    ASSERT_TRUE(FileExists(target + ".part"));
    ASSERT_FALSE(FileExists(target));
    std::cerr << "DEBUG part holds " << PictureSeconds(target + ".part") << " of " << killed
              << " size " << fs::file_size(target + ".part") << "\n";

    auto& cam = Make();
    const auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(found[0].part);
    EXPECT_EQ(found[0].video, target + ".part");
    EXPECT_EQ(found[0].target, target);
    std::vector<int> progress;
    cam.OnSaveProgress = [&](TScreenCamera*, std::int32_t percent, bool&) {
        progress.push_back(percent);
    };
    ASSERT_TRUE(cam.RecoverRecordings(found));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    ASSERT_EQ(Errors(), std::vector<std::string>{"The interrupted recording is saved: " + target});
    EXPECT_FALSE(FileExists(target + ".part"));
    EXPECT_FALSE(FileExists(target + ".finishing"));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);

    // Its own container, made whole: the length in its header, picture and
    // sound to within a second of the kill, and not more than was written.
    const std::string container = FormatEntry(target, "format_name");
    EXPECT_NE(container.find(format == OutputFormat::Avi   ? "avi"
                             : format == OutputFormat::Mp4 ? "mp4"
                                                           : "matroska"),
              std::string::npos)
        << container;
    const double picture = PictureSeconds(target), sound = SoundSeconds(target);
    EXPECT_GE(picture, killed - 1.05) << "killed at " << killed;
    EXPECT_LE(picture, killed + 0.05);
    EXPECT_GE(sound, killed - 1.05) << "killed at " << killed;
    EXPECT_LE(sound, killed + 0.1);
    const double header = std::atof(FormatEntry(target, "duration").c_str());
    EXPECT_NEAR(header, std::max(picture, sound), 0.3);
    // It seeks: the last second's frames decode from a point near its end.
    const std::string late = test::capture(
        "ffprobe -v error -read_intervals " + std::to_string(picture - 1.0) +
        "% -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + target + "'");
    EXPECT_FALSE(late.empty());
}

INSTANTIATE_TEST_SUITE_P(Containers, KilledRecording,
                         ::testing::Values(OutputFormat::Avi, OutputFormat::Mp4, OutputFormat::Mkv),
                         [](const auto& info) { return FormatKey(info.param); });

class RecoveryPartTest : public EngineTest {
  protected:
    // What a killed recording leaves under target + ".part".
    void LeaveKilled(const std::string& target, OutputFormat format) {
        mediatest::Recording recording(format);
        engine::MuxerFault fault;
        auto muxer = engine::Muxer::Create(target, format, recording.streams, fault);
        ASSERT_TRUE(muxer);
        ASSERT_EQ(recording.WriteAll(*muxer, 2.0), 0);
        muxer->Abandon();
    }
    // A second's recording whose save is cancelled: kept as
    // "<stem>_video.avi", as a failed save keeps it.
    TScreenCamera& RecordAndKeep(const std::string& stem) {
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
        cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
        RecordOnWorker(Target(stem + ".avi"));
        cam.OnSaveProgress = nullptr;
        return cam;
    }
    void Recover(TScreenCamera& cam, const std::vector<TInterruptedRecording>& found) {
        ASSERT_TRUE(cam.RecoverRecordings(found));
        ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    }
};

// Only a recording's own unfinished file is offered: what is no such file
// is named in the log and left alone, and a file a running recording still
// writes is not touched at all.
TEST_F(RecoveryPartTest, OnlyARecordingsOwnUnfinishedFileIsOffered) {
    const std::string killed = Target("VideoRecord_20240131_142503.mkv");
    LeaveKilled(killed, OutputFormat::Mkv);
    const std::string garbage = Target("VideoRecord_20240131_142504.mp4.part");
    std::ofstream(garbage) << "912 MB of something else";
    const std::string pipe = Target("VideoRecord_20240131_142505.mkv.part");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string link = Target("VideoRecord_20240131_142506.avi.part");
    fs::create_symlink(killed + ".part", link);
    mediatest::Recording recording(OutputFormat::Mp4);
    engine::MuxerFault fault;
    auto running = engine::Muxer::Create(Target("VideoRecord_20240131_142507.mp4"),
                                         OutputFormat::Mp4, recording.streams, fault);
    ASSERT_TRUE(running);
    ASSERT_EQ(recording.WriteAll(*running, 1.0), 0);

    const int frames = mediatest::DecodedFrames(killed + ".part");
    ASSERT_GT(frames, 10);

    std::vector<std::string> leftAlone;
    const auto found = FindInterruptedRecordings(folder.path(), OutputFormat::Avi, &leftAlone);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].video, killed + ".part");
    EXPECT_EQ(found[0].target, killed);
    EXPECT_TRUE(found[0].part);
    const std::string left = Text(leftAlone);
    ASSERT_EQ(leftAlone.size(), 3u) << left;
    for (const std::string& line :
         {garbage + " (it does not hold MP4)", pipe + " (a named pipe, not a regular file)",
          link + " (a symbolic link, not a regular file)"})
        EXPECT_NE(left.find("left alone: " + line), std::string::npos) << line << "\n" << left;

    // Finished, the others untouched; the running recording ends as it would.
    auto& cam = Make();
    Recover(cam, found);
    EXPECT_EQ(Errors(), std::vector<std::string>{"The interrupted recording is saved: " + killed});
    EXPECT_EQ(mediatest::DecodedFrames(killed), frames);
    EXPECT_TRUE(FileExists(garbage) && FileExists(pipe) && FileExists(link));
    EXPECT_TRUE(running->Finish());

    // Offered anyway (planted after the search), it is refused in the
    // language's words and stays.
    host.texts[106] = "cannot finish %1 (%2)";
    TInterruptedRecording planted;
    planted.video = garbage;
    planted.target = garbage.substr(0, garbage.size() - 5);
    planted.part = true;
    Recover(cam, {planted});
    EXPECT_EQ(Errors().back().rfind("cannot finish " + garbage + " (not a recording's file", 0), 0u)
        << Errors().back();
    EXPECT_TRUE(FileExists(garbage));
    EXPECT_FALSE(FileExists(planted.target));
}

// A save killed on the way left its copy beside the recording's files: the
// files are offered as before (one recording), saved under a name the copy
// does not hold, and the copy goes only once they are saved. A recording of
// its own started later is not taken for such a copy.
TEST_F(RecoveryPartTest, ACopyAKilledSaveLeftGoesOnlyOnceItsFilesAreSaved) {
    auto& cam = RecordAndKeep("VideoRecord_20240131_142503");
    const std::string kept = Target("VideoRecord_20240131_142503_video.avi");
    ASSERT_TRUE(FileExists(kept));
    const std::string copy = Target("VideoRecord_20240131_142503.avi.part");
    std::ofstream(copy) << "half a copy";
    const std::string later = Target("VideoRecord_20240131_150000.mkv");
    LeaveKilled(later, OutputFormat::Mkv);

    auto found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].video, kept);
    EXPECT_EQ(found[0].staleParts, std::vector<std::string>{copy});
    EXPECT_EQ(found[1].video, later + ".part");
    EXPECT_TRUE(found[1].part);

    // Cancelled: the copy stays with the files.
    cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
    Recover(cam, {found[0]});
    EXPECT_TRUE(FileExists(kept));
    EXPECT_TRUE(FileExists(copy));

    cam.OnSaveProgress = nullptr;
    host.texts[109] = "deleted: %1";
    found = cam.FindInterruptedRecordings(folder.path());
    ASSERT_EQ(found.size(), 2u);
    Recover(cam, {found[0]});
    const std::string saved = Target("VideoRecord_20240131_142503_2.avi");
    const auto errors = Errors();
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[errors.size() - 2], "The interrupted recording is saved: " + saved);
    EXPECT_EQ(errors.back(), "deleted: " + copy);
    EXPECT_FALSE(FileExists(copy));
    EXPECT_FALSE(FileExists(kept));
    EXPECT_EQ(Probe(saved, "stream=codec_type"), "video");
    EXPECT_TRUE(FileExists(later + ".part"));
}

}  // namespace
}  // namespace velmora::enginetest
