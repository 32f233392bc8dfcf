// Every driver writes a gappy 320x240 recording that an independent reader
// (ffprobe/ffmpeg) takes as it was meant.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnv.h"
#include "tests/vfw/VfwTestSupport.h"

namespace velmora::vfwtest {
namespace {

struct DriverCase {
    const char* handler;
    const char* codecName;  // ffprobe codec_name
    const char* fourcc;     // ffprobe codec_tag_string
    bool intraOnly;
    bool lossless;
};

const DriverCase kDrivers[] = {
    {"MSVC", "msvideo1", "MSVC", false, false}, {"XVID", "mpeg4", "XVID", false, false},
    {"MJPG", "mjpeg", "MJPG", true, false},     {"H264", "h264", "H264", false, false},
    {"HFYU", "huffyuv", "HFYU", true, true},    {"ZMBV", "zmbv", "ZMBV", false, true},
    {"FFV1", "ffv1", "FFV1", false, true},      {"DIB ", "rawvideo", "[0][0][0][0]", true, true},
};

FOURCC fcc(const char* s) {
    return MakeFourCC(s[0], s[1], s[2], s[3]);
}

void PrintTo(const DriverCase& c, std::ostream* os) {
    *os << c.handler;
}

class VfwDriverWrite : public ::testing::TestWithParam<DriverCase> {};

TEST_P(VfwDriverWrite, GappyRecordingReadsBackWithTimingAndKeyFrames) {
    const DriverCase& c = GetParam();
    TempDir dir;
    const std::string file = dir.file("rec.avi");
    const std::vector<int> indices = gappyIndices(30);
    WriteSetup setup;
    setup.handler = fcc(c.handler);
    ASSERT_EQ(writeVideo(file, setup, indices), AVIERR_OK);

    EXPECT_EQ(probeStream(file, 0, "codec_name"), c.codecName);
    EXPECT_EQ(probeStream(file, 0, "codec_tag_string"), c.fourcc);
    EXPECT_EQ(probeStream(file, 0, "width,height"), "320,240");
    EXPECT_EQ(probeStream(file, 0, "r_frame_rate"), "15/1");
    EXPECT_EQ(decodeErrors(file), "");

    // Real frames sit at the written indices; empty slots fill the gaps.
    std::vector<long long> real;
    std::vector<bool> keys;
    for (const Packet& p : probePackets(file)) {
        if (p.size > 0) {
            real.push_back(p.pts);
            keys.push_back(p.key);
        } else {
            EXPECT_FALSE(p.key) << "empty slot at " << p.pts << " indexed as key frame";
        }
    }
    ASSERT_EQ(real.size(), indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(real[i], indices[i]) << i;

    // The index carries the codec's own key flags: the interval asked for,
    // not every frame.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const bool expected = c.intraOnly || i % setup.keyFrameEvery == 0;
        EXPECT_EQ(keys[i], expected) << "frame " << i;
    }
}

class VfwLosslessWrite : public VfwDriverWrite {};

TEST_P(VfwLosslessWrite, KeepsThePictureUprightAtEveryDepth) {
    const DriverCase& c = GetParam();
    for (int bits : {32, 24, 16, 8}) {
        BITMAPINFOHEADER probe = *testFrame(64, 48, bits, 0).header();
        HIC hic = ICOpen(ICTYPE_VIDEO, fcc(c.handler), ICMODE_QUERY);
        ASSERT_NE(hic, nullptr);
        const bool accepted = ICCompressQuery(hic, &probe, nullptr) == ICERR_OK;
        ICClose(hic);
        if (!accepted) continue;
        SCOPED_TRACE(bits);
        TempDir dir;
        const std::string file = dir.file("pic.avi");
        WriteSetup setup;
        setup.handler = fcc(c.handler);
        setup.width = 64;
        setup.height = 48;
        setup.bitCount = bits;
        ASSERT_EQ(writeVideo(file, setup, {0, 1}), AVIERR_OK);
        const auto got = decodeFirstFrameBgr(file);
        const auto want = expectedBgr(64, 48, bits, 0);
        ASSERT_EQ(got.size(), want.size());
        const int tolerance = bits == 16 ? 8 : 0;  // 5-bit channels
        int bad = 0;
        for (std::size_t i = 0; i < want.size(); ++i) {
            if (std::abs(int(got[i]) - int(want[i])) > tolerance) ++bad;
        }
        EXPECT_EQ(bad, 0);
    }
}

// The first frame as top-down R, G, B, A bytes, read by FFmpeg and by
// GStreamer (empty when GStreamer or its AVI reader is not installed).
std::vector<std::uint8_t> ffmpegRgba(const std::string& file) {
    const std::string raw = test::capture("ffmpeg -nostdin -v error -i '" + file +
                                          "' -frames:v 1 -f rawvideo -pix_fmt rgba -");
    return {raw.begin(), raw.end()};
}
std::optional<std::vector<std::uint8_t>> gstreamerRgba(const std::string& file,
                                                       const std::string& out) {
    if (test::run("gst-inspect-1.0 avidemux >/dev/null 2>&1 && "
                  "gst-inspect-1.0 videoconvert >/dev/null 2>&1") != 0)
        return std::nullopt;
    test::run("gst-launch-1.0 -q filesrc location='" + file +
              "' ! avidemux ! videoconvert ! video/x-raw,format=RGBA ! filesink location='" + out +
              "' >/dev/null 2>&1");
    std::ifstream in(out, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Full frames of a 32-bit screen: a player shows the colours, opaque (a
// fourth byte of 0 read as alpha is a black or transparent picture).
TEST(VfwWrite, FullFramesOfA32BitScreenDecodeToTheirOpaqueColoursInEveryReader) {
    TempDir dir;
    const std::string file = dir.file("full.avi");
    WriteSetup setup;
    setup.width = 62;  // rows of 24-bit pixels then need padding
    setup.height = 48;
    ASSERT_EQ(writeVideo(file, setup, {0, 1}), AVIERR_OK);
    const std::vector<std::uint8_t> bgr = expectedBgr(setup.width, setup.height, 32, 0);
    std::vector<std::uint8_t> want;
    for (std::size_t i = 0; i < bgr.size(); i += 3)
        want.insert(want.end(), {bgr[i + 2], bgr[i + 1], bgr[i], 255});

    const auto firstWrong = [&](const std::vector<std::uint8_t>& got) -> std::string {
        if (got.size() < want.size()) return "only " + std::to_string(got.size()) + " bytes";
        for (std::size_t i = 0; i < want.size(); ++i)
            if (got[i] != want[i])
                return "pixel " + std::to_string(i / 4) + " byte " + std::to_string(i % 4) + ": " +
                       std::to_string(got[i]) + " for " + std::to_string(want[i]);
        return "";
    };
    EXPECT_EQ(firstWrong(ffmpegRgba(file)), "") << "FFmpeg";
    if (const auto gst = gstreamerRgba(file, dir.file("gst.rgba")))
        EXPECT_EQ(firstWrong(*gst), "") << "GStreamer";
    else
        std::printf("GStreamer not installed: FFmpeg alone read the file\n");
}

// The fast settings (short motion search, low zlib levels) must still give
// back every frame exactly, key frames and the ones between.
TEST(VfwWrite, ZipMotionBlocksIsLosslessAcrossTheQualityScale) {
    for (DWORD quality : {0u, 9000u, 10000u}) {
        SCOPED_TRACE(quality);
        TempDir dir;
        const std::string file = dir.file("zmbv.avi");
        WriteSetup setup;
        setup.handler = fcc("ZMBV");
        setup.width = 96;
        setup.height = 64;
        setup.quality = quality;
        ASSERT_EQ(writeVideo(file, setup, {0, 1, 2, 3, 4, 5, 6}), AVIERR_OK);
        const auto got = decodeFramesBgr(file);
        std::vector<std::uint8_t> want;
        for (int n = 0; n < 7; ++n) {
            const auto frame = expectedBgr(96, 64, 32, n);
            want.insert(want.end(), frame.begin(), frame.end());
        }
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
    }
}

// The size rules ICCompressQuery gives must be ones the encoder really takes.
TEST_P(VfwDriverWrite, EncodesAtTheSmallestSizeItAccepts) {
    const DriverCase& c = GetParam();
    HIC hic = ICOpen(ICTYPE_VIDEO, fcc(c.handler), ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    int width = 0;
    int height = 0;
    for (int w = 301; w <= 304 && !width; ++w) {
        BITMAPINFOHEADER probe = *testFrame(w, 204, 32, 0).header();
        if (ICCompressQuery(hic, &probe, nullptr) == ICERR_OK) width = w;
    }
    for (int h = 201; h <= 204 && width && !height; ++h) {
        BITMAPINFOHEADER probe = *testFrame(width, h, 32, 0).header();
        if (ICCompressQuery(hic, &probe, nullptr) == ICERR_OK) height = h;
    }
    ICClose(hic);
    ASSERT_GT(width, 0);
    ASSERT_GT(height, 0);
    TempDir dir;
    WriteSetup setup;
    setup.handler = fcc(c.handler);
    setup.width = width;
    setup.height = height;
    EXPECT_EQ(writeVideo(dir.file("odd.avi"), setup, {0, 1, 3}), AVIERR_OK)
        << width << "x" << height;
    EXPECT_EQ(decodeErrors(dir.file("odd.avi")), "");
}

INSTANTIATE_TEST_SUITE_P(AllDrivers, VfwDriverWrite, ::testing::ValuesIn(kDrivers),
                         [](const auto& info) {
                             std::string n = info.param.handler;
                             return n == "DIB " ? std::string("DIB") : n;
                         });

INSTANTIATE_TEST_SUITE_P(LosslessDrivers, VfwLosslessWrite,
                         ::testing::Values(kDrivers[4], kDrivers[5], kDrivers[6], kDrivers[7]),
                         [](const auto& info) {
                             std::string n = info.param.handler;
                             return n == "DIB " ? std::string("DIB") : n;
                         });

TEST(VfwWrite, LeadingAndVeryLongGapsKeepTheirSlots) {
    TempDir dir;
    const std::string file = dir.file("gaps.avi");
    WriteSetup setup;
    setup.width = 16;
    setup.height = 16;
    // The muxer skips at most 60000 slots in one step.
    ASSERT_EQ(writeVideo(file, setup, {3, 4, 70010}), AVIERR_OK);
    std::vector<long long> real;
    for (const Packet& p : probePackets(file)) {
        if (p.size > 0) real.push_back(p.pts);
    }
    EXPECT_EQ(real, (std::vector<long long>{3, 4, 70010}));
}

TEST(VfwWrite, StreamNameAndRateFromTheHeader) {
    TempDir dir;
    const std::string file = dir.file("named.avi");
    WriteSetup setup;
    setup.width = 32;
    setup.height = 32;
    setup.fps = 25;
    setup.name = "Xvid";
    ASSERT_EQ(writeVideo(file, setup, {0, 2}), AVIERR_OK);
    EXPECT_EQ(probeStream(file, 0, "r_frame_rate"), "25/1");
    EXPECT_EQ(probeStreamTag(file, 0, "title"), "Xvid");
}

TEST(VfwWrite, RefusesWhatCannotBeWritten) {
    TempDir dir;
    WriteSetup setup;
    setup.handler = MakeFourCC('M', 'S', 'V', 'C');
    setup.width = 301;  // MS Video 1 needs multiples of 4
    EXPECT_EQ(writeVideo(dir.file("a.avi"), setup, {0}), AVIERR_BADFORMAT);
    setup.handler = MakeFourCC('N', 'O', 'N', 'E');
    setup.width = 320;
    EXPECT_EQ(writeVideo(dir.file("b.avi"), setup, {0}), AVIERR_NOCOMPRESSOR);
    setup.handler = MakeFourCC('D', 'I', 'B', ' ');
    EXPECT_EQ(writeVideo(dir.file("c.avi"), setup, {2, 1}), AVIERR_BADPARAM);  // going back
    EXPECT_EQ(writeVideo(dir.path() + "/missing/d.avi", setup, {0}), AVIERR_FILEOPEN);
    EXPECT_EQ(AVIGetLastSystemError(), ENOENT);
}

std::string readText(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A created file is always new: an existing file and a planted link stay as
// they are, and the link's target is never written.
TEST(VfwWrite, CreatingNeverFollowsALinkNorReplacesAFile) {
    TempDir dir;
    WriteSetup setup;
    const std::string existing = dir.file("existing.avi"), target = dir.file("target");
    std::ofstream(existing) << "keep";
    std::ofstream(target) << "victim";
    std::filesystem::create_symlink(target, dir.file("link.avi"));
    EXPECT_EQ(writeVideo(existing, setup, {0}), AVIERR_FILEOPEN);
    EXPECT_EQ(AVIGetLastSystemError(), EEXIST);
    EXPECT_EQ(writeVideo(dir.file("link.avi"), setup, {0}), AVIERR_FILEOPEN);
    EXPECT_EQ(readText(existing), "keep");
    EXPECT_EQ(readText(target), "victim");
}

// Reading takes the file itself: a link (to a recording elsewhere) is not
// followed, and a FIFO under a recording's name answers at once instead of
// holding the reader until someone writes into it.
TEST(VfwWrite, ReadingNeverFollowsALinkNorWaitsOnAFifo) {
    TempDir dir;
    WriteSetup setup;
    const std::string real = dir.file("real.avi"), fifo = dir.file("fifo.avi");
    ASSERT_EQ(writeVideo(real, setup, {0, 1, 2}), AVIERR_OK);
    std::filesystem::create_symlink(real, dir.file("link.avi"));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(openStream(dir.file("link.avi"), &stream, streamtypeVIDEO), AVIERR_FILEOPEN);
    auto opened = std::async(std::launch::async, [&] {
        PAVISTREAM s = nullptr;
        return openStream(fifo, &s, streamtypeVIDEO);
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the old open go, or the test never ends.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        FAIL() << "the open waits on the FIFO";
    }
    EXPECT_EQ(opened.get(), AVIERR_FILEOPEN);
    ASSERT_EQ(openStream(real, &stream, streamtypeVIDEO), AVIERR_OK);
    AVIStreamRelease(stream);
}

// The index and the buffered tail are written when the last reference goes;
// a disk that is full by then must not pass for a finished file.
TEST(VfwWrite, FailedFinishIsReportedForThatFile) {
    TempDir dir;
    WriteSetup setup;
    setup.width = 8;
    setup.height = 8;
    test::SmallDisk disk(16);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    // Room for the headers, not for a 64x64 frame.
    std::ofstream(disk.Folder() + "filler") << std::string(8192, 'x');
    const std::string full = disk.Folder() + "full.avi";
    WriteSetup big = setup;
    big.width = big.height = 64;
    EXPECT_EQ(writeVideo(full, big, {0}), AVIERR_FILEWRITE);
    EXPECT_EQ(AVIGetLastSystemError(), ENOSPC);
    EXPECT_EQ(AVIFileFinishResult(full.c_str()), AVIERR_FILEWRITE);

    const std::string file = dir.file("fine.avi");
    ASSERT_EQ(writeVideo(file, setup, {0, 1}), AVIERR_OK);
    EXPECT_EQ(AVIFileFinishResult(file.c_str()), AVIERR_OK);
    EXPECT_EQ(AVIFileFinishResult(dir.file("never.avi").c_str()), AVIERR_OK);
    EXPECT_EQ(AVIFileFinishResult(nullptr), AVIERR_BADPARAM);
}

}  // namespace
}  // namespace velmora::vfwtest
