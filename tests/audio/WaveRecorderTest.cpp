#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "audio/WaveRecorders.h"
#include "tests/audio/WaveTestSupport.h"
#include "tests/doubles/FakeWaveDevice.h"
#include "tests/support/SmallDisk.h"

using namespace velmora::audio;
using velmora::test::eventually;
using velmora::test::FakeWaveDevice;
using Call = FakeWaveDevice::Call;
using namespace std::chrono_literals;

namespace {

std::uint32_t u32(const std::vector<std::uint8_t>& d, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, d.data() + at, 4);
    return v;
}

class WaveRecorder : public testing::Test {
  protected:
    FakeWaveDevice fake;
    velmora::test::ReportedErrors errors;
    TStockAudioRecorder rec;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velmora-recorder-" + std::to_string(getpid()));

    void SetUp() override {
        rec.SetDriver(&fake);
        rec.SetAsync(true);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::vector<std::uint8_t> fileBytes(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(WaveRecorder, StoppedInTheThirdBufferKeepsEveryByteOnce) {
    const auto file = dir / "~tempaudio.wav";
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && fake.Started(); }));
    fake.Advance(2000);
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && rec.QueuedBufferCount() == 2; }));
    fake.Feed(7001);  // odd: a pad byte follows, counted in the RIFF size
    rec.SetActive(false);
    ASSERT_TRUE(rec.WaitForInactive(5s));
    EXPECT_THROW(rec.Stop(), EWaveAudioInvalidOperation);

    const auto d = fileBytes(file);
    const std::uint32_t n = 32000 + 7001;
    ASSERT_EQ(d.size(), 46 + n + 1);
    EXPECT_EQ(u32(d, 4) + 8, d.size());
    EXPECT_EQ(u32(d, 42), n);
    for (std::uint32_t i = 0; i < n; ++i)
        if (d[46 + i] != static_cast<std::uint8_t>(i)) FAIL() << "byte " << i;
    EXPECT_EQ(d.back(), 0);
    EXPECT_TRUE(errors.texts().empty());
    EXPECT_EQ(rec.WriteError(), 0);
}

// The sound fits, its pad byte does not: the file is not finished, and the
// owner learns it as of any failed write.
TEST_F(WaveRecorder, FailedFinishOfTheFileIsAWriteError) {
    TMemoryStream stream;
    ASSERT_TRUE(rec.RecordToStream(&stream, TStreamOwnership::soReference));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && fake.Started(); }));
    fake.Advance(1000);
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && rec.QueuedBufferCount() == 2; }));
    ASSERT_TRUE(eventually([&] { return stream.Size() == 46 + 16000; }));
    stream.WriteLimit = 46 + 16000 + 7001;
    fake.Feed(7001);
    rec.SetActive(false);
    ASSERT_TRUE(rec.WaitForInactive(5s));
    EXPECT_EQ(rec.WriteError(), EIO);
}

TEST_F(WaveRecorder, FileErrorsComeBeforeTheDeviceIsTouched) {
    EXPECT_THROW(rec.RecordToFile((dir / "missing/x.wav").string()), EStreamError);
    EXPECT_TRUE(fake.Log().empty());

    const auto file = dir / "held.wav";
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    TStockAudioRecorder second;
    second.SetDriver(&fake);
    EXPECT_THROW(second.RecordToFile(file.string()), EStreamError);
    EXPECT_TRUE(rec.Active());
}

TEST_F(WaveRecorder, RefusedFormatLeavesAnEmptyWaveFile) {
    const auto file = dir / "refused.wav";
    fake.Fail(Call::Query, 32);
    EXPECT_THROW(rec.RecordToFile(file.string()), EWaveAudioSysError);
    auto d = fileBytes(file);
    ASSERT_EQ(d.size(), 46u);
    EXPECT_EQ(u32(d, 4), 38u);
    EXPECT_EQ(u32(d, 42), 0u);

    fake.Fail(Call::Open, 4);  // a failed real open is not thrown
    EXPECT_FALSE(rec.RecordToFile(file.string()));
    EXPECT_EQ(fileBytes(file).size(), 46u);
    EXPECT_FALSE(rec.Active());
    // The file was closed and unlocked on the way.
    EXPECT_NO_THROW(TFileStream(file.string(), TFileStream::fmCreate));
}

TEST_F(WaveRecorder, ShortWritesReleaseTheBuffer) {
    auto* stream = new TMemoryStream;
    stream->WriteLimit = 46 + 10000;
    ASSERT_TRUE(rec.RecordToStream(stream, TStreamOwnership::soOwned));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2; }));
    fake.Advance(1000);
    ASSERT_TRUE(eventually([&] { return errors.texts().size() == 1; }));
    EXPECT_EQ(errors.texts()[0], rec.GetErrorText(1));
    EXPECT_TRUE(eventually([&] { return rec.QueuedBufferCount() == 1; }));
}

TEST_F(WaveRecorder, StockPathAndFreeingDuringARecording) {
    EXPECT_THROW(rec.StartFromStock(0), EWaveAudioInvalidOperation);
    struct Storage : TCustomWaveStorage {
        TMemoryStream stream;
        TStream* GetWaveStream(int) override { return &stream; }
        int GetWaveCount() override { return 1; }
    };
    {
        Storage storage;
        rec.SetStock(&storage);
        rec.SetActive(true);
        ASSERT_TRUE(eventually([&] { return fake.Queued() == 2; }));
        fake.Feed(100);
        rec.SetActive(false);
        ASSERT_TRUE(rec.WaitForInactive(5s));
        EXPECT_EQ(storage.stream.Size(), 146);
    }
    EXPECT_EQ(rec.Stock(), nullptr);  // the storage went away

    auto owned = std::make_unique<TStockAudioRecorder>();
    owned->SetDriver(&fake);
    owned->SetAsync(true);
    int deactivated = 0;
    owned->OnDeactivate = [&](TWaveAudioIO*) { ++deactivated; };
    const auto file = dir / "freed.wav";
    ASSERT_TRUE(owned->RecordToFile(file.string()));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2; }));
    fake.Feed(3000);
    owned.reset();
    EXPECT_EQ(deactivated, 0);
    const auto d = fileBytes(file);
    ASSERT_EQ(d.size(), 3046u);
    EXPECT_EQ(u32(d, 42), 3000u);
}

TEST_F(WaveRecorder, RecordingAgainWaitsForThePendingClose) {
    auto* first = new TMemoryStream;
    ASSERT_TRUE(rec.RecordToStream(first, TStreamOwnership::soReference));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2; }));
    fake.Feed(500);
    auto* second = new TMemoryStream;
    ASSERT_TRUE(rec.RecordToStream(second, TStreamOwnership::soOwned));
    EXPECT_EQ(first->Size(), 546);  // finished by its own close, not the new writer's
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2; }));
    rec.SetActive(false);
    ASSERT_TRUE(rec.WaitForInactive(5s));
    delete first;
}

TEST_F(WaveRecorder, TheGainActsOnWhatIsStoredFromTheNextBuffer) {
    const auto file = dir / "~tempaudio.wav";
    EXPECT_EQ(rec.Gain(), 100);
    ASSERT_TRUE(rec.RecordToFile(file.string()));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && fake.Started(); }));
    fake.Advance(1000);  // one buffer as captured
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && rec.QueuedBufferCount() == 2; }));
    rec.SetGain(0);
    fake.Advance(1000);  // one buffer of silence
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && rec.QueuedBufferCount() == 2; }));
    rec.SetActive(false);
    ASSERT_TRUE(rec.WaitForInactive(5s));

    const auto d = fileBytes(file);
    ASSERT_EQ(d.size(), 46u + 32000u);
    for (std::uint32_t i = 0; i < 16000; ++i)
        if (d[46 + i] != static_cast<std::uint8_t>(i)) FAIL() << "byte " << i;
    for (std::uint32_t i = 16000; i < 32000; ++i)
        if (d[46 + i] != 0) FAIL() << "byte " << i;
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(WaveRecorder, AFullDiskIsReportedAsAFullDisk) {
    velmora::test::SmallDisk disk(64);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    ASSERT_TRUE(rec.RecordToFile(disk.Folder() + "~tempaudio.wav"));
    ASSERT_TRUE(eventually([&] { return fake.Queued() == 2 && fake.Started(); }));
    // A second at a time (16 000 bytes), as the buffers come back, until the
    // 64 KiB disk is full.
    for (int second = 0; second < 20 && errors.texts().empty(); ++second) {
        fake.Advance(1000);
        eventually([&] {
            return !errors.texts().empty() || (fake.Queued() == 2 && rec.QueuedBufferCount() == 2);
        });
    }
    ASSERT_FALSE(errors.texts().empty());
    EXPECT_EQ(rec.WriteError(), ENOSPC);
    EXPECT_EQ(errors.texts()[0], "The disk is full: the sound cannot be stored.");
    rec.SetActive(false);
    EXPECT_TRUE(rec.WaitForInactive(5s));
}

}  // namespace
