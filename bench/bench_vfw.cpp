// Compress time of one 32-bit frame for each built-in driver: at 1920x1080
// with one encoder thread and with two (process CPU time shows what the
// threads cost), Zip Motion Blocks at 1280x720 across the quality scale, and
// the codecs that take the DIB's own format with its rows copied first or
// lent to the encoder as they are.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/vfw/Compressors.h"

extern "C" {
#include <libavcodec/packet.h>
}

using namespace velmora::vfw;

namespace {

// A desktop-like picture: flat areas, a gradient and a block that moves.
std::vector<std::uint8_t> picture(int n, int kWidth, int kHeight) {
    std::vector<std::uint8_t> rows(std::size_t(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = rows.data() + std::size_t(y) * kWidth * 4;
        for (int x = 0; x < kWidth; ++x) {
            const int left = n * 16 % (kWidth - 320);
            const bool block = x >= left && x < left + 200 && y >= 300 && y < 500;
            row[4 * x] = block ? 40 : static_cast<std::uint8_t>(x / 8);
            row[4 * x + 1] = block ? 200 : static_cast<std::uint8_t>(y < 540 ? 230 : y / 5);
            row[4 * x + 2] = block ? 90 : static_cast<std::uint8_t>((x ^ y) & 0x3F);
        }
    }
    return rows;
}

void compressFrames(benchmark::State& state, DWORD driver, int width, int height, DWORD quality,
                    int threads, bool borrow = true) {
    ICINFO info{};
    if (!ICInfo(ICTYPE_VIDEO, driver, &info)) {
        state.SkipWithError("no such driver");
        return;
    }
    char name[5] = {};
    std::memcpy(name, &info.fccHandler, 4);
    std::string label = name;

    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof(bi);
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    bi.biSizeImage = static_cast<DWORD>(width * height * 4);
    ICCOMPRESSSETUP setup;
    setup.input = &bi;
    setup.quality = quality;
    setup.keyFrameEvery = 8;  // the program's default
    setup.threads = threads;
    setup.borrowFrames = borrow;
    HRESULT error = AVIERR_OK;
    auto compressor = ICGetBuiltinDriver(info.fccHandler)->openCompressor(setup, &error);
    if (!compressor) {
        state.SkipWithError("compressor did not open");
        return;
    }
    const std::vector<std::uint8_t> frames[2] = {picture(0, width, height),
                                                 picture(1, width, height)};
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
    state.SetLabel(label + (compressor->borrowsFrames() ? " lent" : " copied"));
    state.counters["bytes_per_frame"] = n ? double(bytes) / double(n) : 0.0;
}

void BM_Compress1080p(benchmark::State& state) {
    compressFrames(state, static_cast<DWORD>(state.range(0)), 1920, 1080, 9000,
                   static_cast<int>(state.range(1)));
}

void BM_Zmbv720p(benchmark::State& state) {
    compressFrames(state, 5, 1280, 720, static_cast<DWORD>(state.range(0)), 0);
}

void BM_SameFormat1080p(benchmark::State& state) {
    compressFrames(state, static_cast<DWORD>(state.range(0)), 1920, 1080, 9000, 1,
                   state.range(1) != 0);
}

}  // namespace

BENCHMARK(BM_SameFormat1080p)
    ->ArgsProduct({{5, 6}, {0, 1}})
    ->ArgNames({"driver", "borrow"})
    ->Iterations(48)  // whole key frame intervals, the same frames for both
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Compress1080p)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1), {1, 2}})
    ->ArgNames({"driver", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Zmbv720p)
    ->Arg(0)
    ->Arg(5000)
    ->Arg(9000)
    ->Arg(10000)
    ->ArgName("quality")
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

BENCHMARK_MAIN();
