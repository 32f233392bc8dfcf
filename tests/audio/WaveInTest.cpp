#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "audio/WaveIn.h"
#include "tests/audio/WaveTestSupport.h"
#include "tests/doubles/FakeWaveDevice.h"

using namespace velmora::audio;
using velmora::test::eventually;
using velmora::test::FakeWaveDevice;
using Call = FakeWaveDevice::Call;
using namespace std::chrono_literals;

namespace {

class Device : public TWaveAudioIn {
  public:
    explicit Device(FakeWaveDevice& fake) {
        SetDriver(&fake);
        SetAsync(true);
    }
    ~Device() override { Shutdown(); }

    void ProcessData(const void* data, std::uint32_t count, bool&) override {
        std::lock_guard lock(mutex_);
        chunks_.push_back(count);
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + count);
    }
    void InClosed() override {
        {
            std::lock_guard lock(mutex_);
            chunks_.push_back(0);  // marks the closed notification
        }
        TWaveAudioIn::InClosed();
    }
    std::vector<std::uint32_t> chunks() {
        std::lock_guard lock(mutex_);
        return chunks_;
    }
    std::vector<std::uint8_t> bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::uint32_t> chunks_;
    std::vector<std::uint8_t> bytes_;
};

bool countingPattern(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != static_cast<std::uint8_t>(i)) return false;
    return true;
}

class WaveIn : public testing::Test {
  protected:
    FakeWaveDevice fake;
    velmora::test::ReportedErrors errors;

    void openAndWait(Device& d, std::size_t buffers = 2) {
        ASSERT_TRUE(d.Open());
        ASSERT_TRUE(eventually([&] { return !d.Opening() && fake.Queued() == buffers; }));
    }
};

TEST_F(WaveIn, StateErrorsAndPropertySetters) {
    Device d(fake);
    try {
        d.Close();
        FAIL();
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy close");
    }
    d.SetBufferLength(5);
    EXPECT_EQ(d.BufferLength(), 10);
    d.SetBufferLength(1000);
    openAndWait(d);
    EXPECT_TRUE(d.Active());
    EXPECT_TRUE(d.IsOpen());
    try {
        d.Open();
        FAIL();
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Device is aleardy open");
    }
    EXPECT_NO_THROW(d.SetPCMFormat(Mono16bit8000Hz));
    try {
        d.SetPCMFormat(Stereo16bit44100Hz);
        FAIL();
    } catch (const EWaveAudioInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Audio format cannot be changed while device is open");
    }
    EXPECT_EQ(d.PCMFormat(), Mono16bit8000Hz);
    d.SetAsync(false);
    EXPECT_TRUE(d.Async());
    // Buffers are queued before the device starts, and OnActivate comes between.
    const auto log = fake.Log();
    const std::vector<std::string> expected = {"Query",   "Open",      "Prepare", "AddBuffer",
                                               "Prepare", "AddBuffer", "Start"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(d.DeviceName(), "Fake microphone");
    const auto formats = d.DeviceFormats();
    EXPECT_TRUE(formats.count(Mono8Bit8000Hz) && formats.count(Mono16bit11025Hz) &&
                formats.count(Stereo16bit44100Hz));
    EXPECT_FALSE(formats.count(Mono8bit11025Hz) || formats.count(Mono16bit48000Hz));
    fake.Feed(8000);
    EXPECT_EQ(d.Position(), 500u);
}

TEST_F(WaveIn, OpenDuringOpenReturnsFalse) {
    Device d(fake);
    d.SetPCMFormat(nonePCM);
    bool nested = true;
    d.OnFormat = [&](TWaveAudioIO*, PWaveFormatEx& record, bool& freeIt) {
        nested = d.Open();
        static WAVEFORMATEX fixed{};
        FillPCMFormat(fixed, Mono8Bit8000Hz);
        record = &fixed;
        freeIt = false;
    };
    openAndWait(d);
    EXPECT_FALSE(nested);
    EXPECT_EQ(d.BufferSize(), 8000u);
}

TEST_F(WaveIn, CloseReturnsEveryBufferThenCloses) {
    Device d(fake);
    d.OnData = [](TWaveAudioIO*, const void*, std::uint32_t) {
        std::this_thread::sleep_for(100ms);  // keeps the close pending a while
    };
    openAndWait(d);
    fake.Advance(1000);
    fake.Feed(5000);
    ASSERT_TRUE(eventually([&] { return d.chunks().size() == 1; }));
    EXPECT_TRUE(d.Close());
    EXPECT_TRUE(d.Active());
    EXPECT_FALSE(d.Close());  // still pending: no effect
    ASSERT_TRUE(d.WaitForInactive(5s));
    EXPECT_EQ(d.chunks(), (std::vector<std::uint32_t>{16000, 5000, 0}));  // empty buffer skipped
    EXPECT_TRUE(countingPattern(d.bytes()));
    EXPECT_EQ(d.bytes().size(), 21000u);
    EXPECT_FALSE(fake.IsOpen());
    EXPECT_EQ(d.QueuedBufferCount(), 0);
    EXPECT_THROW(d.Close(), EWaveAudioInvalidOperation);
    EXPECT_TRUE(eventually([&] { return !d.CallbackThreadRunning(); }));
    // And it opens again.
    openAndWait(d);
}

TEST_F(WaveIn, BufferCountIsReadAsBuffersComeBack) {
    Device d(fake);
    openAndWait(d);
    d.SetBufferCount(1);
    fake.Advance(1000);
    ASSERT_TRUE(eventually([&] { return d.chunks().size() == 1 && d.QueuedBufferCount() == 1; }));
    EXPECT_EQ(fake.Queued(), 1u);
    d.Close();
    ASSERT_TRUE(d.WaitForInactive(5s));

    Device none(fake);
    none.SetBufferCount(0);
    ASSERT_TRUE(none.Open());
    ASSERT_TRUE(eventually([&] { return fake.Started(); }));
    const auto before = fake.Captured();
    fake.Advance(1000);
    EXPECT_EQ(fake.Captured(), before);
    EXPECT_TRUE(none.Close());  // nothing queued: closes at once
    ASSERT_TRUE(none.WaitForInactive(5s));
}

TEST_F(WaveIn, PausedBeforeOpenLeavesDeviceStopped) {
    Device d(fake);
    int activated = 0;
    d.OnActivate = [&](TWaveAudioIO*) { ++activated; };
    d.SetPaused(true);
    EXPECT_TRUE(d.Paused());
    openAndWait(d);
    EXPECT_EQ(activated, 1);
    EXPECT_FALSE(fake.Started());
    EXPECT_TRUE(d.Resume());
    EXPECT_TRUE(fake.Started());
    EXPECT_TRUE(d.Pause());
    EXPECT_FALSE(d.Pause());
    EXPECT_FALSE(fake.Started());
}

TEST_F(WaveIn, FailedStartWithoutHandlerIsReportedAndDeviceStaysOpen) {
    Device d(fake);
    fake.Fail(Call::Start, 1);
    openAndWait(d);
    ASSERT_TRUE(eventually([&] { return errors.texts().size() == 1; }));
    EXPECT_EQ(errors.texts()[0], d.GetErrorText(1));
    EXPECT_FALSE(fake.Started());
    EXPECT_FALSE(d.Paused());
    EXPECT_TRUE(d.Close());
    EXPECT_TRUE(d.WaitForInactive(5s));
    EXPECT_FALSE(fake.IsOpen());
}

TEST_F(WaveIn, FailedStartWithHandlerPauses) {
    Device d(fake);
    std::atomic<int> seen{0};
    d.OnError = [&](TWaveAudioIO*) { ++seen; };
    fake.Fail(Call::Start, 1);
    openAndWait(d);
    ASSERT_TRUE(eventually([&] { return seen == 1; }));
    EXPECT_TRUE(eventually([&] { return d.Paused(); }));
    EXPECT_TRUE(errors.texts().empty());
}

TEST_F(WaveIn, FailedOpensLeaveNothingBehind) {
    Device d(fake);
    fake.Fail(Call::Open, 4);
    EXPECT_FALSE(d.Open());  // not thrown, but reported
    EXPECT_FALSE(d.Active());
    EXPECT_FALSE(d.Opening());
    EXPECT_EQ(d.LastError(), 4u);
    EXPECT_EQ(errors.texts(), std::vector<std::string>{d.GetErrorText(4)});
    EXPECT_EQ(d.ReportedErrorCount(), 1u);
    EXPECT_EQ(d.LastReportedError(), d.GetErrorText(4));
    EXPECT_TRUE(eventually([&] { return !d.CallbackThreadRunning(); }));

    fake.Fail(Call::Query, 32);
    try {
        d.Open();
        FAIL();
    } catch (const EWaveAudioSysError& e) {
        EXPECT_EQ(std::string(e.what()), d.GetErrorText(32));
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_FALSE(d.Active());
    EXPECT_FALSE(d.Opening());
    openAndWait(d);  // the lock was released on the way out
}

TEST_F(WaveIn, FailuresInsideNotificationsCostOneBufferEach) {
    Device d(fake);
    openAndWait(d);
    fake.Fail(Call::AddBuffer, 6);
    fake.Advance(1000);
    ASSERT_TRUE(eventually([&] { return d.QueuedBufferCount() == 1; }));
    ASSERT_TRUE(eventually([&] { return errors.texts().size() == 1; }));
    EXPECT_EQ(d.chunks().front(), 16000u);  // the data was still handed on
    // A device that vanishes returns the rest and takes no more.
    fake.Vanish();
    ASSERT_TRUE(eventually([&] { return d.QueuedBufferCount() == 0; }));
    EXPECT_EQ(errors.texts().size(), 2u);
    EXPECT_TRUE(d.Active());
    EXPECT_TRUE(d.Close());
    EXPECT_TRUE(d.WaitForInactive(5s));
}

TEST_F(WaveIn, DestroyingAnActiveDeviceClosesWithoutDeactivateEvent) {
    auto d = std::make_unique<Device>(fake);
    int deactivated = 0;
    d->OnDeactivate = [&](TWaveAudioIO*) { ++deactivated; };
    openAndWait(*d);
    fake.Feed(3000);
    d.reset();
    EXPECT_EQ(deactivated, 0);
    EXPECT_FALSE(fake.IsOpen());
}

}  // namespace
