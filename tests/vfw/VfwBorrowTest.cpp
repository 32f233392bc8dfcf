// Frames already in the codec's pixel format go to the encoder without a
// copy: what comes out must not change, and nothing may be read from the
// caller's DIB once compress has returned.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/vfw/PixelConversion.h"
#include "tests/vfw/VfwTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace velmora::vfwtest {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 7;  // key frames at 0, 3 and 6

std::unique_ptr<ICCompressor> openFor(const char* handler, Dib& format, bool borrow) {
    ICCOMPRESSSETUP setup;
    setup.input = format.header();
    if (format.header()->biBitCount == 8) {
        setup.colors =
            reinterpret_cast<const RGBQUAD*>(format.block.data() + sizeof(BITMAPINFOHEADER));
        setup.colorCount = 256;
    }
    setup.keyFrameEvery = 3;
    setup.borrowFrames = borrow;
    HRESULT error = AVIERR_OK;
    auto driver = ICGetBuiltinDriver(MakeFourCC(handler[0], handler[1], handler[2], handler[3]));
    return driver ? driver->openCompressor(setup, &error) : nullptr;
}

struct Stream {
    std::vector<std::vector<std::uint8_t>> packets;
    std::vector<bool> keys;
};

// Compresses frames 0..kFrames-1 out of one reused slot, as the engine
// does, scribbling over the slot after every call.
Stream compressFromOneSlot(ICCompressor& c, int bits) {
    Stream out;
    Dib slot = testFrame(kWidth, kHeight, bits, 0);
    std::uint8_t* rows = slot.block.data() + slot.formatBytes();
    AVPacket* pkt = av_packet_alloc();
    for (int n = 0; n < kFrames; ++n) {
        const Dib frame = testFrame(kWidth, kHeight, bits, n);
        std::memcpy(rows, frame.bits(), frame.imageBytes());
        EXPECT_EQ(c.compress(rows, slot.imageBytes(), pkt), AVIERR_OK) << "frame " << n;
        std::memset(rows, 0xA5, slot.imageBytes());
        out.packets.emplace_back(pkt->data, pkt->data + pkt->size);
        out.keys.push_back(pkt->flags & AV_PKT_FLAG_KEY);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return out;
}

struct SameFormatCase {
    const char* handler;
    int bits;
    bool lossless;
    bool borrows;
};

void PrintTo(const SameFormatCase& c, std::ostream* os) {
    *os << c.handler << c.bits;
}

class VfwBorrowedFrames : public ::testing::TestWithParam<SameFormatCase> {};

TEST_P(VfwBorrowedFrames, SamePacketsAsCopiedFramesEvenWhenTheSlotIsOverwritten) {
    // Key and delta frames from one slot; the DIB changes after every call.
    const SameFormatCase& c = GetParam();
    Dib format = testFrame(kWidth, kHeight, c.bits, 0);
    auto lent = openFor(c.handler, format, true);
    auto copied = openFor(c.handler, format, false);
    ASSERT_TRUE(lent && copied);
    EXPECT_EQ(lent->borrowsFrames(), c.borrows);
    EXPECT_FALSE(copied->borrowsFrames());

    const Stream a = compressFromOneSlot(*lent, c.bits);
    const Stream b = compressFromOneSlot(*copied, c.bits);
    EXPECT_EQ(lent->borrowsFrames(), c.borrows) << "the encoder kept a frame";
    ASSERT_EQ(a.packets.size(), b.packets.size());
    for (int n = 0; n < kFrames; ++n) {
        EXPECT_EQ(a.keys[n], n % 3 == 0) << "frame " << n;
        EXPECT_EQ(a.packets[n], b.packets[n]) << "frame " << n;
    }
    if (!c.lossless) return;

    // Decoded, every frame is the DIB it came from, row for row.
    AVCodecParameters* par = avcodec_parameters_alloc();
    ASSERT_TRUE(lent->describe(par));
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    ASSERT_TRUE(codec);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    ASSERT_GE(avcodec_parameters_to_context(dec, par), 0);
    ASSERT_GE(avcodec_open2(dec, codec, nullptr), 0);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* pic = av_frame_alloc();
    const int rowBytes = kWidth * c.bits / 8;
    for (int n = 0; n < kFrames; ++n) {
        ASSERT_GE(av_new_packet(pkt, static_cast<int>(a.packets[n].size())), 0);
        std::memcpy(pkt->data, a.packets[n].data(), a.packets[n].size());
        ASSERT_GE(avcodec_send_packet(dec, pkt), 0) << "frame " << n;
        av_packet_unref(pkt);
        ASSERT_GE(avcodec_receive_frame(dec, pic), 0) << "frame " << n;
        const Dib want = testFrame(kWidth, kHeight, c.bits, n);
        const int stride = static_cast<int>(want.imageBytes() / kHeight);
        int badRows = 0;
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* got = pic->data[0] + std::ptrdiff_t(pic->linesize[0]) * y;
            const std::uint8_t* dib = want.bits() + std::ptrdiff_t(stride) * (kHeight - 1 - y);
            if (c.bits == 32) {
                for (int x = 0; x < kWidth; ++x)
                    badRows += std::memcmp(got + 4 * x, dib + 4 * x, 3) != 0;
            } else {
                badRows += std::memcmp(got, dib, rowBytes) != 0;
            }
        }
        EXPECT_EQ(badRows, 0) << "frame " << n;
        if (c.bits == 8) {
            const std::uint8_t* table = want.block.data() + sizeof(BITMAPINFOHEADER);
            const auto* pal = reinterpret_cast<const std::uint32_t*>(pic->data[1]);
            int badColours = 0;
            for (int i = 0; i < 256; ++i) {
                const std::uint32_t rgb = std::uint32_t(table[4 * i + 2]) << 16 |
                                          std::uint32_t(table[4 * i + 1]) << 8 | table[4 * i];
                badColours += (pal[i] & 0xFFFFFFu) != rgb;
            }
            EXPECT_EQ(badColours, 0) << "frame " << n;
        }
        av_frame_unref(pic);
    }
    av_frame_free(&pic);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avcodec_parameters_free(&par);
}

INSTANTIATE_TEST_SUITE_P(SameFormat, VfwBorrowedFrames,
                         ::testing::Values(SameFormatCase{"ZMBV", 8, true, true},
                                           SameFormatCase{"ZMBV", 16, true, true},
                                           SameFormatCase{"ZMBV", 32, true, true},
                                           SameFormatCase{"MSVC", 16, false, true},
                                           // Keeps a reference to the last frame: copied.
                                           SameFormatCase{"FFV1", 32, true, false}));

TEST(VfwBorrowedFrames, ConvertedOrDelayingEncodersCopyAndStillWork) {
    struct Case {
        const char* handler;
        int bits;
    };
    // Other pixel formats are converted anyway; x264 holds frames back.
    for (const Case& c : {Case{"FFV1", 24}, Case{"MSVC", 32}, Case{"HFYU", 32}, Case{"H264", 32},
                          Case{"MJPG", 32}}) {
        Dib format = testFrame(kWidth, kHeight, c.bits, 0);
        auto comp = openFor(c.handler, format, true);
        ASSERT_TRUE(comp) << c.handler << c.bits;
        EXPECT_FALSE(comp->borrowsFrames()) << c.handler << c.bits;
        const Stream s = compressFromOneSlot(*comp, c.bits);
        for (int n = 0; n < kFrames; ++n) EXPECT_FALSE(s.packets[n].empty()) << c.handler << n;
    }
}

// Frames made 4:2:0 before they reach the codec (as the grab makes them
// for the codecs that take it) go in without a copy and come out as the
// same packets as the DIB converted by the codec itself, out of one reused
// slot written over after each frame; the other range, and codecs that do
// not code 4:2:0, are refused.
TEST(VfwFourTwoZeroFrames, GiveThePacketsOfTheirDib) {
    for (const auto& [handler, compression] :
         {std::pair{"H264", BI_I420}, {"XVID", BI_I420}, {"MJPG", BI_J420}}) {
        SCOPED_TRACE(handler);
        Dib format = testFrame(kWidth, kHeight, 32, 0);
        auto fromDib = openFor(handler, format, true);
        ASSERT_TRUE(fromDib);
        const Stream expected = compressFromOneSlot(*fromDib, 32);

        BITMAPINFOHEADER yuv = *format.header();
        yuv.biBitCount = 12;
        yuv.biCompression = compression;
        yuv.biSizeImage = static_cast<DWORD>(yuvLayout(kWidth, kHeight).total());
        ICCOMPRESSSETUP setup;
        setup.input = &yuv;
        setup.keyFrameEvery = 3;
        HRESULT error = AVIERR_OK;
        auto driver =
            ICGetBuiltinDriver(MakeFourCC(handler[0], handler[1], handler[2], handler[3]));
        auto fromYuv = driver->openCompressor(setup, &error);
        ASSERT_TRUE(fromYuv) << error;
        BITMAPINFOHEADER otherRange = yuv;
        otherRange.biCompression = compression == BI_I420 ? BI_J420 : BI_I420;
        setup.input = &otherRange;
        EXPECT_FALSE(driver->openCompressor(setup, &error));

        DibConverter converter;
        ASSERT_TRUE(converter.init(*format.header(), nullptr, 0, AV_PIX_FMT_YUV420P,
                                   compression == BI_J420));
        std::vector<std::uint8_t> slot(yuv.biSizeImage);
        AVPacket* pkt = av_packet_alloc();
        for (int n = 0; n < kFrames; ++n) {
            const Dib frame = testFrame(kWidth, kHeight, 32, n);
            ASSERT_TRUE(converter.convertToYuv(frame.bits(), slot.data()));
            ASSERT_EQ(fromYuv->compress(slot.data(), slot.size(), pkt), AVIERR_OK) << n;
            std::fill(slot.begin(), slot.end(), 0xA5);
            EXPECT_EQ(std::vector<std::uint8_t>(pkt->data, pkt->data + pkt->size),
                      expected.packets[n])
                << "frame " << n;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
        // Lent to the encoder without a copy, and still lent after seven frames.
        EXPECT_TRUE(fromYuv->borrowsFrames());
    }
    BITMAPINFOHEADER yuv = *testFrame(kWidth, kHeight, 32, 0).header();
    yuv.biBitCount = 12;
    yuv.biCompression = BI_I420;
    for (const char* handler : {"HFYU", "FFV1", "ZMBV", "MSVC", "DIB "})
        EXPECT_NE(ICGetBuiltinDriver(MakeFourCC(handler[0], handler[1], handler[2], handler[3]))
                      ->compressQuery(reinterpret_cast<const BITMAPINFO*>(&yuv), nullptr),
                  ICERR_OK)
            << handler;
}

}  // namespace
}  // namespace velmora::vfwtest
