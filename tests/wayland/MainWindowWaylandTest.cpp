// The main window inside the headless Wayland session, where the compositor
// places every window: the companion panel opens as a part of the main
// window, right of its controls, and never over them; and the Window button
// follows what the session's portal offers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "shell/MainWindow.h"
#include "tests/support/WindowTestSupport.h"

namespace {

using namespace velmora;

// A program folder of the test's own, with the English texts.
class MainWindowOnWayland : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
        ASSERT_TRUE(dir_.isValid());
        QDir(dir_.path()).mkdir(QStringLiteral("Language"));
        QFile::copy(QStringLiteral(VELMORA_LANGUAGE_DIR "/English.lng"),
                    dir_.filePath(QStringLiteral("Language/English.lng")));
        QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(QStringLiteral("[SetupVideo]\nWorkDir=%1/\n[SetupApp]\nSendStats=0\n")
                        .arg(dir_.path())
                        .toUtf8());
        setup.close();
        SetProgramFolder(dir_.path().toStdString() + "/");
    }
    void TearDown() override { SetProgramFolder(""); }
    QTemporaryDir dir_;
};

TEST_F(MainWindowOnWayland, PanelOpensInsideTheWindowBesideItsControls) {
    MainWindow form;
    form.show();
    ASSERT_TRUE(test::Until([&] { return form.isVisible() && form.windowHandle(); }));
    const QSize before = form.size();
    AreaPanel* panel = form.Panel();
    auto* strip = form.findChild<QToolButton*>(QStringLiteral("panelButton"));
    ASSERT_TRUE(panel && strip);
    EXPECT_FALSE(panel->isVisible());

    strip->click();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->window(), &form);
    // Wholly inside the window above the status line, and over none of the
    // main window's own controls.
    const QRect inside(panel->mapTo(&form, QPoint(0, 0)), panel->size());
    EXPECT_TRUE(form.centralWidget()->geometry().contains(inside))
        << form.width() << "x" << form.height();
    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (control == panel || panel->isAncestorOf(control) || !control->isVisible() ||
            control->parentWidget() != form.centralWidget())
            continue;
        const QRect at(control->mapTo(&form, QPoint(0, 0)), control->size());
        EXPECT_FALSE(at.intersects(inside)) << control->objectName().toStdString();
    }
    EXPECT_EQ(strip->arrowType(), Qt::LeftArrow);

    strip->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(form.size(), before);
    EXPECT_EQ(strip->arrowType(), Qt::RightArrow);
}

// The session's portal (xdg-desktop-portal-wlr) shares monitors only.
TEST_F(MainWindowOnWayland, TheWindowButtonIsOffAndItsTooltipSaysWhy) {
    MainWindow form;
    form.show();
    ASSERT_TRUE(test::Until([&] { return form.isVisible(); }));
    auto* window = form.findChild<QToolButton*>(QStringLiteral("windowButton"));
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(window->toolTip(), MsgTexts(27));
    EXPECT_TRUE(window->toolTip().contains(QStringLiteral("no single windows")));
    // The other modes are there as ever.
    EXPECT_TRUE(form.findChild<QToolButton*>(QStringLiteral("areaButton"))->isEnabled());
    EXPECT_TRUE(form.findChild<QToolButton*>(QStringLiteral("fullScreenButton"))->isEnabled());
}

}  // namespace

// Entry of the tests that run inside the headless Wayland session, as a
// Wayland client.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    velmora::ChooseScreen({});
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Libraries Qt loads and unloads again (Mesa's, probed for EGL) stay loaded:
// a leak report inside an unloaded library names no library, and cannot be
// told from ours.
extern "C" int dlclose(void*) {
    return 0;
}
