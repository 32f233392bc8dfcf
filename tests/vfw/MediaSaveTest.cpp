// SaveMediaFile: the recording's AVI and WAV into MP4 and Matroska, the
// sound encoded on the way.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestEnv.h"
#include "tests/vfw/VfwTestSupport.h"

namespace velmora::vfwtest {
namespace {

double number(const std::string& text) {
    return std::atof(text.c_str());
}

// The first decoded frame's time of stream "v" or "a", after what the
// container says to skip (encoder priming).
double firstFrameTime(const std::string& file, const char* type) {
    return number(test::capture(std::string("ffprobe -v error -select_streams ") + type +
                                ":0 -show_entries frame=pts_time -read_intervals %+#1 -of "
                                "csv=p=0 '" +
                                file + "' | head -n1"));
}

// When each video packet is shown, in seconds.
std::vector<double> packetTimes(const std::string& file) {
    std::istringstream lines(
        test::capture("ffprobe -v error -select_streams v:0 -show_entries "
                      "packet=pts_time -of csv=p=0 '" +
                      file + "'"));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);) times.push_back(number(line));
    return times;
}

// Decoded sound in seconds: what a player plays.
double decodedSoundSeconds(const std::string& file) {
    const std::string bytes = test::capture("ffmpeg -v error -i '" + file +
                                            "' -map 0:a:0 -ac 1 -ar 8000 -f s16le - | wc -c");
    return number(bytes) / 2 / 8000;
}

class MediaSave : public ::testing::Test {
  protected:
    void open(FOURCC handler, int rate = 22050) {
        video = dir.file("~tempvideo.avi");
        audio = dir.file("~tempaudio.wav");
        WriteSetup setup;
        setup.handler = handler;
        indices = gappyIndices(30);
        ASSERT_EQ(writeVideo(video, setup, indices), AVIERR_OK);
        writeWav(audio, 2.0, rate);
        ASSERT_EQ(openStream(video, &streams[0]), AVIERR_OK);
        ASSERT_EQ(openStream(audio, &streams[1]), AVIERR_OK);
    }
    void TearDown() override {
        for (PAVISTREAM s : streams)
            if (s) AVIStreamRelease(s);
    }

    TempDir dir;
    std::string video, audio;
    std::vector<int> indices;
    PAVISTREAM streams[2] = {nullptr, nullptr};
};

// A container and sound encoder, the video's fourcc and sound's rate, and
// the codec names ffprobe gives.
struct Case {
    OutputFormat container;
    SoundCodec sound;
    const char* fourcc;
    int rate;
    const char *videoCodec, *soundCodec;
};

class MediaSaveEach : public MediaSave, public ::testing::WithParamInterface<Case> {};

TEST_P(MediaSaveEach, KeepsThePictureItsGapsAndTheSoundsPlace) {
    const auto [container, sound, fourcc, rate, videoCodec, soundCodec] = GetParam();
    open(MakeFourCC(fourcc[0], fourcc[1], fourcc[2], fourcc[3]), rate);
    const std::string target = dir.file("saved" + FormatExtension(container));
    MediaFileFormat format{container, sound};
    ASSERT_EQ(SaveMediaFile(target.c_str(), format, nullptr, 2, streams), AVIERR_OK);

    EXPECT_EQ(probeStream(target, 0, "codec_name"), videoCodec);
    EXPECT_EQ(probeStream(target, 1, "codec_name"), soundCodec);
    EXPECT_EQ(probeStream(target, 0, "width"), "320");
    EXPECT_EQ(probeStream(target, 1, "channels"), "1");
    // Opus runs at 48 kHz whatever the recording's rate; the others keep it.
    const bool toOpus = sound == SoundCodec::Opus;
    EXPECT_EQ(probeStream(target, 1, "sample_rate"), std::to_string(toOpus ? 48000 : rate));
    EXPECT_EQ(decodeErrors(target), "");
    // Each recorded frame once, the first a key frame; the gaps stay time.
    const std::vector<Packet> packets = probePackets(target);
    ASSERT_EQ(packets.size(), indices.size());
    EXPECT_TRUE(packets.front().key);
    const double frame = 1.0 / 15;
    const double videoSeconds = number(test::capture(
        "ffprobe -v error -select_streams v:0 -show_entries stream=duration:format=duration -of "
        "csv=p=0 '" +
        target + "' | grep -v N/A | head -n1"));
    EXPECT_NEAR(videoSeconds, (indices.back() + 1) * frame, frame);
    // Matroska cannot tell a reader of AAC's priming: the picture starts
    // that much later instead. A fragmented MP4 tells it in an edit list
    // that FFmpeg's reader does not apply to fragments: the priming comes
    // before the picture's zero.
    const bool aac = sound == SoundCodec::Aac;
    const bool matroska = container == OutputFormat::Mkv;
    const double priming = aac && matroska ? 1024.0 / rate : 0.0;
    const double soundLead = aac ? 1024.0 / rate : 0.0;
    const std::vector<double> times = packetTimes(target);
    ASSERT_EQ(times.size(), indices.size());
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_NEAR(times[i], indices[i] * frame + priming, 0.002);
    // The right way up, the colours kept (within what a lossy codec changes).
    const std::vector<std::uint8_t> shown = decodeFirstFrameBgr(target);
    const std::vector<std::uint8_t> drawn = expectedBgr(320, 240, 32, indices[0]);
    ASSERT_EQ(shown.size(), drawn.size());
    double difference = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) difference += std::abs(shown[i] - drawn[i]);
    EXPECT_LT(difference / shown.size(), 8.0);
    // The sound starts with the picture and lasts as recorded (FFmpeg's
    // reader keeps the padding of the last frame of a lossy codec).
    EXPECT_NEAR(firstFrameTime(target, "v") - firstFrameTime(target, "a"), soundLead, 0.002);
    const bool opus = sound == SoundCodec::Opus;
    const double lastFrame = aac ? 1024.0 / rate : opus ? 0.025 : 0.01;
    EXPECT_NEAR(decodedSoundSeconds(target), 2.0 + soundLead, lastFrame);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, MediaSaveEach,
    ::testing::Values(
        Case{OutputFormat::Mp4, SoundCodec::Aac, "H264", 22050, "h264", "aac"},
        Case{OutputFormat::Mp4, SoundCodec::Opus, "XVID", 22050, "mpeg4", "opus"},
        Case{OutputFormat::Mp4, SoundCodec::Aac, "MJPG", 8000, "mjpeg", "aac"},
        Case{OutputFormat::Mkv, SoundCodec::Opus, "H264", 8000, "h264", "opus"},
        Case{OutputFormat::Mkv, SoundCodec::Opus, "HFYU", 44100, "huffyuv", "opus"},
        Case{OutputFormat::Mkv, SoundCodec::Flac, "ZMBV", 22050, "zmbv", "flac"},
        Case{OutputFormat::Mkv, SoundCodec::Aac, "DIB ", 22050, "rawvideo", "aac"},
        Case{OutputFormat::Mkv, SoundCodec::Pcm, "FFV1", 22050, "ffv1", "pcm_s16le"}),
    [](const auto& info) {
        std::string name = FormatKey(info.param.container) + "_" + info.param.soundCodec + "_" +
                           info.param.videoCodec + "_" + std::to_string(info.param.rate);
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// Fragmented: the decoder's setup in the header before any picture, then a
// fragment about every second, so nothing has to move at the end.
TEST_F(MediaSave, Mp4HasTheDecodersSetupFirstAndFragmentsOfASecond) {
    open(MakeFourCC('H', '2', '6', '4'));
    const std::string target = dir.file("web.mp4");
    ASSERT_EQ(SaveMediaFile(target.c_str(), {OutputFormat::Mp4, SoundCodec::Aac}, nullptr, 2, streams),
              AVIERR_OK);
    std::ifstream in(target, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_NE(bytes.find("moov"), std::string::npos);
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
    EXPECT_LT(bytes.find("avcC"), bytes.find("mdat"));
    std::size_t fragments = 0;
    for (auto at = bytes.find("moof"); at != std::string::npos; at = bytes.find("moof", at + 4))
        ++fragments;
    EXPECT_GE(fragments, 2u) << "two seconds of picture";
    EXPECT_EQ(decodeErrors(target), "");
    EXPECT_EQ(probeStream(target, 0, "pix_fmt"), "yuv420p");
    EXPECT_EQ(probeStream(target, 0, "color_range"), "tv");
    EXPECT_EQ(probeStream(target, 0, "color_space"), "smpte170m");
    EXPECT_FALSE(std::filesystem::exists(target + ".part"));
}

TEST_F(MediaSave, AContainerThatCannotTakeTheVideoLeavesNothing) {
    open(MakeFourCC('M', 'S', 'V', 'C'));
    const std::string target = dir.file("refused.mp4");
    EXPECT_EQ(SaveMediaFile(target.c_str(), {OutputFormat::Mp4, SoundCodec::Aac}, nullptr, 2,
                            streams),
              AVIERR_UNSUPPORTED);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::exists(target + ".part"));
}

int abortAt = 50;
std::int32_t stopAtHalf(std::int32_t percent) {
    return percent >= abortAt ? 1 : 0;
}

TEST_F(MediaSave, AnAbortedMp4IsFinishedAndPlays) {
    open(MakeFourCC('H', '2', '6', '4'));
    const std::string target = dir.file("aborted.mp4");
    EXPECT_EQ(SaveMediaFile(target.c_str(), {OutputFormat::Mp4, SoundCodec::Aac}, stopAtHalf, 2, streams),
              AVIERR_USERABORT);
    EXPECT_EQ(decodeErrors(target), "");
    const std::size_t frames = probePackets(target).size();
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, indices.size());
}

}  // namespace
}  // namespace velmora::vfwtest
