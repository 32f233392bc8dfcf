// Compress time of one 1920x1080 32-bit frame for each built-in driver.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/vfw/Compressors.h"

extern "C" {
#include <libavcodec/packet.h>
}

using namespace velmora::vfw;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A desktop-like picture: flat areas, a gradient and a block that moves.
std::vector<std::uint8_t> picture(int n) {
    std::vector<std::uint8_t> rows(std::size_t(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = rows.data() + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            const bool block = x >= n * 16 % 1600 && x < n * 16 % 1600 + 200 && y >= 300 && y < 500;
            row[4 * x] = block ? 40 : static_cast<std::uint8_t>(x / 8);
            row[4 * x + 1] = block ? 200 : static_cast<std::uint8_t>(y < 540 ? 230 : y / 5);
            row[4 * x + 2] = block ? 90 : static_cast<std::uint8_t>((x ^ y) & 0x3F);
        }
    }
    return rows;
}

void BM_Compress1080p(benchmark::State& state) {
    ICINFO info{};
    if (!ICInfo(ICTYPE_VIDEO, static_cast<DWORD>(state.range(0)), &info)) {
        state.SkipWithError("no such driver");
        return;
    }
    char name[5] = {};
    std::memcpy(name, &info.fccHandler, 4);
    state.SetLabel(name);

    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof(bi);
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = kWidth * kHeight * 4;
    ICCOMPRESSSETUP setup;
    setup.input = &bi;
    setup.quality = 7500;
    setup.keyFrameEvery = 250;
    HRESULT error = AVIERR_OK;
    auto compressor = ICGetBuiltinDriver(info.fccHandler)->openCompressor(setup, &error);
    if (!compressor) {
        state.SkipWithError("compressor did not open");
        return;
    }
    const std::vector<std::uint8_t> frames[2] = {picture(0), picture(1)};
    AVPacket* pkt = av_packet_alloc();
    std::int64_t n = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        const auto& f = frames[n++ % 2];
        if (compressor->compress(f.data(), f.size(), pkt) != AVIERR_OK) {
            state.SkipWithError("compress failed");
            break;
        }
        bytes += pkt->size;
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    state.counters["bytes_per_frame"] = n ? double(bytes) / double(n) : 0.0;
}

}  // namespace

BENCHMARK(BM_Compress1080p)->DenseRange(0, 7)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
