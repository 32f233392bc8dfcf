// The sound lined up with the picture in the merge, by the recorder's
// first-sample time; and the header checks before it.

#include <cstring>
#include <fstream>

#include "engine/WaveHeader.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TestEnv.h"

namespace velmora::enginetest {
namespace {

// A WAV laid out as the recorder writes it: 18-byte fmt chunk, data at 46.
void WriteWave(const std::string& file, std::uint16_t channels, std::uint32_t rate,
               std::uint16_t bits, const std::vector<unsigned char>& data) {
    std::ofstream out(file, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto size = static_cast<std::uint32_t>(data.size());
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    out.write("RIFF", 4);
    u32(38 + size + (size & 1));
    out.write("WAVEfmt ", 8);
    u32(18);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * align);
    u16(align);
    u16(bits);
    u16(0);
    out.write("data", 4);
    u32(size);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
}

// Frame i of 16-bit stereo holds i in both channels.
std::vector<unsigned char> StereoRamp(std::size_t frames) {
    std::vector<unsigned char> d(frames * 4);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            d[4 * i + 2 * c] = static_cast<unsigned char>(i);
            d[4 * i + 2 * c + 1] = static_cast<unsigned char>(i >> 8);
        }
    return d;
}

void PatchU16(const std::string& file, std::streamoff at, std::uint16_t value) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f.write(reinterpret_cast<const char*>(&value), 2);
}

// Each value the merge takes from the header, spoilt on its own.
TEST(WaveHeaderTest, FormatFaultNamesTheImpossibleHeaderValue) {
    TempFolder folder;
    const std::string file = folder.path() + "s.wav";
    WriteWave(file, 2, 44100, 16, StereoRamp(100));
    EXPECT_EQ(WaveFormatFault(file), "");
    const struct {
        std::streamoff at;
        std::uint16_t value;
        const char* fault;
    } spoilt[] = {{22, 0, "0 channels"},
                  {22, 300, "300 channels"},
                  {32, 3, "block align 3 for 2 channels of 16 bits"},
                  {34, 0, "0 bits a sample"},
                  {34, 12, "12 bits a sample"},
                  {20, 0x55, "format 85"},
                  {20, 3, "16-bit floating-point samples"},
                  {24, 1, "1 samples a second"},
                  {26, 16, "1092676 samples a second"}};  // rate 16 * 65536 + 44100
    for (const auto& s : spoilt) {
        WriteWave(file, 2, 44100, 16, StereoRamp(100));
        PatchU16(file, s.at, s.value);
        EXPECT_EQ(WaveFormatFault(file), s.fault) << s.at;
    }
    WriteWave(file, 2, 0, 16, StereoRamp(100));
    EXPECT_EQ(WaveFormatFault(file), "no usable format chunk before the sound data");
    std::ofstream(file, std::ios::trunc) << "RIFF....AVI LIST";
    EXPECT_EQ(WaveFormatFault(file), "not a RIFF WAVE file");
    EXPECT_EQ(WaveFormatFault(folder.path() + "none.wav"), "No such file or directory");
}

class SoundSyncTest : public EngineTest {
  protected:
    TScreenCamera& MakeWithSound() {
        withAudio = true;
        auto& cam = Make();
        cam.CompressorIndex = IndexOf(MakeFourCC('D', 'I', 'B', ' '));
        cam.TimeLimit = TTimeLimit{true, 0, 0, 1};
        cam.RecordAudio = true;
        return cam;
    }
    // The merged sound track as 16-bit samples.
    std::vector<std::int16_t> MergedSamples() {
        const std::string raw =
            test::capture("ffmpeg -v error -i '" + Target() + "' -map 0:a -f s16le -");
        std::vector<std::int16_t> s(raw.size() / 2);
        std::memcpy(s.data(), raw.data(), s.size() * 2);
        return s;
    }
};

TEST_F(SoundSyncTest, SoundTakenBeforeTheFirstFrameIsDropped) {
    MakeWithSound();
    // The recorder's ramp began 250 ms before the loop's clock zero.
    recorder->firstSample = [this] { return (clock.Now() - 250) * 1000000; };
    RecordOnWorker(Target());
    const auto s = MergedSamples();
    ASSERT_EQ(s.size(), 6000u);
    EXPECT_EQ(s.front(), 2000);
    EXPECT_EQ(s.back(), 7999);
    EXPECT_EQ(Errors().size(), 1u) << Errors().back();
}

// A save that did not happen (cancelled) keeps the sound as it was
// recorded, with where the merge put it: the save at the next start lines
// it up the same way.
TEST_F(SoundSyncTest, AKeptRecordingKeepsTheSoundsPlaceForTheNextStart) {
    auto& cam = MakeWithSound();
    recorder->firstSample = [this] { return (clock.Now() - 250) * 1000000; };
    cam.OnSaveProgress = [](TScreenCamera*, std::int32_t, bool& proceed) { proceed = false; };
    RecordOnWorker(Target());
    const std::string kept = folder.path() + "VideoRecord_test_audio.wav";
    WaveData data;
    std::string error;
    ASSERT_TRUE(ReadWaveData(kept, data, error)) << error;
    EXPECT_EQ(data.size, 16000) << "the whole recorded sound, nothing cut";
    EXPECT_EQ(ReadWavePlacing(kept).startMs, -250);

    cam.OnSaveProgress = nullptr;
    ASSERT_TRUE(cam.RecoverRecordings(cam.FindInterruptedRecordings(folder.path())));
    ASSERT_TRUE(host.RunUntil([&] { return !cam.WorkerRunning(); }));
    const auto s = MergedSamples();
    ASSERT_EQ(s.size(), 6000u);
    EXPECT_EQ(s.front(), 2000);
    EXPECT_EQ(s.back(), 7999);
}

// The recorder runs on while the last frames are compressed (a slow codec:
// seconds): that sound is past the picture's end and goes.
TEST_F(SoundSyncTest, SoundPastThePicturesEndIsCut) {
    MakeWithSound();
    recorder->soundSeconds = 3;
    recorder->firstSample = [this] { return clock.Now() * 1000000; };
    RecordOnWorker(Target());
    const auto s = MergedSamples();
    ASSERT_EQ(s.size(), 8800u);  // the 11 frames' 1.1 s
    EXPECT_EQ(s.front(), 0);
    EXPECT_EQ(s.back(), 8799);
    EXPECT_EQ(Errors().size(), 1u) << Errors().back();
}

TEST_F(SoundSyncTest, SoundTakenAfterTheFirstFrameStartsLaterWithSilence) {
    MakeWithSound();
    recorder->firstSample = [this] { return (clock.Now() + 100) * 1000000; };
    RecordOnWorker(Target());
    const auto s = MergedSamples();
    ASSERT_EQ(s.size(), 8800u);
    EXPECT_EQ(std::vector<std::int16_t>(s.begin(), s.begin() + 800),
              std::vector<std::int16_t>(800, 0));
    EXPECT_EQ(s[800], 0);
    EXPECT_EQ(s[801], 1);
    EXPECT_EQ(s.back(), 7999);
}

TEST_F(SoundSyncTest, UnknownOrImplausibleTimesLeaveTheSoundAlone) {
    MakeWithSound();
    RecordOnWorker(Target());  // no first-sample time
    EXPECT_EQ(MergedSamples().size(), 8000u);
    recorder->firstSample = [this] { return (clock.Now() - 60000) * 1000000; };
    RecordOnWorker(Target());
    const auto s = MergedSamples();
    ASSERT_EQ(s.size(), 8000u);
    EXPECT_EQ(s[1], 1);
}

TEST_F(SoundSyncTest, ARecorderThatNeverClosesCostsTheSoundNotTheVideo) {
    MakeWithSound();
    recorder->closes = false;
    RecordOnWorker(Target());
    EXPECT_EQ(Probe(Target(), "stream=codec_type", "v"), "video");
    EXPECT_EQ(Probe(Target(), "stream=index", "a"), "");
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0],
              "The sound recorder did not finish the sound file; the video is saved without "
              "sound.");
    EXPECT_EQ(errors[1].rfind("L12 ", 0), 0u);
    // What the recorder stored of it may be most of the sound.
    EXPECT_EQ(errors[2], "Recording kept in: " + folder.path() + "VideoRecord_test_audio.wav");
    // The second stop request is made while the close is pending.
    const auto calls = recorder->Calls();
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"Active=0", "Stop", "Wait"}));
}

TEST_F(SoundSyncTest, StallsOfTheSoundInputAreLoggedBeforeTheMerge) {
    MakeWithSound();
    recorder->stalls = {{12300, 4249}, {65000, 4000}};
    RecordOnWorker(Target());
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0],
              "The sound input delivered nothing for 4.2 s from 12s on; the recording has "
              "silence there.");
    EXPECT_EQ(errors[1],
              "The sound input delivered nothing for 4.0 s from 1m 5s on; the recording has "
              "silence there.");
    EXPECT_EQ(errors[2].rfind("L12 ", 0), 0u);
}

}  // namespace
}  // namespace velmora::enginetest
