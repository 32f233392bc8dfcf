#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "audio/WaveStorage.h"

using namespace velmora::audio;

namespace {

WAVEFORMATEX format(unsigned value) {
    WAVEFORMATEX r{};
    FillPCMFormat(r, value);
    return r;
}

std::uint32_t u32(const std::vector<std::uint8_t>& d, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, d.data() + at, 4);
    return v;
}
std::string tag(const std::vector<std::uint8_t>& d, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(d.data() + at), 4);
}

// Writes n bytes of a counting pattern in uneven pieces.
void record(TWaveStreamAdapter& w, std::uint32_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    std::uint32_t done = 0;
    for (std::uint32_t piece = 1; done < n; piece = piece * 3 + 1) {
        const std::uint32_t take = std::min(piece, n - done);
        ASSERT_EQ(w.Write(bytes.data() + done, take), take);
        done += take;
    }
}

struct Case {
    unsigned format;
    std::uint32_t n, riffSize, fileSize;
};

}  // namespace

TEST(WaveStorage, FinishedFileLayoutAndSizes) {
    for (const Case c :
         {Case{3, 32000, 32038, 32046}, Case{3, 0, 38, 46}, Case{5, 11025, 11064, 11072}}) {
        SCOPED_TRACE(c.n);
        TMemoryStream stream;
        TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
        const WAVEFORMATEX f = format(c.format);
        ASSERT_TRUE(w.BeginRewrite(&f));
        EXPECT_EQ(stream.Size(), 46);
        record(w, c.n);
        ASSERT_TRUE(w.EndRewrite());

        const auto& d = stream.Data();
        ASSERT_EQ(d.size(), c.fileSize);
        EXPECT_EQ(tag(d, 0), "RIFF");
        EXPECT_EQ(u32(d, 4), c.riffSize);
        EXPECT_EQ(c.riffSize + 8, c.fileSize);  // the pad byte of odd data is there
        EXPECT_EQ(tag(d, 8), "WAVE");
        EXPECT_EQ(tag(d, 12), "fmt ");
        EXPECT_EQ(u32(d, 16), 18u);
        EXPECT_EQ(std::memcmp(d.data() + 20, &f, 18), 0);
        EXPECT_EQ(tag(d, 38), "data");
        EXPECT_EQ(u32(d, 42), c.n);
        for (std::uint32_t i = 0; i < c.n; ++i)
            if (d[46 + i] != static_cast<std::uint8_t>(i * 7)) FAIL() << "byte " << i;
        EXPECT_TRUE(w.Valid());
        EXPECT_EQ(w.DataOffset(), 46u);
        EXPECT_EQ(w.DataSize(), c.n);
        EXPECT_EQ(w.Length(), DurationForBytes(f, c.n));
    }
}

TEST(WaveStorage, RewriteCutsOlderContentAndRefusesASecondBegin) {
    TMemoryStream stream;
    stream.Data().assign(100000, 0xEE);
    TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
    const WAVEFORMATEX f = format(3);
    ASSERT_TRUE(w.BeginRewrite(&f));
    record(w, 10);
    const auto before = stream.Data();
    EXPECT_FALSE(w.BeginRewrite(&f));
    EXPECT_EQ(stream.Data(), before);
    EXPECT_FALSE(w.BeginRead());
    ASSERT_TRUE(w.EndRewrite());
    EXPECT_EQ(stream.Size(), 56);
    EXPECT_FALSE(w.EndRewrite());
    EXPECT_EQ(w.Write("x", 1), -1);

    ASSERT_TRUE(w.BeginRead());
    std::uint8_t back[10];
    EXPECT_EQ(w.Read(back, 10), 10);
    EXPECT_EQ(back[3], 21);
    EXPECT_TRUE(w.EndRead());
}

TEST(WaveStorage, DestroyingAWritingAdapterFinishesAndFreesTheStream) {
    static bool freed = false;
    struct Tracked : TMemoryStream {
        std::vector<std::uint8_t>* out;
        ~Tracked() override {
            *out = Data();
            freed = true;
        }
    };
    std::vector<std::uint8_t> final;
    auto* stream = new Tracked;
    stream->out = &final;
    {
        TWaveStreamAdapter w(stream, TStreamOwnership::soOwned);
        const WAVEFORMATEX f = format(5);
        ASSERT_TRUE(w.BeginRewrite(&f));
        record(w, 3);
    }
    EXPECT_TRUE(freed);
    ASSERT_EQ(final.size(), 50u);
    EXPECT_EQ(u32(final, 4), 42u);  // the pad byte counted and kept
    EXPECT_EQ(u32(final, 42), 3u);
}

TEST(WaveStorage, ShortWritesAreReported) {
    TMemoryStream stream;
    stream.WriteLimit = 50;
    TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
    const WAVEFORMATEX f = format(3);
    ASSERT_TRUE(w.BeginRewrite(&f));
    EXPECT_EQ(w.Write("abcdefgh", 8), 4);
    EXPECT_EQ(w.Write("abcdefgh", 8), -1);
    stream.WriteLimit = 10;
    TMemoryStream small;
    small.WriteLimit = 20;
    TWaveStreamAdapter noRoom(&small, TStreamOwnership::soReference);
    EXPECT_FALSE(noRoom.BeginRewrite(&f));
    EXPECT_EQ(noRoom.State(), TWaveStreamState::wssNone);
}

namespace {
// Fails every write into the header once armed, as a disk that filled up.
struct HeaderRefusingStream : TMemoryStream {
    bool armed = false;
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        if (armed && Position() < 46) throw EStreamError("Write error", ENOSPC);
        return TMemoryStream::Write(buffer, count);
    }
};
}  // namespace

TEST(WaveStorage, AFailedFinishIsReportedWithItsReason) {
    const WAVEFORMATEX f = format(5);
    {
        SCOPED_TRACE("pad byte");
        TMemoryStream stream;
        TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
        ASSERT_TRUE(w.BeginRewrite(&f));
        record(w, 11);
        stream.WriteLimit = stream.Size();
        EXPECT_FALSE(w.EndRewrite());
        EXPECT_EQ(w.WriteError(), EIO);
    }
    {
        SCOPED_TRACE("sizes");
        HeaderRefusingStream stream;
        TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
        ASSERT_TRUE(w.BeginRewrite(&f));
        record(w, 12);
        stream.armed = true;
        EXPECT_FALSE(w.EndRewrite());
        EXPECT_EQ(w.WriteError(), ENOSPC);
        // A new file starts without the old failure.
        stream.armed = false;
        ASSERT_TRUE(w.BeginRewrite(&f));
        EXPECT_TRUE(w.EndRewrite());
        EXPECT_EQ(w.WriteError(), 0);
    }
}

TEST(WaveStorage, ReadsBackShortAndTooShortFmtChunks) {
    auto build = [](std::uint32_t fmtSize) {
        std::vector<std::uint8_t> d;
        auto put = [&](const void* p, std::size_t n) {
            d.insert(d.end(), static_cast<const std::uint8_t*>(p),
                     static_cast<const std::uint8_t*>(p) + n);
        };
        const std::uint32_t pad = fmtSize & 1, riff = 4 + 8 + fmtSize + pad + 12 + 8 + 4;
        put("RIFF", 4), put(&riff, 4), put("WAVE", 4), put("fmt ", 4), put(&fmtSize, 4);
        WAVEFORMATEX f{};
        FillPCMFormat(f, 4);
        f.cbSize = 0x7777;  // must not show through a 16-byte chunk
        put(&f, fmtSize);
        if (pad) d.push_back(0);
        const std::uint32_t four = 4;
        put("LIST", 4), put(&four, 4), put("abcd", 4);  // a chunk to skip
        put("data", 4), put(&four, 4), put("\1\2\3\4", 4);
        return d;
    };
    TMemoryStream sixteen;
    sixteen.Data() = build(16);
    TWaveStreamAdapter a(&sixteen, TStreamOwnership::soReference);
    ASSERT_TRUE(a.Valid());
    EXPECT_EQ(a.Format()->nChannels, 2);
    EXPECT_EQ(a.Format()->cbSize, 0);
    EXPECT_EQ(a.DataSize(), 4u);
    EXPECT_EQ(a.DataOffset(), sixteen.Data().size() - 4);

    TMemoryStream thirteen;
    thirteen.Data() = build(13);
    TWaveStreamAdapter b(&thirteen, TStreamOwnership::soReference);
    EXPECT_FALSE(b.Valid());
    EXPECT_EQ(b.Format(), nullptr);
    EXPECT_EQ(b.DataSize(), 0u);

    TMemoryStream empty;
    TWaveStreamAdapter c(&empty, TStreamOwnership::soReference);
    EXPECT_FALSE(c.Valid());
}

TEST(WaveStorage, FileStreamRefusesSymlinksAndLockedFiles) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora-wavestorage-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto target = dir / "target.wav", link = dir / "link.wav", file = dir / "a.wav";
    { std::ofstream(target) << "keep"; }
    std::filesystem::create_symlink(target, link);
    EXPECT_THROW(TFileStream(link.string(), TFileStream::fmCreate), EStreamError);
    EXPECT_EQ(std::filesystem::file_size(target), 4u);

    {
        TFileStream first(file.string(), TFileStream::fmCreate);
        first.Write("data", 4);
        EXPECT_THROW(TFileStream(file.string(), TFileStream::fmCreate), EStreamError);
        EXPECT_EQ(std::filesystem::file_size(file), 4u);  // the refused open truncated nothing
        const int fd = ::open(file.c_str(), O_RDONLY);
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);  // what a lock probe sees
        ::close(fd);
    }
    TFileStream again(file.string(), TFileStream::fmCreate);
    EXPECT_EQ(again.Size(), 0);
    // Not the umask's choice: the sound of a recording is the user's alone.
    const mode_t umask = ::umask(022);
    { TFileStream fresh((dir / "fresh.wav").string(), TFileStream::fmCreate); }
    ::umask(umask);
    EXPECT_EQ(std::filesystem::status(dir / "fresh.wav").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_THROW(TFileStream((dir / "no/such/dir.wav").string(), TFileStream::fmCreate),
                 EStreamError);
    std::filesystem::remove_all(dir);
}

namespace {

// Keeps only the header's bytes and counts the rest: a sound file past
// 4 GiB without the disk space.
class HeaderOnlyStream : public TStream {
  public:
    std::int64_t Read(void* buffer, std::int64_t count) override {
        const std::int64_t n = std::max<std::int64_t>(0, std::min(count, size_ - pos_));
        for (std::int64_t i = 0; i < n; ++i)
            static_cast<std::uint8_t*>(buffer)[i] = pos_ + i < 64 ? head[pos_ + i] : 0;
        pos_ += n;
        return n;
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        for (std::int64_t i = 0; i < count && pos_ + i < 64; ++i)
            head[pos_ + i] = static_cast<const std::uint8_t*>(buffer)[i];
        pos_ += count;
        size_ = std::max(size_, pos_);
        return count;
    }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
        pos_ = (origin == TSeekOrigin::soBeginning ? 0
                : origin == TSeekOrigin::soCurrent ? pos_
                                                   : size_) +
               offset;
        return pos_;
    }
    std::int64_t Size() override { return size_; }
    void SetSize(std::int64_t size) override { size_ = size; }
    std::vector<std::uint8_t> head = std::vector<std::uint8_t>(64, 0);

  private:
    std::int64_t pos_ = 0, size_ = 0;
};

}  // namespace

// Over 4 GiB of sound (about 6 hours of 48 kHz stereo): nothing is cut, and
// the sizes the header cannot hold read 0xFFFFFFFF.
TEST(WaveStorage, SoundPastFourGibibytesIsKeptWhole) {
    HeaderOnlyStream stream;
    TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
    const WAVEFORMATEX f = format(20);  // 48 kHz stereo 16-bit
    ASSERT_TRUE(w.BeginRewrite(&f));
    const std::vector<std::uint8_t> second(f.nAvgBytesPerSec, 0);
    const std::int64_t total = (std::int64_t{1} << 32) + 10 * f.nAvgBytesPerSec;
    std::int64_t done = 0;
    for (; done + static_cast<std::int64_t>(second.size()) <= total; done += second.size())
        ASSERT_EQ(w.Write(second.data(), static_cast<std::int64_t>(second.size())),
                  static_cast<std::int64_t>(second.size()));
    ASSERT_TRUE(w.EndRewrite());
    EXPECT_EQ(stream.Size(), 46 + done);
    EXPECT_EQ(u32(stream.head, 4), 0xFFFFFFFFu);
    EXPECT_EQ(u32(stream.head, 42), 0xFFFFFFFFu);
}

// While sound is written, the sizes are brought up to date about every
// tenth of a second of sound: a file whose writer was killed reads to there.
TEST(WaveStorage, SizesFollowTheSoundWhileItIsWritten) {
    TMemoryStream stream;
    TWaveStreamAdapter w(&stream, TStreamOwnership::soReference);
    const WAVEFORMATEX f = format(3);
    ASSERT_TRUE(w.BeginRewrite(&f));
    EXPECT_EQ(u32(stream.Data(), 42), 0u);
    record(w, f.nAvgBytesPerSec / 20);
    EXPECT_EQ(u32(stream.Data(), 42), 0u) << "sizes written before a tenth of a second";
    record(w, 3 * f.nAvgBytesPerSec);
    const std::uint32_t data = u32(stream.Data(), 42);
    EXPECT_GE(data, 3 * f.nAvgBytesPerSec);
    EXPECT_LE(data, static_cast<std::uint32_t>(stream.Size() - 46));
    EXPECT_EQ(u32(stream.Data(), 4), data + 38);
    // Still appended at the end.
    EXPECT_EQ(stream.Size(), 46 + 3 * f.nAvgBytesPerSec + f.nAvgBytesPerSec / 20);
}
