// The compressor catalogue: which installed compressors are listed, in what
// order and under which names, and what the options dialog may ask of them.

#include <gtest/gtest.h>

#include "tests/engine/EngineTestSupport.h"

using namespace velmora::enginetest;
using velmora::vfw::ICDriver;

namespace {

// A size driver that counts how often the program asks for its options.
class CountingDriver : public SizeDriver {
  public:
    using SizeDriver::SizeDriver;
    std::vector<velmora::vfw::ICCONFIGOPTION> options() const override {
        ++optionQueries;
        return {};
    }
    mutable std::atomic<int> optionQueries{0};
};

std::shared_ptr<SizeDriver> accepting(const char* name) {
    return std::make_shared<SizeDriver>(MakeFourCC(name[0], name[1], name[2], name[3]), name,
                                        [](int, int) { return true; });
}

FOURCC fourcc(const char* name) {
    return MakeFourCC(name[0], name[1], name[2], name[3]);
}

class CatalogueTest : public EngineTest {};

}  // namespace

TEST_F(CatalogueTest, NoCompressorOrNoneTakingTheDesktopsFramesGivesAnEmptyList) {
    InstallDrivers({});
    auto& camera = Make();
    EXPECT_TRUE(camera.ListCompressors().empty());
    EXPECT_EQ(camera.CompressorCount, 0);

    // XVID takes 24- and 32-bit frames only: on an 8-bit desktop nothing is left.
    InstallDrivers({{fourcc("XVID"), velmora::vfw::ICGetBuiltinDriver(fourcc("XVID"))}});
    auto& eightBit = Make(640, 480, 8);
    EXPECT_TRUE(eightBit.ListCompressors().empty());
    EXPECT_EQ(eightBit.CompressorCount, 0);
}

TEST_F(CatalogueTest, OnlyTheFirstThirtyTwoCompressorsAreAsked) {
    std::vector<std::pair<FOURCC, std::shared_ptr<ICDriver>>> drivers;
    for (int i = 0; i < 33; ++i) {
        const std::string name = "T" + std::to_string(100 + i);
        drivers.emplace_back(fourcc(name.c_str()), accepting(name.c_str()));
    }
    InstallDrivers(drivers);
    auto& camera = Make();
    const auto& names = camera.ListCompressors();
    ASSERT_EQ(names.size(), 32u);
    EXPECT_EQ(camera.CompressorCount, 32);
    EXPECT_EQ(names.front(), "Test codec T100");
    EXPECT_EQ(names.back(), "Test codec T131");
}

TEST_F(CatalogueTest, ARefusedProbeLeavesNothingBehind) {
    auto refusing =
        std::make_shared<SizeDriver>(fourcc("NOPE"), "NOPE", [](int, int) { return false; });
    InstallDrivers({{fourcc("AAAA"), accepting("AAAA")},
                    {fourcc("NOPE"), refusing},
                    {fourcc("BBBB"), accepting("BBBB")}});
    auto& camera = Make();
    EXPECT_EQ(camera.ListCompressors(),
              (std::vector<std::string>{"Test codec AAAA", "Test codec BBBB"}));
    EXPECT_EQ(camera.Compressors[1].fccHandler, fourcc("BBBB"));
    EXPECT_EQ(camera.Compressors[2].fccHandler, 0u);  // nothing of NOPE stays in the free slot
    // The probe is the area's size at that moment.
    EXPECT_EQ(refusing->queried.back(), std::make_pair(camera.Width.load(), camera.Height.load()));
}

TEST_F(CatalogueTest, OutOfRangeIndicesOpenNothing) {
    auto driver =
        std::make_shared<CountingDriver>(fourcc("CNT1"), "CNT1", [](int, int) { return true; });
    InstallDrivers({{fourcc("CNT1"), driver}});
    auto& camera = Make();
    camera.ListCompressors();
    const auto none = camera.QueryCompressor(255);  // index -1 as the settings pass it
    EXPECT_FALSE(none.hasAbout);
    EXPECT_FALSE(none.hasConfigure);
    camera.ConfigureCompressor(1, nullptr);
    EXPECT_EQ(driver->optionQueries, 0);
    camera.QueryCompressor(0);
    EXPECT_GT(driver->optionQueries, 0);
}

TEST_F(CatalogueTest, ListShowsDescriptionsWhileARecordingShowsTheShortName) {
    InstallDrivers({{fourcc("XVID"), velmora::vfw::ICGetBuiltinDriver(fourcc("XVID"))}});
    auto& camera = Make();
    ASSERT_EQ(camera.ListCompressors(), std::vector<std::string>{"Xvid MPEG-4 Codec"});
    camera.CompressorIndex = 0;
    camera.TimeLimit = {true, 0, 0, 0};
    EXPECT_EQ(RunOnce(Target()), 1);
    EXPECT_EQ(camera.CompressorName, "Xvid");
}

TEST_F(CatalogueTest, BuiltInCompressorsInTheirOrderAtEachDesktopDepth) {
    auto& camera32 = Make(1024, 768, 32);
    EXPECT_EQ(
        camera32.ListCompressors(),
        (std::vector<std::string>{"Microsoft Video 1", "Xvid MPEG-4 Codec", "Motion JPEG",
                                  "H.264 (x264)", "HuffYUV Lossless", "Zip Motion Blocks Video",
                                  "FFV1 Lossless", "Full Frames (Uncompressed)"}));
    // A probe of an odd size leaves out what needs even or multiple-of-4 sizes.
    camera32.Width = 301;
    camera32.Height = 201;
    EXPECT_EQ(
        camera32.ListCompressors(),
        (std::vector<std::string>{"Motion JPEG", "HuffYUV Lossless", "Zip Motion Blocks Video",
                                  "FFV1 Lossless", "Full Frames (Uncompressed)"}));
    auto& camera16 = Make(1024, 768, 16);
    EXPECT_EQ(camera16.ListCompressors(),
              (std::vector<std::string>{"Microsoft Video 1", "Zip Motion Blocks Video",
                                        "Full Frames (Uncompressed)"}));
}
