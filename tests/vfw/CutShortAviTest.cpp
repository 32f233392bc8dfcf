// A recording the disk cut short is finished from what it holds: its whole
// chunks, an index with the codec's key flags, and the header's counts, so
// that readers see the beginning of the recording as it was written.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/vfw/CutShortAvi.h"
#include "tests/support/SmallDisk.h"
#include "tests/vfw/VfwTestSupport.h"

namespace velmora::vfwtest {
namespace {

namespace fs = std::filesystem;
using vfw::FinishCutShortAvi;

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// A whole recording of 30 frames with a key frame every fifth, and the file
// as a full disk leaves it: the first `keep` bytes, with the sizes the muxer
// writes at its end still open.
struct Recording {
    std::string whole;
    std::vector<Packet> packets;
    std::vector<bool> keyFrames;  // of the non-empty chunks, in order
    std::size_t moviAt = 0;

    explicit Recording(const TempDir& dir) : whole(dir.file("whole.avi")) {
        WriteSetup setup;
        setup.handler = MakeFourCC('X', 'V', 'I', 'D');
        EXPECT_EQ(writeVideo(whole, setup, gappyIndices(30)), AVIERR_OK);
        packets = probePackets(whole);
        for (const Packet& p : packets)
            if (p.size > 0) keyFrames.push_back(p.key);
        moviAt = ReadAll(whole).find("movi");
    }

    std::string CutAt(const std::string& to, std::size_t keep) const {
        std::string bytes = ReadAll(whole).substr(0, keep);
        PutLe32(bytes, 4, 0xFFFFFFFFu);
        PutLe32(bytes, moviAt - 4, 0xFFFFFFFFu);
        std::ofstream(to, std::ios::binary | std::ios::trunc) << bytes;
        return to;
    }
};

vfw::CutShortResult Finish(const std::string& file, const std::vector<bool>& keys) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0) << file;
    const vfw::CutShortResult result = FinishCutShortAvi(fd, keys);
    ::close(fd);
    return result;
}

// What a reader sees of a finished file is the recording's beginning:
// frame for frame with its times and key flags, every slot (empty ones of
// the gaps too) counted in the header and indexed at the end.
void ExpectBeginningOf(const Recording& r, const std::string& file, std::int64_t chunks) {
    const std::vector<Packet> read = probePackets(file);
    ASSERT_FALSE(read.empty()) << file;
    ASSERT_LE(read.size(), r.packets.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].pts, r.packets[i].pts) << i;
        EXPECT_EQ(read[i].size, r.packets[i].size) << i;
        EXPECT_EQ(read[i].key, r.packets[i].key) << i;
    }
    EXPECT_LT(read.back().pts, chunks);
    if (read.size() < r.packets.size()) {
        EXPECT_LE(chunks, r.packets[read.size()].pts);
    }
    EXPECT_EQ(probeStream(file, 0, "nb_frames"), std::to_string(chunks));
    EXPECT_EQ(decodeErrors(file), "");
    const std::string bytes = ReadAll(file);
    const std::size_t index = 8 + 16 * static_cast<std::size_t>(chunks);
    ASSERT_GE(bytes.size(), index);
    EXPECT_EQ(bytes.substr(bytes.size() - index, 4), "idx1");
}

TEST(CutShortAvi, FinishedAtAnyCutItIsTheRecordingsBeginning) {
    TempDir dir;
    const Recording r(dir);
    ASSERT_GT(r.moviAt, 0u);
    ASSERT_EQ(r.packets.size(), 30u);
    const std::size_t size = fs::file_size(r.whole);
    // Inside the first chunk's header or data: nothing whole.
    for (const std::size_t keep : {r.moviAt + 4 + 3, r.moviAt + 4 + 8 + 100}) {
        const vfw::CutShortResult result = Finish(r.CutAt(dir.file("cut.avi"), keep), r.keyFrames);
        EXPECT_TRUE(result.finished) << keep;
        EXPECT_EQ(result.chunks, 0) << keep;
    }
    // Later, and right at the end of the last chunk.
    for (const std::size_t keep : {size / 3, size / 2, size * 9 / 10, size - 8 - 16 * 51}) {
        SCOPED_TRACE(keep);
        const std::string file = r.CutAt(dir.file("cut.avi"), keep);
        const vfw::CutShortResult result = Finish(file, r.keyFrames);
        ASSERT_TRUE(result.finished) << std::strerror(result.error);
        ExpectBeginningOf(r, file, result.chunks);
    }
    // 30 frames and the 21 empty slots of the gaps.
    EXPECT_EQ(Finish(r.CutAt(dir.file("cut.avi"), size - 8 - 16 * 51), r.keyFrames).chunks, 51);
}

TEST(CutShortAvi, AFinishedFileIsLeftAlone) {
    TempDir dir;
    const Recording r(dir);
    const std::string before = ReadAll(r.whole);
    const vfw::CutShortResult result = Finish(r.whole, r.keyFrames);
    EXPECT_FALSE(result.finished);
    EXPECT_EQ(ReadAll(r.whole), before);
}

// The disk has no room for the index: frames from the end give it theirs.
TEST(CutShortAvi, AnIndexWithoutRoomTakesTheLastFramesPlace) {
    test::SmallDisk disk(1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    TempDir dir;
    const Recording r(dir);
    const std::size_t keep = fs::file_size(r.whole) * 9 / 10;
    const std::string file = r.CutAt(disk.Folder() + "cut.avi", keep);
    {
        // Every byte of the disk taken.
        std::ofstream filler(disk.Folder() + "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
        }
    }
    const vfw::CutShortResult result = Finish(file, r.keyFrames);
    ASSERT_TRUE(result.finished) << std::strerror(result.error);
    const vfw::CutShortResult roomy = Finish(r.CutAt(dir.file("roomy.avi"), keep), r.keyFrames);
    EXPECT_GT(result.chunks, 0);
    EXPECT_LT(result.chunks, roomy.chunks);
    ExpectBeginningOf(r, file, result.chunks);
}

}  // namespace
}  // namespace velmora::vfwtest
