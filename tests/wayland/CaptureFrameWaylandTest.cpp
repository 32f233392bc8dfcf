// The red frame inside the headless Wayland session: it cannot be placed at
// screen positions there, so it stays hidden and says so once, in the log.

#include <gtest/gtest.h>

#include <QApplication>

#include "common/EventLog.h"
#include "overlays/CaptureFrame.h"
#include "overlays/ScreenPixels.h"

namespace {

TEST(CaptureFrameOnWayland, StaysHiddenAndSaysSoOnce) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    EXPECT_FALSE(velmora::WindowsPlaceable());
    velmora::CaptureFrame wnd;
    wnd.SetupRegion(100, 100, 320, 200, false, QStringLiteral("Recording"));
    QStringList messages;
    velmora::ProgramLog().SetStatusSink([&messages](const QString& text) { messages << text; });
    for (int i = 0; i < 3; ++i) {
        wnd.ShowOnTop();
        wnd.Restore();
        QCoreApplication::processEvents();
    }
    velmora::ProgramLog().SetStatusSink({});
    EXPECT_FALSE(wnd.isVisible());
    ASSERT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages.front().contains(QStringLiteral("Wayland")));
}

}  // namespace
