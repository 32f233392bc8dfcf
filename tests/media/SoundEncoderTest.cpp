// The sound encoder: samples as the inputs deliver them in, the codec's
// packets out, timed from the first sample sent.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/encode/SoundEncoder.h"
#include "tests/media/MediaTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace velmora::mediatest {
namespace {

using engine::PcmFormat;
using engine::SoundEncoder;

struct Case {
    SoundCodec codec;
    int rate, channels;
    AVCodecID id;
    int encodedRate;
};

class SoundEncoderEach : public ::testing::TestWithParam<Case> {};

TEST_P(SoundEncoderEach, TimesItsPacketsFromTheFirstSampleAndLosesNone) {
    const Case c = GetParam();
    const PcmFormat pcm{c.rate, c.channels, 16};
    std::string error;
    std::unique_ptr<SoundEncoder> encoder = SoundEncoder::Open(c.codec, pcm, true, error);
    ASSERT_TRUE(encoder) << error;
    const AVCodecParameters* par = encoder->Parameters();
    EXPECT_EQ(par->codec_id, c.id);
    EXPECT_EQ(par->sample_rate, c.encodedRate);
    EXPECT_EQ(par->ch_layout.nb_channels, c.channels);
    EXPECT_EQ(encoder->TimeBase().den, c.encodedRate);

    // One second in blocks of odd sizes, as a capture delivers them.
    const std::vector<std::int16_t> tone = Tone(c.rate, c.channels, 1.0);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(tone.data());
    const std::int64_t frames = static_cast<std::int64_t>(tone.size()) / c.channels;
    std::vector<std::uint8_t> passed;
    std::int64_t firstPts = AV_NOPTS_VALUE, end = 0, previous = AV_NOPTS_VALUE;
    AVPacket* packet = av_packet_alloc();
    const auto drain = [&] {
        int e;
        while ((e = encoder->Receive(packet)) == 0) {
            if (firstPts == AV_NOPTS_VALUE) firstPts = packet->pts;
            EXPECT_TRUE(previous == AV_NOPTS_VALUE || packet->pts > previous);
            previous = packet->pts;
            end = packet->pts + packet->duration;
            passed.insert(passed.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
        return e;
    };
    for (std::int64_t at = 0; at < frames; at += 997) {
        const std::int64_t n = std::min<std::int64_t>(997, frames - at);
        ASSERT_EQ(encoder->Send(bytes + at * pcm.BytesPerFrame(), n), 0);
        ASSERT_EQ(drain(), AVERROR(EAGAIN));
    }
    ASSERT_EQ(encoder->Finish(), 0);
    EXPECT_EQ(drain(), AVERROR_EOF);
    av_packet_free(&packet);

    // The first packet starts its priming before the first sample, and the
    // packets cover every sample sent.
    EXPECT_EQ(firstPts, -encoder->Delay());
    const std::int64_t sent = frames * c.encodedRate / c.rate;
    EXPECT_GE(end, sent);
    EXPECT_LT(end, sent + c.encodedRate / 10);
    if (c.codec == SoundCodec::Pcm) {
        EXPECT_EQ(passed, std::vector<std::uint8_t>(bytes, bytes + tone.size() * 2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, SoundEncoderEach,
    ::testing::Values(Case{SoundCodec::Pcm, 44100, 2, AV_CODEC_ID_PCM_S16LE, 44100},
                      Case{SoundCodec::Aac, 44100, 2, AV_CODEC_ID_AAC, 44100},
                      Case{SoundCodec::Aac, 22050, 1, AV_CODEC_ID_AAC, 22050},
                      Case{SoundCodec::Opus, 44100, 2, AV_CODEC_ID_OPUS, 48000},
                      Case{SoundCodec::Flac, 22050, 1, AV_CODEC_ID_FLAC, 22050}),
    [](const auto& info) {
        return SoundCodecKey(info.param.codec) + "_" + std::to_string(info.param.rate) + "_" +
               std::to_string(info.param.channels);
    });

TEST(SoundEncoder, RefusesSamplesNoInputDelivers) {
    std::string error;
    EXPECT_FALSE(SoundEncoder::Open(SoundCodec::Aac, {44100, 2, 12}, false, error));
    EXPECT_NE(error.find("12-bit"), std::string::npos) << error;
    EXPECT_FALSE(SoundEncoder::Open(SoundCodec::Flac, {44100, 0, 16}, false, error));
}

}  // namespace
}  // namespace velmora::mediatest
