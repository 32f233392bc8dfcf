// A recording's file its writer never finished is made whole in its own
// container, without what the disk holds only part of; anything else is
// refused and left as it is.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/mux/FinishPart.h"
#include "tests/media/MediaTestSupport.h"
#include "tests/support/TestEnv.h"

namespace velmora::mediatest {
namespace {

using engine::FinishPart;
using engine::Muxer;
using engine::MuxerFault;
using engine::PartFinish;

namespace fs = std::filesystem;

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// What a killed recording leaves: three seconds written, no end.
std::string WriteAbandoned(const std::string& target, OutputFormat format) {
    Recording recording(format, 30);
    MuxerFault fault;
    std::unique_ptr<Muxer> muxer = Muxer::Create(target, format, recording.streams, fault);
    EXPECT_TRUE(muxer);
    if (!muxer) return {};
    EXPECT_EQ(recording.WriteAll(*muxer, 3.0), 0);
    muxer->Abandon();
    return target + ".part";
}

// One line per packet of a stream: its time and size.
std::string Packets(const std::string& file, const char* stream) {
    return test::capture(std::string("ffprobe -v error -select_streams ") + stream +
                         " -show_entries packet=pts,size -of csv=p=0 '" + file + "'");
}

class FinishPartEach : public ::testing::TestWithParam<OutputFormat> {};

// Cut in the middle of a packet, as a kill leaves it: the file holds every
// whole packet before the cut, unchanged, with its container's end.
TEST_P(FinishPartEach, ACutShortFileIsFinishedUpToItsLastWholePacket) {
    Folder folder;
    const std::string target =
        folder.file("VideoRecord_20240131_142503" + FormatExtension(GetParam()));
    const std::string part = WriteAbandoned(target, GetParam());
    ASSERT_FALSE(part.empty());
    const std::string whole = folder.file("whole.part");
    fs::copy_file(part, whole);
    const auto size = fs::file_size(part);
    ASSERT_EQ(::truncate(part.c_str(), static_cast<off_t>(size * 3 / 4 + 7)), 0);

    std::vector<int> progress;
    const PartFinish done = FinishPart(part, target, [&](int percent) {
        progress.push_back(percent);
        return true;
    });
    ASSERT_EQ(done.kind, PartFinish::Finished) << done.reason;
    EXPECT_FALSE(fs::exists(part));
    EXPECT_FALSE(fs::exists(target + ".finishing"));
    ASSERT_FALSE(progress.empty());
    EXPECT_LE(progress.back(), 99);

    // Every packet it holds is one of the whole file's, in order and whole.
    for (const char* stream : {"v:0", "a:0"}) {
        const std::string finished = Packets(target, stream), all = Packets(whole, stream);
        ASSERT_FALSE(finished.empty()) << stream;
        EXPECT_EQ(all.rfind(finished, 0), 0u) << stream << ":\n" << finished << "\n--\n" << all;
    }
    EXPECT_GE(DecodedFrames(target), 10);
    EXPECT_GT(done.seconds, 1.0);
    // Its end is written: the length is in its header.
    const std::string duration = test::capture(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + target + "'");
    EXPECT_NEAR(std::atof(duration.c_str()), done.seconds, 0.3) << duration;
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Containers, FinishPartEach,
                         ::testing::Values(OutputFormat::Avi, OutputFormat::Mp4, OutputFormat::Mkv),
                         [](const auto& info) { return FormatKey(info.param); });

// Nothing that is not a recording's own unfinished file is taken: not
// opened when it could hold the reader (a pipe), never followed (a link),
// not taken from a recording that still writes it. Each stays as it was and
// no file is made.
TEST(FinishPart, RefusesWhatIsNoRecordingOfOursAndLeavesItAsItIs) {
    Folder folder;
    const auto refused = [&](const std::string& part, const std::string& why) {
        const std::string target = part.substr(0, part.size() - 5);
        const PartFinish done = FinishPart(part, target);
        EXPECT_EQ(done.kind, PartFinish::Refused) << part;
        EXPECT_NE(done.reason.find(why), std::string::npos) << part << ": " << done.reason;
        EXPECT_FALSE(fs::exists(target)) << part;
        EXPECT_FALSE(fs::exists(target + ".finishing")) << part;
    };

    const std::string garbage = folder.file("VideoRecord_20240131_142500.mp4.part");
    std::ofstream(garbage) << "912 MB of something else";
    refused(garbage, "not a recording's file");
    EXPECT_EQ(Contents(garbage), "912 MB of something else");

    // Matroska under an MP4's name.
    const std::string matroska = WriteAbandoned(folder.file("other.mkv"), OutputFormat::Mkv);
    const std::string misnamed = folder.file("VideoRecord_20240131_142501.mp4.part");
    fs::rename(matroska, misnamed);
    refused(misnamed, "not MP4");

    const std::string pipe = folder.file("VideoRecord_20240131_142502.mkv.part");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    refused(pipe, "a named pipe");

    const std::string elsewhere = WriteAbandoned(folder.file("elsewhere.avi"), OutputFormat::Avi);
    const std::string before = Contents(elsewhere);
    const std::string link = folder.file("VideoRecord_20240131_142503.avi.part");
    fs::create_symlink(elsewhere, link);
    refused(link, "a symbolic link");
    EXPECT_EQ(Contents(elsewhere), before);

    // A recording still being written holds its file locked.
    const std::string running = folder.file("VideoRecord_20240131_142504.mkv");
    Recording recording(OutputFormat::Mkv);
    MuxerFault fault;
    std::unique_ptr<Muxer> muxer =
        Muxer::Create(running, OutputFormat::Mkv, recording.streams, fault);
    ASSERT_TRUE(muxer);
    ASSERT_EQ(recording.WriteAll(*muxer, 2.0), 0);
    refused(muxer->PartPath(), "a running recording writes it");
    EXPECT_TRUE(muxer->Finish());
    EXPECT_EQ(DecodedFrames(running), 20);

    refused(folder.file("VideoRecord_20240131_142505.webm.part"), "not the name");

    // Another user's file, planted in a folder both can write.
    if (::geteuid() == 0) {
        const std::string foreign = folder.file("VideoRecord_20240131_142506.avi.part");
        fs::copy_file(elsewhere, foreign);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
        refused(foreign, "not of this user");
        EXPECT_EQ(Contents(foreign), before);
    }
}

// Cancelled (the user, or the program going away): nothing is left of the
// new file, and the part stays for the next start. A file at the target is
// never replaced; what a killed finish left under its working name goes.
TEST(FinishPart, ACancelOrATakenNameLeavesThePartAsItIs) {
    Folder folder;
    const std::string target = folder.file("VideoRecord_20240131_142503.mp4");
    const std::string part = WriteAbandoned(target, OutputFormat::Mp4);
    const std::string before = Contents(part);

    std::ofstream(target + ".finishing") << "a killed finish's start";
    PartFinish done = FinishPart(part, target, [](int) { return false; });
    EXPECT_EQ(done.kind, PartFinish::Cancelled);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(target + ".finishing"));
    EXPECT_EQ(Contents(part), before);

    std::ofstream(target) << "someone else's";
    done = FinishPart(part, target);
    EXPECT_EQ(done.kind, PartFinish::Failed);
    EXPECT_EQ(done.systemError, EEXIST);
    EXPECT_EQ(Contents(target), "someone else's");
    EXPECT_FALSE(fs::exists(target + ".finishing"));
    EXPECT_EQ(Contents(part), before);
}

}  // namespace
}  // namespace velmora::mediatest
