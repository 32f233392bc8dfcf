// Full-screen and 640x480 grabs into 32-bit DIB rows, with and without the
// cursor, on the display named by $DISPLAY (bench/run-grab-bench.sh makes a
// 1920x1080x24 Xvfb for it).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "platform/x11/Desktop.h"

using namespace velmora::platform;

namespace {

void grab(benchmark::State& state, int width, int height, bool withCursor) {
    auto desktop = openX11Desktop();
    if (!desktop) {
        state.SkipWithError("no X display");
        return;
    }
    if (width == 0) width = desktop->width(), height = desktop->height();
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(dibStride(width, 32) * height));
    DibRows rows{bits.data(), width, height, 32, nullptr};
    CursorImage cursor;
    for (auto _ : state) {
        if (!desktop->grab(0, 0, rows)) {
            state.SkipWithError("grab failed");
            return;
        }
        if (withCursor && desktop->cursorImage(cursor))
            drawCursor(cursor, cursor.x - cursor.xhot, cursor.y - cursor.yhot, rows);
        benchmark::DoNotOptimize(bits.data());
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bits.size()));
}

// A zero-filled block taken and given back around every grab, as frames
// allocated one by one cost: the pages are faulted in again each time.
void grabIntoNewBlock(benchmark::State& state) {
    auto desktop = openX11Desktop();
    if (!desktop) {
        state.SkipWithError("no X display");
        return;
    }
    const int width = desktop->width(), height = desktop->height();
    const auto bytes = static_cast<std::size_t>(dibStride(width, 32) * height);
    for (auto _ : state) {
        auto* bits = static_cast<std::uint8_t*>(std::calloc(bytes, 1));
        DibRows rows{bits, width, height, 32, nullptr};
        if (!desktop->grab(0, 0, rows)) {
            std::free(bits);
            state.SkipWithError("grab failed");
            return;
        }
        benchmark::DoNotOptimize(bits);
        std::free(bits);
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

}  // namespace

BENCHMARK(grabIntoNewBlock)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(grab, full_screen, 0, 0, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(grab, full_screen_cursor, 0, 0, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(grab, area_640x480, 640, 480, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
