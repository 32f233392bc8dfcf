// The red frame inside the headless Wayland session: it cannot be placed at
// screen positions there, so it stays hidden and says so once.

#include <gtest/gtest.h>

#include <QApplication>

#include "overlays/CaptureFrame.h"

namespace {

QStringList messages;

void Collect(QtMsgType, const QMessageLogContext&, const QString& text) {
    messages << text;
}

TEST(CaptureFrameOnWayland, StaysHiddenAndSaysSoOnce) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    EXPECT_FALSE(velmora::CaptureFrame::Placeable());
    velmora::CaptureFrame wnd;
    wnd.SetupRegion(100, 100, 320, 200, false, QStringLiteral("Recording"));
    qInstallMessageHandler(Collect);
    for (int i = 0; i < 3; ++i) {
        wnd.ShowOnTop();
        wnd.Restore();
        QCoreApplication::processEvents();
    }
    qInstallMessageHandler(nullptr);
    EXPECT_FALSE(wnd.isVisible());
    ASSERT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages.front().contains(QStringLiteral("Wayland")));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
