// The banded 4:2:0 conversion's helper threads: made at the first banded
// frame and kept, not started for every frame; gone with their converter;
// and at normal scheduling when the converting thread runs at real-time
// priority, as the grab thread does.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "engine/vfw/PixelConversion.h"
#include "tests/support/ChildProcess.h"

namespace velmora::vfw {
namespace {

// The threads of this process, by id.
std::set<int> Threads() {
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ids.insert(std::atoi(entry->d_name));
        closedir(dir);
    }
    return ids;
}

std::set<int> Added(const std::set<int>& before) {
    std::set<int> added;
    for (const int id : Threads())
        if (!before.count(id)) added.insert(id);
    return added;
}

BITMAPINFOHEADER TopDown(int width, int height) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = -height;
    h.biPlanes = 1;
    h.biBitCount = 32;
    return h;
}

constexpr int kWidth = 64, kHeight = 40, kBands = 3;

struct Picture {
    std::vector<std::uint8_t> rows = std::vector<std::uint8_t>(kWidth * kHeight * 4, 0x80);
    std::vector<std::uint8_t> yuv =
        std::vector<std::uint8_t>(static_cast<std::size_t>(yuvLayout(kWidth, kHeight).total()));
};

TEST(BandThreads, MadeAtTheFirstFrameKeptForTheNextAndGoneWithTheConverter) {
    const std::set<int> before = Threads();
    Picture picture;
    std::set<int> helpers;
    {
        DibConverter converter;
        ASSERT_TRUE(converter.init(TopDown(kWidth, kHeight), nullptr, 0, AV_PIX_FMT_YUV420P, false,
                                   kBands));
        ASSERT_TRUE(converter.convertToYuv(picture.rows.data(), picture.yuv.data()));
        helpers = Added(before);
        EXPECT_EQ(helpers.size(), std::size_t(kBands - 1)) << "helpers waiting after a frame";
        for (int frame = 0; frame < 40; ++frame)
            ASSERT_TRUE(converter.convertToYuv(picture.rows.data(), picture.yuv.data()));
        EXPECT_EQ(Added(before), helpers) << "the same helpers for every frame";
    }
    EXPECT_TRUE(Added(before).empty()) << "helpers outlived their converter";
}

TEST(BandThreads, HelpersOfARealtimeThreadRunAtNormalScheduling) {
    const int status = test::InChild([] {
        const sched_param realtime{1};
        if (sched_setscheduler(0, SCHED_RR, &realtime) != 0) return 77;
        const std::set<int> before = Threads();
        Picture picture;
        DibConverter converter;
        if (!converter.init(TopDown(kWidth, kHeight), nullptr, 0, AV_PIX_FMT_YUV420P, true, kBands))
            return 10;
        for (int frame = 0; frame < 5; ++frame)
            if (!converter.convertToYuv(picture.rows.data(), picture.yuv.data())) return 11;
        const std::set<int> helpers = Added(before);
        if (helpers.size() != std::size_t(kBands - 1)) return 12;
        for (const int id : helpers)
            if (sched_getscheduler(id) != SCHED_OTHER) return 13;
        return sched_getscheduler(0) == SCHED_RR ? 0 : 14;
    });
    if (status == 77) GTEST_SKIP() << "this process may not use real-time scheduling";
    EXPECT_EQ(status, 0) << "12: helpers not kept; 13: a helper runs at real-time priority";
}

}  // namespace
}  // namespace velmora::vfw
