// The compressor manager: enumeration, size questions, configuration and
// installable drivers.

#include <gtest/gtest.h>

#include "engine/vfw/CodecDrivers.h"
#include "tests/vfw/VfwTestSupport.h"

namespace velmora::vfwtest {
namespace {

std::u16string text(const char16_t* s) {
    return std::u16string(s);
}

LRESULT query(FOURCC handler, int width, int height, int bits) {
    HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
    if (!hic) return ICERR_BADHANDLE;
    BITMAPINFOHEADER probe = *testFrame(width, height, bits, 0).header();
    const LRESULT r = ICCompressQuery(hic, &probe, nullptr);
    ICClose(hic);
    return r;
}

class VfwCompressors : public ::testing::Test {
  protected:
    void TearDown() override {
        ICRestoreBuiltinDrivers();
        ICSetConfigureHook({});
    }
};

TEST_F(VfwCompressors, EnumeratesTheBuiltInDriversInOrderThenNoMore) {
    const char* handlers[] = {"MSVC", "XVID", "MJPG", "H264", "HFYU", "ZMBV", "FFV1", "DIB "};
    for (DWORD i = 0; i < 8; ++i) {
        ICINFO info{};
        ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, i, &info)) << i;
        EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
        EXPECT_EQ(fourccText(info.fccHandler), handlers[i]);
        EXPECT_EQ(info.dwSize, sizeof(ICINFO));
    }
    ICINFO info{};
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 8, &info));
    EXPECT_FALSE(ICInfo(ICTYPE_AUDIO, 0, &info));

    HIC hic = ICOpen(ICTYPE_VIDEO, MakeFourCC('h', '2', '6', '4'), ICMODE_QUERY);  // any case
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(ICGetInfo(hic, &info, sizeof(info)), LRESULT(sizeof(ICINFO)));
    EXPECT_EQ(text(info.szName), u"x264");
    EXPECT_EQ(text(info.szDescription), u"H.264 (x264)");
    ICClose(hic);
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MakeFourCC('N', 'O', 'N', 'E'), ICMODE_QUERY), nullptr);
}

TEST_F(VfwCompressors, SizeAndDepthQuestionsFollowTheCodecsLimits) {
    const FOURCC msvc = MakeFourCC('M', 'S', 'V', 'C');
    const FOURCC xvid = MakeFourCC('X', 'V', 'I', 'D');
    const FOURCC h264 = MakeFourCC('H', '2', '6', '4');
    const FOURCC zmbv = MakeFourCC('Z', 'M', 'B', 'V');
    const FOURCC mjpg = MakeFourCC('M', 'J', 'P', 'G');
    EXPECT_NE(query(msvc, 301, 200, 32), ICERR_OK);
    EXPECT_NE(query(msvc, 302, 200, 32), ICERR_OK);
    EXPECT_EQ(query(msvc, 304, 200, 32), ICERR_OK);
    EXPECT_EQ(query(msvc, 304, 200, 8), ICERR_OK);
    EXPECT_NE(query(xvid, 301, 200, 32), ICERR_OK);
    EXPECT_NE(query(xvid, 302, 201, 32), ICERR_OK);
    EXPECT_EQ(query(xvid, 302, 200, 32), ICERR_OK);
    EXPECT_NE(query(xvid, 302, 200, 8), ICERR_OK);
    EXPECT_NE(query(h264, 301, 200, 24), ICERR_OK);
    EXPECT_EQ(query(mjpg, 301, 201, 24), ICERR_OK);
    EXPECT_NE(query(zmbv, 300, 200, 24), ICERR_OK);
    EXPECT_EQ(query(zmbv, 301, 201, 16), ICERR_OK);

    // A format the caller wants out must be the driver's own.
    HIC hic = ICOpen(ICTYPE_VIDEO, xvid, ICMODE_QUERY);
    BITMAPINFOHEADER in = *testFrame(320, 240, 32, 0).header();
    BITMAPINFOHEADER out = in;
    out.biCompression = xvid;
    EXPECT_EQ(ICCompressQuery(hic, &in, &out), ICERR_OK);
    out.biCompression = h264;
    EXPECT_NE(ICCompressQuery(hic, &in, &out), ICERR_OK);
    ICClose(hic);
}

TEST_F(VfwCompressors, ConfigurationGoesThroughTheProgramsDialogHook) {
    auto ask = [](FOURCC handler) {
        HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
        const bool configure = ICQueryConfigure(hic);
        const bool about = ICQueryAbout(hic);
        ICClose(hic);
        return std::make_pair(configure, about);
    };
    const FOURCC h264 = MakeFourCC('H', '2', '6', '4');
    EXPECT_EQ(ask(h264), std::make_pair(false, false));  // no dialog without a hook

    std::vector<ICCONFIGOPTION> shown;
    void* parentSeen = nullptr;
    ICSetConfigureHook([&](HWND parent, const ICINFO&, std::vector<ICCONFIGOPTION>& options) {
        parentSeen = parent;
        shown = options;
        for (auto& o : options) {
            if (o.key == "preset") o.value = "veryfast";
            if (o.key == "tune") o.value = "no-such-tune";  // refused, kept as it was
        }
        return true;
    });
    EXPECT_EQ(ask(h264), std::make_pair(true, false));
    EXPECT_EQ(ask(MakeFourCC('X', 'V', 'I', 'D')).first, true);
    EXPECT_EQ(ask(MakeFourCC('M', 'J', 'P', 'G')).first, true);
    EXPECT_EQ(ask(MakeFourCC('H', 'F', 'Y', 'U')).first, false);
    EXPECT_EQ(ask(MakeFourCC('D', 'I', 'B', ' ')).first, false);

    int window = 0;
    HIC hic = ICOpen(ICTYPE_VIDEO, h264, ICMODE_QUERY);
    EXPECT_EQ(ICConfigure(hic, &window), ICERR_OK);
    ICClose(hic);
    EXPECT_EQ(parentSeen, &window);
    ASSERT_EQ(shown.size(), 2u);
    auto now = ICGetBuiltinDriver(h264)->options();
    EXPECT_EQ(now[0].value, "veryfast");
    EXPECT_EQ(now[1].value, "none");

    // The chosen preset still records.
    TempDir dir;
    WriteSetup setup;
    setup.handler = h264;
    setup.width = 64;
    setup.height = 48;
    EXPECT_EQ(writeVideo(dir.file("p.avi"), setup, {0, 1, 2}), AVIERR_OK);
    now[0].value = "ultrafast";
    ICGetBuiltinDriver(h264)->setOptions(now);
}

// Accepts only the sizes listed, compressing with the full-frames driver.
class ChosenSizesDriver : public ICDriver {
  public:
    ChosenSizesDriver(FOURCC handler, std::vector<std::pair<int, int>> sizes)
        : handler_(handler), sizes_(std::move(sizes)) {}
    void getInfo(ICINFO& info) const override {
        info = ICINFO{};
        info.fccType = ICTYPE_VIDEO;
        info.fccHandler = handler_;
        const char16_t name[] = u"Chosen";
        std::copy(std::begin(name), std::end(name), info.szName);
    }
    LRESULT compressQuery(const BITMAPINFO* in, const BITMAPINFO*) const override {
        for (auto [w, h] : sizes_) {
            if (in->bmiHeader.biWidth == w && in->bmiHeader.biHeight == h) return ICERR_OK;
        }
        return ICERR_BADFORMAT;
    }
    std::unique_ptr<ICCompressor> openCompressor(const ICCOMPRESSSETUP& s,
                                                 HRESULT* error) override {
        return ICGetBuiltinDriver(MakeFourCC('D', 'I', 'B', ' '))->openCompressor(s, error);
    }

  private:
    FOURCC handler_;
    std::vector<std::pair<int, int>> sizes_;
};

TEST_F(VfwCompressors, TestDriversInstallAndRemoveLikeRealOnes) {
    const FOURCC mine = MakeFourCC('T', 'E', 'S', 'T');
    auto driver =
        std::make_shared<ChosenSizesDriver>(mine, std::vector<std::pair<int, int>>{{64, 48}});
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, mine, driver));
    EXPECT_FALSE(ICInstall(ICTYPE_VIDEO, mine, driver));  // once only
    ICINFO info{};
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 8, &info));  // after the built-in ones
    EXPECT_EQ(info.fccHandler, mine);
    EXPECT_EQ(query(mine, 64, 48, 32), ICERR_OK);
    EXPECT_NE(query(mine, 64, 50, 32), ICERR_OK);

    TempDir dir;
    WriteSetup setup;
    setup.handler = mine;
    setup.width = 64;
    setup.height = 48;
    EXPECT_EQ(writeVideo(dir.file("t.avi"), setup, {0, 2}), AVIERR_OK);
    EXPECT_EQ(probeStream(dir.file("t.avi"), 0, "codec_name"), "rawvideo");

    EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, mine));
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 8, &info));

    ICRemoveAll();
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 0, &info));
    for (int i = 0; i < 33; ++i) {
        const FOURCC f = MakeFourCC('T', char('A' + i / 10), char('0' + i % 10), ' ');
        ASSERT_TRUE(
            ICInstall(ICTYPE_VIDEO, f,
                      std::make_shared<ChosenSizesDriver>(f, std::vector<std::pair<int, int>>{})));
    }
    EXPECT_TRUE(ICInfo(ICTYPE_VIDEO, 32, &info));
    EXPECT_EQ(info.fccHandler, MakeFourCC('T', 'D', '2', ' '));

    ICRestoreBuiltinDrivers();
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, 0, &info));
    EXPECT_EQ(fourccText(info.fccHandler), "MSVC");
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 8, &info));
}

TEST(VfwCodecSettings, ZipMotionBlocksQualityBuysZlibLevelsNotSearch) {
    // libavcodec refuses levels outside 0..9, and level 0 would store the
    // frames uncompressed; a search of 0 means its slow default of 8.
    int last = 0;
    for (DWORD q = 0; q <= 10000; q += 500) {
        const ZmbvSettings z = zmbvSettings(q);
        EXPECT_GE(z.zlibLevel, 1) << q;
        EXPECT_LE(z.zlibLevel, 6) << q;
        EXPECT_GE(z.zlibLevel, last) << q;
        EXPECT_EQ(z.motionRange, 1) << q;
        last = z.zlibLevel;
    }
    EXPECT_EQ(zmbvSettings(0).zlibLevel, 1);
    EXPECT_EQ(zmbvSettings(9000).zlibLevel, 5);  // the program's default quality
    EXPECT_EQ(zmbvSettings(10000).zlibLevel, 6);
    EXPECT_EQ(zmbvSettings(70000).zlibLevel, 6);
}

}  // namespace
}  // namespace velmora::vfwtest
