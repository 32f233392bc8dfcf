// Reading recordings back and merging them with AVISaveV.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's; GCC ships no header declaring it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, std::size_t), void (*free_hook)(const volatile void*));
#endif

#include "tests/support/SmallDisk.h"
#include "tests/vfw/VfwTestSupport.h"

namespace velmora::vfwtest {
namespace {

std::vector<int> progressSeen;
int abortAt = 1000;

std::int32_t recordProgress(std::int32_t percent) {
    progressSeen.push_back(percent);
    return percent >= abortAt ? 1 : 0;
}

double durationOf(const std::string& file, int index) {
    return std::atof(probeStream(file, index, "duration").c_str());
}

class VfwSave : public ::testing::Test {
  protected:
    void SetUp() override {
        progressSeen.clear();
        abortAt = 1000;
        video = dir.file("~tempvideo.avi");
        audio = dir.file("~tempaudio.wav");
        WriteSetup setup;
        setup.handler = MakeFourCC('M', 'J', 'P', 'G');
        indices = gappyIndices(30);
        ASSERT_EQ(writeVideo(video, setup, indices), AVIERR_OK);
        writeWav(audio, 2.0);
        ASSERT_EQ(openStream(video, &streams[0]), AVIERR_OK);
        ASSERT_EQ(openStream(audio, &streams[1]), AVIERR_OK);
    }
    void TearDown() override {
        for (PAVISTREAM s : streams) {
            if (s) AVIStreamRelease(s);
        }
    }

    TempDir dir;
    std::string video;
    std::string audio;
    std::vector<int> indices;
    PAVISTREAM streams[2] = {nullptr, nullptr};
};

TEST_F(VfwSave, MergesVideoFirstWithDurationsAndGapsKept) {
    const std::string target = dir.file("VideoRecord.avi");
    AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
    // Audio handed first: the video still comes first in the file.
    PAVISTREAM reversed[2] = {streams[1], streams[0]};
    ASSERT_EQ(AVISaveV(target.c_str(), nullptr, recordProgress, 2, reversed, options), AVIERR_OK);

    EXPECT_EQ(probeStream(target, 0, "codec_type"), "video");
    EXPECT_EQ(probeStream(target, 1, "codec_type"), "audio");
    EXPECT_EQ(probeStream(target, 2, "codec_type"), "");
    EXPECT_EQ(probeStream(target, 0, "codec_tag_string"), "MJPG");
    const double frame = 1.0 / 15;
    EXPECT_NEAR(durationOf(target, 0), (indices.back() + 1) * frame, frame);
    // AVI readers leave a PCM stream's duration open: count its bytes.
    long long audioBytes = 0;
    for (const Packet& p : probePackets(target, "a")) audioBytes += p.size;
    EXPECT_NEAR(audioBytes / (22050.0 * 2), 2.0, frame);
    EXPECT_EQ(decodeErrors(target), "");

    std::vector<long long> real;
    for (const Packet& p : probePackets(target)) {
        if (p.size > 0) real.push_back(p.pts);
    }
    EXPECT_EQ(real, std::vector<long long>(indices.begin(), indices.end()));

    ASSERT_FALSE(progressSeen.empty());
    EXPECT_EQ(progressSeen.front(), 0);
    EXPECT_EQ(progressSeen.back(), 100);
    for (std::size_t i = 1; i < progressSeen.size(); ++i) {
        EXPECT_GE(progressSeen[i], progressSeen[i - 1]);
        EXPECT_LE(progressSeen[i] - progressSeen[i - 1], 1 + (progressSeen[i] == 100 ? 99 : 0));
    }
}

TEST_F(VfwSave, AbortLeavesAFinishedPartialFile) {
    const std::string target = dir.file("aborted.avi");
    abortAt = 50;
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, recordProgress, 2, streams, nullptr),
              AVIERR_USERABORT);
    EXPECT_EQ(progressSeen.back(), 50);
    EXPECT_EQ(probeStream(target, 0, "codec_type"), "video");
    EXPECT_EQ(decodeErrors(target), "");
    std::size_t real = 0;
    for (const Packet& p : probePackets(target)) real += p.size > 0;
    EXPECT_GT(real, 0u);
    EXPECT_LT(real, indices.size());
}

TEST_F(VfwSave, UnwritableTargetGivesAnErrorCode) {
    EXPECT_EQ(AVISaveV(dir.file("no/such/dir.avi").c_str(), nullptr, nullptr, 2, streams, nullptr),
              AVIERR_FILEOPEN);
    EXPECT_EQ(AVISaveV(dir.path().c_str(), nullptr, nullptr, 2, streams, nullptr), AVIERR_FILEOPEN);
    // Never over an existing file, not even a device.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(AVISaveV("/dev/full", nullptr, nullptr, 2, streams, nullptr), AVIERR_FILEOPEN);
    }
}

// A disk that fills during the save: the error says why, and neither the
// part written nor an empty file stays behind.
TEST_F(VfwSave, FullDiskLeavesNothingAndSaysWhy) {
    test::SmallDisk disk(64);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    const std::string target = disk.Folder() + "full.avi";
    EXPECT_EQ(AVISaveV(target.c_str(), nullptr, recordProgress, 2, streams, nullptr),
              AVIERR_FILEWRITE);
    EXPECT_EQ(AVIGetLastSystemError(), ENOSPC);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(disk.Leftovers().empty());
    // The end was never reported: the file was never complete.
    EXPECT_TRUE(progressSeen.empty() || progressSeen.back() < 100);

    ASSERT_TRUE(disk.Resize(16384));
    ASSERT_EQ(AVISaveV(target.c_str(), nullptr, recordProgress, 2, streams, nullptr), AVIERR_OK);
    EXPECT_EQ(progressSeen.back(), 100);
    EXPECT_EQ(decodeErrors(target), "");
}

TEST_F(VfwSave, OneStreamWhenThereIsNoAudio) {
    const std::string target = dir.file("silent.avi");
    ASSERT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, streams, nullptr), AVIERR_OK);
    EXPECT_EQ(probeStream(target, 0, "codec_type"), "video");
    EXPECT_EQ(probeStream(target, 1, "codec_type"), "");
}

TEST(VfwOpen, ReadsAviAndWavAndNamesWhatFails) {
    TempDir dir;
    PAVISTREAM stream = nullptr;
    EXPECT_EQ(openStream(dir.file("missing.avi"), &stream), AVIERR_FILEOPEN);
    EXPECT_EQ(stream, nullptr);

    const std::string garbage = dir.file("garbage.avi");
    std::ofstream(garbage) << std::string(4096, 'x');
    EXPECT_EQ(openStream(garbage, &stream), AVIERR_BADFORMAT);

    const std::string wav = dir.file("a.wav");
    writeWav(wav, 0.5);
    ASSERT_EQ(openStream(wav, &stream), AVIERR_OK);
    AVISTREAMINFO info{};
    EXPECT_EQ(AVIStreamInfo(stream, &info, sizeof(info)), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    AVIStreamRelease(stream);
    stream = nullptr;
    EXPECT_EQ(openStream(wav, &stream, streamtypeVIDEO), AVIERR_NODATA);
    EXPECT_EQ(stream, nullptr);
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::uint32_t getU32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, &bytes[at], 4);
    return value;
}

void setU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
}

#if defined(__SANITIZE_ADDRESS__)
std::atomic<bool> watching{false};
std::atomic<std::size_t> largestAllocation{0};

void onAllocation(const volatile void*, std::size_t size) {
    if (!watching.load(std::memory_order_relaxed)) return;
    std::size_t seen = largestAllocation.load(std::memory_order_relaxed);
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
}
void onFree(const volatile void*) {}
#endif

// Opens as the merge does; *largest is the largest single allocation made
// meanwhile, seen through the sanitizer's allocator (0 in a build without one).
HRESULT openStreamWatched(const std::string& path, PAVISTREAM* stream, std::size_t* largest) {
#if defined(__SANITIZE_ADDRESS__)
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onAllocation, onFree);
    (void)installed;
    largestAllocation = 0;
    watching = true;
#endif
    const HRESULT hr = openStream(path, stream);
#if defined(__SANITIZE_ADDRESS__)
    watching = false;
    *largest = largestAllocation;
#else
    *largest = 0;
#endif
    return hr;
}

// The samples of the sound file at path, -1 when it does not open.
std::int64_t soundLength(const std::string& path) {
    PAVISTREAM stream = nullptr;
    if (openStream(path, &stream) != AVIERR_OK) return -1;
    AVISTREAMINFO info{};
    const HRESULT hr = AVIStreamInfo(stream, &info, sizeof(info));
    AVIStreamRelease(stream);
    return hr == AVIERR_OK ? std::int64_t{info.dwLength} : -1;
}

// A hundred bytes whose INFO list and the chunk after its tags claim
// gigabytes made the demuxers allocate and clear that much before they found
// the file short.
TEST(VfwOpen, RefusesAnInfoListLongerThanTheFile) {
    TempDir dir;
    PAVISTREAM stream = nullptr;
    std::size_t largest = 0;
    const std::string broken = dir.file("broken");

    // A sound file with an INFO list before its data, as other programs write them.
    const std::string plain = dir.file("plain.wav");
    writeWav(plain, 0.5);
    std::string wav = readBytes(plain);
    const std::string list("LIST\x12\0\0\0INFOISFT\x06\0\0\0Lavf\0\0", 26);
    wav.insert(36, list);
    setU32(wav, 4, static_cast<std::uint32_t>(wav.size() - 8));
    writeBytes(dir.file("tagged.wav"), wav);
    EXPECT_EQ(soundLength(dir.file("tagged.wav")), 11025);

    std::string bytes = wav;
    setU32(bytes, 36 + 4, 0xFC000024u);
    setU32(bytes, 36 + list.size() + 4, 0x7456DC72u);  // the data chunk's
    writeBytes(broken, bytes);
    EXPECT_EQ(openStreamWatched(broken, &stream, &largest), AVIERR_BADFORMAT);
    EXPECT_EQ(stream, nullptr);
    EXPECT_LT(largest, std::size_t{16} << 20);

    // A list at the end of the file that was cut short costs no memory: the
    // sound in front of it still opens.
    wav.erase(36, list.size());
    wav.append(list.substr(0, list.size() - 2));
    writeBytes(dir.file("cut.wav"), wav);
    EXPECT_EQ(soundLength(dir.file("cut.wav")), 11025);

    // The video file the recorder writes carries an INFO list in its header.
    const std::string avi = dir.file("video.avi");
    WriteSetup setup;
    setup.handler = MakeFourCC('M', 'J', 'P', 'G');
    ASSERT_EQ(writeVideo(avi, setup, {0, 1, 2}), AVIERR_OK);
    ASSERT_EQ(openStream(avi, &stream), AVIERR_OK);
    AVIStreamRelease(stream);
    stream = nullptr;
    bytes = readBytes(avi);
    ASSERT_NE(bytes.find("INFO"), std::string::npos);
    const std::size_t infoAt = bytes.find("INFO") - 8;
    ASSERT_EQ(bytes.compare(infoAt, 4, "LIST"), 0);
    const std::size_t after = infoAt + 8 + getU32(bytes, infoAt + 4);
    ASSERT_LT(after + 8, bytes.size());
    setU32(bytes, infoAt + 4, 0xFFFFFFF0u);
    setU32(bytes, after + 4, 0x7456DC72u);
    writeBytes(broken, bytes);
    EXPECT_EQ(openStreamWatched(broken, &stream, &largest), AVIERR_BADFORMAT);
    EXPECT_LT(largest, std::size_t{16} << 20);
}

}  // namespace
// A sparse sound file of a little over 4 GiB whose header holds 0xFFFFFFFF
// sizes, as the recorder leaves one: the stream is as long as the file.
std::string WriteSparseWavOver4GiB(const std::string& file) {
    const std::uint32_t f32[] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    unsigned char header[46] = {'R',  'I',  'F',  'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f',
                                'm',  't',  ' ',  18,  0, 0, 0, 1, 0,   2,   0,  // PCM, stereo
                                0x80, 0xBB, 0,    0,                             // 48000 Hz
                                0x00, 0xEE, 0x02, 0,          // 192000 bytes a second
                                4,    0,    16,   0,   0, 0,  // block 4, 16 bits, cbSize
                                'd',  'a',  't',  'a', 0, 0, 0, 0};
    std::memcpy(header + 4, &f32[0], 4);
    std::memcpy(header + 42, &f32[1], 4);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(header), 46);
    std::filesystem::resize_file(file, 46 + (std::uint64_t{1} << 32) + 10 * 192000);
    return file;
}

TEST(VfwOpen, SoundPastFourGibibytesReadsToTheEndOfTheFile) {
    TempDir dir;
    const std::string wav = WriteSparseWavOver4GiB(dir.file("long.wav"));
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(openStream(wav, &stream), AVIERR_OK);
    AVISTREAMINFO info{};
    EXPECT_EQ(AVIStreamInfo(stream, &info, sizeof(info)), AVIERR_OK);
    EXPECT_EQ(info.dwLength, ((std::uint64_t{1} << 32) + 10 * 192000) / 4);
    AVIStreamRelease(stream);
}

// The whole copy of such a file writes more than 4 GiB (about a minute
// here): run by hand with --gtest_also_run_disabled_tests.
TEST(VfwOpen, DISABLED_SoundPastFourGibibytesMergesWhole) {
    TempDir dir;
    const std::string wav = WriteSparseWavOver4GiB(dir.file("long.wav"));
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(openStream(wav, &stream), AVIERR_OK);
    const std::string target = dir.file("long.avi");
    ASSERT_EQ(AVISaveV(target.c_str(), nullptr, nullptr, 1, &stream, nullptr), AVIERR_OK);
    AVIStreamRelease(stream);
    // Every byte of sound is in the file (ffprobe's duration of PCM in AVI
    // is an estimate).
    EXPECT_GT(std::filesystem::file_size(target), (std::uint64_t{1} << 32) + 10 * 192000);
}

}  // namespace velmora::vfwtest
