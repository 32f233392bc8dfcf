// The main window inside the headless Wayland session, where the compositor
// places every window: the companion panel opens as a part of the main
// window, right of its controls, and never over them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>

#include "common/ProgramFolder.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "shell/MainWindow.h"
#include "tests/support/WindowTestSupport.h"

namespace {

using namespace velmora;

TEST(MainWindowOnWayland, PanelOpensInsideTheWindowBesideItsControls) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkdir(QStringLiteral("Language"));
    QFile::copy(QStringLiteral(VELMORA_LANGUAGE_DIR "/English.lng"),
                dir.filePath(QStringLiteral("Language/English.lng")));
    QFile setup(dir.filePath(QStringLiteral("Setup.ini")));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write(QStringLiteral("[SetupVideo]\nWorkDir=%1/\n[SetupApp]\nSendStats=0\n")
                    .arg(dir.path())
                    .toUtf8());
    setup.close();
    SetProgramFolder(dir.path().toStdString() + "/");

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
    EXPECT_TRUE(strip->text().startsWith(QStringLiteral("<")));

    strip->click();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(form.size(), before);
    EXPECT_TRUE(strip->text().startsWith(QStringLiteral(">")));
    SetProgramFolder("");
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    velmora::ChooseScreen({});
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
