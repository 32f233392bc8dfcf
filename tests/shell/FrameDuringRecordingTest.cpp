// The capture frame around a recorded area, as the program shows it: the
// engine on its Qt host on the private X server. The frame must mark the
// area on the screen and never reach the recording, at every scale factor
// (this test also runs with QT_SCALE_FACTOR 1.5 and 2 and with Xft.dpi 192).

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>

#include <cstdio>
#include <vector>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "engine/ScreenCamera.h"
#include "platform/x11/Desktop.h"
#include "shell/QtCameraHost.h"
#include "tests/support/TestEnv.h"

using namespace velmora;

namespace {

constexpr int kLeft = 300, kTop = 200, kWidth = 320, kHeight = 240;
constexpr std::uint32_t kRed = 0xff0000;

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents();
        QThread::msleep(5);
    } while (t.elapsed() < ms);
}

bool pumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents();
        QThread::msleep(2);
    }
    return true;
}

struct Screen {
    std::unique_ptr<platform::Desktop> desktop = platform::openX11Desktop();
    std::vector<std::uint8_t> bits;
    platform::DibRows rows;
    void grab() {
        rows = {nullptr, desktop->width(), desktop->height(), 32, nullptr};
        bits.assign(static_cast<std::size_t>(rows.stride() * rows.height), 0);
        rows.bits = bits.data();
        ASSERT_TRUE(desktop->grab(0, 0, rows));
    }
    std::uint32_t at(int x, int y) const {
        const std::uint8_t* p = rows.row(y) + x * 4;
        return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
    }
};

// Paints the root window a plain grey, so any red comes from the frame.
void paintRoot() {
    ASSERT_EQ(test::run("xsetroot -solid '#808080'"), 0);
}

class FrameDuringRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(test::display24().empty()) << "no test display: run the test through ctest";
        SetProgramFolder(VELMORA_BUILD_DIR);  // its Language/ gives the caption
        ApplyLanguage();
        paintRoot();
        window.resize(200, 100);
        window.move(900, 500);
        window.show();
        host = std::make_unique<QtCameraHost>(&window, QtCameraHost::Hooks{});
        camera = std::make_unique<engine::TScreenCamera>(*host);
        const auto& names = camera->ListCompressors();
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == "Full Frames (Uncompressed)") camera->CompressorIndex = int(i);
        ASSERT_GE(camera->CompressorIndex, 0);
        camera->Mode = engine::CaptureMode::FixedArea;
        camera->Left = kLeft;
        camera->Top = kTop;
        camera->Width = kWidth;
        camera->Height = kHeight;
        camera->FramesPerSecond = 10;
        camera->FrameInterval = 100;
        camera->MinimizeOnRecord = false;
        camera->RestoreAfterRecord = false;
    }
    void TearDown() override {
        camera.reset();
        host.reset();
        SetProgramFolder("");
        test::run("xsetroot -solid black");
    }

    QTemporaryDir out;
    QWidget window;
    std::unique_ptr<QtCameraHost> host;
    std::unique_ptr<engine::TScreenCamera> camera;
};

}  // namespace

TEST_F(FrameDuringRecording, MarksTheAreaOnScreenButNotInTheFile) {
    const std::string target = out.path().toStdString() + "/VideoRecord_frame.avi";
    camera->StartRecording(target);
    pump(600);

    Screen screen;
    ASSERT_TRUE(screen.desktop);
    screen.grab();
    // The four corners: strips at x-4, x-3 / x+w, x+w+1 and y-4, y-3 / y+h, y+h+1.
    for (int d = 0; d < 20; ++d) {
        EXPECT_EQ(screen.at(kLeft - 4 + d, kTop - 4), kRed) << d;
        EXPECT_EQ(screen.at(kLeft - 3, kTop - 4 + d), kRed) << d;
        EXPECT_EQ(screen.at(kLeft + kWidth + 1 - d, kTop - 3), kRed) << d;
        EXPECT_EQ(screen.at(kLeft - 4 + d, kTop + kHeight + 1), kRed) << d;
        EXPECT_EQ(screen.at(kLeft + kWidth, kTop + kHeight + 1 - d), kRed) << d;
    }
    EXPECT_NE(screen.at(kLeft + kWidth / 2, kTop - 4), kRed);  // only corners
    // The caption: blue text on white just above the top-left corner.
    int blue = 0, white = 0;
    for (int y = kTop - 30; y < kTop - 4; ++y)
        for (int x = kLeft - 4; x < kLeft + 100; ++x) {
            blue += screen.at(x, y) == 0x0000ffu;
            white += screen.at(x, y) == 0xffffffu;
        }
    EXPECT_GT(blue, 20);
    EXPECT_GT(white, 20);
    for (int y = kTop; y < kTop + kHeight; ++y)
        for (int x = kLeft; x < kLeft + kWidth; ++x)
            ASSERT_NE(screen.at(x, y), kRed) << x << "," << y;

    // Minimising the program leaves the frame up.
    window.showMinimized();
    pump(200);
    screen.grab();
    EXPECT_EQ(screen.at(kLeft - 4, kTop - 4), kRed);

    // After a stop the frame goes at the next tick of the 20 ms timer.
    camera->StopRecording();
    EXPECT_TRUE(pumpUntil(
        [&] {
            screen.grab();
            return screen.at(kLeft - 4, kTop - 4) != kRed;
        },
        100));
    ASSERT_TRUE(pumpUntil([&] { return !camera->WorkerRunning(); }, 20000));

    // Every recorded frame, decoded, holds no pure red.
    const std::string command =
        "ffmpeg -v error -i '" + target + "' -f rawvideo -pix_fmt rgb24 - | od -An -v -tu1 -w3";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    unsigned r, g, b;
    long pixels = 0, red = 0;
    while (std::fscanf(pipe, "%u %u %u", &r, &g, &b) == 3) {
        ++pixels;
        red += r > 200 && g < 60 && b < 60;
    }
    pclose(pipe);
    EXPECT_GE(pixels, long(kWidth) * kHeight * 3);  // a few frames at least
    EXPECT_EQ(red, 0);
}
