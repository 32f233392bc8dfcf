// Which file formats take which codecs, and what a choice becomes.

#include <gtest/gtest.h>

#include <algorithm>

#include "common/OutputFormats.h"

using namespace velmora;

namespace {

std::uint32_t FourCC(const char* c) {
    return std::uint32_t(std::uint8_t(c[0])) | std::uint32_t(std::uint8_t(c[1])) << 8 |
           std::uint32_t(std::uint8_t(c[2])) << 16 | std::uint32_t(std::uint8_t(c[3])) << 24;
}

TEST(OutputChoice, AFormatThatCannotTakeTheVideoBecomesAviAndOneThatCannotTakeTheSoundItsOwn) {
    // MP4 takes three codecs, whatever the case of their fourcc.
    for (const char* handler : {"H264", "h264", "XVID", "MJPG"}) {
        const OutputChoice choice =
            ResolveOutputChoice(OutputFormat::Mp4, SoundCodec::Opus, FourCC(handler), "x");
        EXPECT_EQ(choice.format, OutputFormat::Mp4) << handler;
        EXPECT_EQ(choice.sound, SoundCodec::Opus);
        EXPECT_EQ(choice.change, "");
    }
    OutputChoice choice = ResolveOutputChoice(OutputFormat::Mp4, SoundCodec::Aac, FourCC("MSVC"),
                                              "Microsoft Video 1");
    EXPECT_EQ(choice.format, OutputFormat::Avi);
    EXPECT_EQ(choice.sound, SoundCodec::Pcm);
    EXPECT_EQ(choice.change,
              "MP4 cannot hold Microsoft Video 1 video; the recording is saved as AVI");
    // Matroska takes every codec; a sound it cannot hold is not a thing.
    for (const char* handler : {"MSVC", "HFYU", "ZMBV", "FFV1", "DIB "}) {
        EXPECT_EQ(
            ResolveOutputChoice(OutputFormat::Mkv, SoundCodec::Flac, FourCC(handler), "x").change,
            "");
    }
    choice = ResolveOutputChoice(OutputFormat::Mp4, SoundCodec::Pcm, FourCC("H264"), "x264");
    EXPECT_EQ(choice.format, OutputFormat::Mp4);
    EXPECT_EQ(choice.sound, SoundCodec::Aac);
    EXPECT_EQ(choice.change, "MP4 cannot hold PCM sound; it is saved as AAC");
    EXPECT_EQ(ResolveOutputChoice(OutputFormat::Avi, SoundCodec::Opus, FourCC("XVID"), "x").sound,
              SoundCodec::Pcm);
}

TEST(OutputChoice, EachFormatHoldsItsOwnSoundAndIsKnownByItsNames) {
    for (OutputFormat format : kOutputFormats) {
        const std::vector<SoundCodec> codecs = SoundCodecsOf(format);
        ASSERT_FALSE(codecs.empty());
        EXPECT_NE(std::find(codecs.begin(), codecs.end(), DefaultSoundCodec(format)), codecs.end());
        EXPECT_EQ(ParseOutputFormat(FormatKey(format)), format);
    }
    EXPECT_EQ(SoundCodecsOf(OutputFormat::Avi), std::vector<SoundCodec>{SoundCodec::Pcm});
    EXPECT_EQ(SoundCodecsOf(OutputFormat::Mkv).size(), 4u);
    EXPECT_EQ(ParseOutputFormat("mkv"), OutputFormat::Mkv);
    EXPECT_EQ(ParseOutputFormat("Matroska"), OutputFormat::Mkv);
    EXPECT_EQ(FormatExtension(OutputFormat::Mkv), ".mkv");
    EXPECT_EQ(ParseOutputFormat("webm"), std::nullopt);
    EXPECT_EQ(ParseSoundCodec("opus"), SoundCodec::Opus);
    EXPECT_EQ(ParseSoundCodec(""), std::nullopt);
}

TEST(OutputChoice, TheExtensionAfterTheLastDotOfTheNameIsReplaced) {
    EXPECT_EQ(WithFormatExtension("/r/VideoRecord_1.avi", OutputFormat::Mp4),
              "/r/VideoRecord_1.mp4");
    EXPECT_EQ(WithFormatExtension("/r.d/VideoRecord_1", OutputFormat::Mkv),
              "/r.d/VideoRecord_1.mkv");
    EXPECT_EQ(WithFormatExtension("/r/a.b.mp4", OutputFormat::Avi), "/r/a.b.avi");
}

}  // namespace
