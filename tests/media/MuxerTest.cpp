// The muxer writes a recording's file under ".part", as the user's alone,
// and gives it its name at the end without replacing anything; what it
// leaves when the program dies plays.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/encode/SoundEncoder.h"
#include "engine/mux/Muxer.h"
#include "tests/media/MediaTestSupport.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnv.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace velmora::mediatest {
namespace {

using engine::Muxer;
using engine::MuxerFault;
using engine::MuxerStream;
using engine::PcmFormat;
using engine::SoundEncoder;

namespace fs = std::filesystem;

std::string Tag(const std::string& file, int index, const char* tag) {
    std::string value =
        test::capture("ffprobe -v error -select_streams " + std::to_string(index) +
                      " -show_entries stream_tags=" + tag + " -of csv=p=0 '" + file + "'");
    while (!value.empty() && value.back() == '\n') value.pop_back();
    return value;
}

class MuxerEach : public ::testing::TestWithParam<OutputFormat> {};

TEST_P(MuxerEach, WritesUnderPartAsTheUsersAloneAndNamesTheFileAtTheEnd) {
    Folder folder;
    const std::string target = folder.file("take" + FormatExtension(GetParam()));
    Recording recording(GetParam());
    MuxerFault fault;
    const ::mode_t mask = ::umask(0);  // the file is private whatever the umask
    std::unique_ptr<Muxer> muxer = Muxer::Create(target, GetParam(), recording.streams, fault);
    ::umask(mask);
    ASSERT_TRUE(muxer) << fault.kind << " " << fault.systemError;
    EXPECT_EQ(muxer->PartPath(), target + ".part");
    ASSERT_EQ(recording.WriteAll(*muxer, 2.0), 0);

    // While it is written: under ".part", 0600, locked against another
    // copy's search for interrupted recordings.
    struct stat st {};
    ASSERT_EQ(::stat(muxer->PartPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(fs::exists(target));
    const int other = ::open(muxer->PartPath().c_str(), O_RDONLY);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), -1);
    ::close(other);
    EXPECT_GT(muxer->Size(), 0);

    ASSERT_TRUE(muxer->Finish()) << muxer->SystemError();
    EXPECT_TRUE(fs::exists(target));
    EXPECT_FALSE(fs::exists(target + ".part"));
    EXPECT_EQ(Probe(target, 0, "codec_name"), "mpeg4");
    EXPECT_EQ(DecodedFrames(target), 20);
    // MP4 names a track by its handler.
    EXPECT_EQ(Tag(target, 1, GetParam() == OutputFormat::Mp4 ? "handler_name" : "title"),
              "Microphone");
    // The sound lasts as long as it was sent; FFmpeg's reader plays AAC's
    // priming in a fragmented MP4 (its edit list is not applied there).
    const double priming = GetParam() == OutputFormat::Mp4 ? 1024.0 / 44100 : 0.0;
    EXPECT_NEAR(DecodedSoundSeconds(target), 2.0 + priming, 0.03);
}

// What an abandoned recording leaves: the file as written so far, which plays
// to where it stopped (AVI without its index, MP4 to its last
// fragment, Matroska to its last cluster).
TEST_P(MuxerEach, AnAbandonedFilePlaysToAboutWhereItStopped) {
    Folder folder;
    const std::string target = folder.file("killed" + FormatExtension(GetParam()));
    Recording recording(GetParam(), 30);
    MuxerFault fault;
    std::unique_ptr<Muxer> muxer = Muxer::Create(target, GetParam(), recording.streams, fault);
    ASSERT_TRUE(muxer);
    ASSERT_EQ(recording.WriteAll(*muxer, 3.0), 0);
    muxer->Abandon();
    EXPECT_FALSE(fs::exists(target));
    ASSERT_TRUE(fs::exists(target + ".part"));
    // Nothing the muxer held back is lost: not Matroska's open cluster, not
    // MP4's open fragment.
    EXPECT_EQ(DecodedFrames(target + ".part"), 30);
}

INSTANTIATE_TEST_SUITE_P(Containers, MuxerEach,
                         ::testing::Values(OutputFormat::Avi, OutputFormat::Mp4, OutputFormat::Mkv),
                         [](const auto& info) { return FormatKey(info.param); });

TEST(Muxer, NeverFollowsALinkNorReplacesAFile) {
    Folder folder;
    const std::string target = folder.file("take.mkv");
    Recording recording(OutputFormat::Mkv);

    // A link planted where the part goes: refused, its target untouched.
    const std::string victim = folder.file("victim");
    std::ofstream(victim) << "keep";
    fs::create_symlink(victim, target + ".part");
    MuxerFault fault;
    EXPECT_FALSE(Muxer::Create(target, OutputFormat::Mkv, recording.streams, fault));
    EXPECT_EQ(fault.kind, MuxerFault::Create);
    EXPECT_EQ(fs::file_size(victim), 4u);
    fs::remove(target + ".part");

    // A file that took the name while recording stays; the recording stays
    // in its part.
    std::unique_ptr<Muxer> muxer =
        Muxer::Create(target, OutputFormat::Mkv, recording.streams, fault);
    ASSERT_TRUE(muxer);
    ASSERT_EQ(recording.WriteAll(*muxer, 2.0), 0);
    std::ofstream(target) << "someone else's";
    EXPECT_FALSE(muxer->Finish());
    EXPECT_EQ(muxer->SystemError(), EEXIST);
    EXPECT_EQ(fs::file_size(target), 14u);
    EXPECT_EQ(DecodedFrames(target + ".part"), 20);
}

TEST(Muxer, StreamsTheContainerCannotTakeLeaveNothing) {
    Folder folder;
    const std::string target = folder.file("pcm.mp4");
    Recording recording(OutputFormat::Avi);  // its sound is PCM, which MP4 does not take
    MuxerFault fault;
    EXPECT_FALSE(Muxer::Create(target, OutputFormat::Mp4, recording.streams, fault));
    EXPECT_EQ(fault.kind, MuxerFault::Streams);
    EXPECT_TRUE(fs::is_empty(fs::path(target).parent_path()));
}

TEST(Muxer, AFullDiskIsToldAsSuch) {
    test::SmallDisk disk(128);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    const std::string target = disk.Folder() + "full.avi";
    Recording recording(OutputFormat::Avi);
    MuxerFault fault;
    std::unique_ptr<Muxer> muxer =
        Muxer::Create(target, OutputFormat::Avi, recording.streams, fault);
    ASSERT_TRUE(muxer);
    // 176 kB of sound a second: more than the disk holds.
    const int written = recording.WriteAll(*muxer, 2.0);
    const bool finished = written == 0 && muxer->Finish();
    EXPECT_FALSE(finished);
    EXPECT_EQ(muxer->SystemError(), ENOSPC);
    EXPECT_FALSE(fs::exists(target));
}

}  // namespace
}  // namespace velmora::mediatest
