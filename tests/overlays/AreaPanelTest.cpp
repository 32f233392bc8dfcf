// The companion panel on the private X server (1280 x 720): what it takes
// from the settings at creation, its limits, and what its edits write back.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>

#include <cstdlib>

#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "tests/support/TestEnv.h"

using namespace velmora;

namespace {

class AreaPanelTest : public testing::Test {
  protected:
    void SetUp() override { Settings = TSettings{}; }
    void TearDown() override { Settings = TSettings{}; }

    // A specific-area capture of the given region in the settings.
    static void StoreArea(int left, int top, int width, int height) {
        Settings.TypeCapture = 0;
        Settings.RegionLeftPos = left;
        Settings.RegionTopPos = top;
        Settings.RegionWidthPos = width;
        Settings.RegionHeightPos = height;
    }

    static QString Text(QWidget* form, const char* name) {
        auto* label = form->findChild<QLabel*>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("<missing>");
    }
};

TEST_F(AreaPanelTest, ShowsTheStoredAreaWithItsCaptionsAndLimits) {
    StoreArea(40, 30, 320, 240);
    AreaPanel form(nullptr);

    EXPECT_EQ(form.windowTitle(), QStringLiteral("Details"));
    EXPECT_EQ(Text(&form, "leftLabel"), QStringLiteral("Left :"));
    EXPECT_EQ(Text(&form, "topLabel"), QStringLiteral("Top :"));
    EXPECT_EQ(Text(&form, "widthLabel"), QStringLiteral("Width :"));
    EXPECT_EQ(Text(&form, "heightLabel"), QStringLiteral("Height :"));
    for (const char* px : {"topUnit", "leftUnit", "widthUnit", "heightUnit"})
        EXPECT_EQ(Text(&form, px), QStringLiteral("px")) << px;
    auto* group = form.findChild<QGroupBox*>(QStringLiteral("figuresGroup"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Information"));
    EXPECT_EQ(form.figuresLabel->parentWidget(), group);

    EXPECT_EQ(form.leftEdit->value(), 40);
    EXPECT_EQ(form.topEdit->value(), 30);
    EXPECT_EQ(form.widthEdit->value(), 320);
    EXPECT_EQ(form.heightEdit->value(), 240);
    for (QSpinBox* edit : {form.topEdit, form.leftEdit, form.widthEdit, form.heightEdit})
        EXPECT_TRUE(edit->isEnabled());

    // Positions: 0 .. the screen, typed or stepped by 1.
    EXPECT_EQ(form.topEdit->maximum(), 719);
    EXPECT_EQ(form.leftEdit->maximum(), 1279);
    EXPECT_EQ(form.leftEdit->singleStep(), 1);
    EXPECT_FALSE(form.leftEdit->findChild<QLineEdit*>()->isReadOnly());
    // Sizes: stepped by 8 with the arrows, or typed.
    EXPECT_EQ(form.widthEdit->minimum(), 10);
    EXPECT_EQ(form.widthEdit->maximum(), 5000);
    EXPECT_EQ(form.heightEdit->maximum(), 2500);
    EXPECT_EQ(form.heightEdit->singleStep(), 8);
    form.widthEdit->stepUp();
    EXPECT_EQ(Settings.RegionWidthPos, 328);
}

// A size typed into the panel is the size recorded: it counts once typed
// out, not at each digit.
TEST_F(AreaPanelTest, SizesAndPositionsAreTypedAndTakenOnEnter) {
    StoreArea(40, 30, 320, 240);
    AreaPanel form(nullptr);
    for (QSpinBox* edit : {form.topEdit, form.leftEdit, form.widthEdit, form.heightEdit}) {
        QLineEdit* text = edit->findChild<QLineEdit*>();
        ASSERT_NE(text, nullptr);
        EXPECT_FALSE(text->isReadOnly()) << edit->objectName().toStdString();
    }
    const auto type = [](QSpinBox* edit, const char* digits) {
        QLineEdit* text = edit->findChild<QLineEdit*>();
        text->selectAll();
        QTest::keyClicks(text, QLatin1String(digits));
    };
    type(form.widthEdit, "333");
    EXPECT_EQ(Settings.RegionWidthPos, 320);  // not yet: a digit more may follow
    QTest::keyClick(form.widthEdit->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_EQ(Settings.RegionWidthPos, 333);
    type(form.heightEdit, "201");
    QTest::keyClick(form.heightEdit->findChild<QLineEdit*>(), Qt::Key_Enter);
    EXPECT_EQ(Settings.RegionHeightPos, 201);
    type(form.leftEdit, "17");
    QTest::keyClick(form.leftEdit->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_EQ(Settings.RegionLeftPos, 17);
    // Below the smallest size the field does not take it.
    type(form.widthEdit, "4");
    QTest::keyClick(form.widthEdit->findChild<QLineEdit*>(), Qt::Key_Return);
    EXPECT_GE(Settings.RegionWidthPos, 10);
}

TEST_F(AreaPanelTest, FullScreenDisablesTheEditsAndAStoredPositionBeyondTheScreenIsKept) {
    Settings.TypeCapture = 1;
    Settings.RegionTopPos = 900;  // from a taller screen
    AreaPanel form(nullptr);
    for (QSpinBox* edit : {form.topEdit, form.leftEdit, form.widthEdit, form.heightEdit})
        EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(form.topEdit->value(), 900);
    EXPECT_EQ(Settings.RegionTopPos, 900);
}

TEST_F(AreaPanelTest, ValuesPutIntoTheEditsAreClampedAndWrittenToTheSettings) {
    AreaPanel form(nullptr);
    form.ShowRegion(-5, 12, 7000, 3);
    EXPECT_EQ(Settings.RegionLeftPos, 0);
    EXPECT_EQ(Settings.RegionTopPos, 12);
    EXPECT_EQ(Settings.RegionWidthPos, 5000);
    EXPECT_EQ(Settings.RegionHeightPos, 10);
    form.leftEdit->setValue(100);
    EXPECT_EQ(Settings.RegionLeftPos, 100);
}

}  // namespace

// On the RandR server at 7680x2160 (the panel's window stays on the main
// test display; only the screen's size is read from there).
TEST_F(AreaPanelTest, LimitsFollowTheWholeScreenSoALargeDesktopsAreaIsNotCut) {
    const std::string randr = test::displayRandr();
    if (randr.empty()) GTEST_SKIP() << "needs the x11 fixture";
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", randr.c_str(), 1);
    ASSERT_EQ(test::run("xrandr -s 7680x2160"), 0);
    StoreArea(0, 0, 7680, 2160);
    {
        AreaPanel form(nullptr);
        EXPECT_EQ(form.widthEdit->value(), 7680);
        EXPECT_EQ(form.heightEdit->value(), 2160);
        EXPECT_EQ(form.widthEdit->maximum(), 7680);
        EXPECT_EQ(form.heightEdit->maximum(), 2500);  // never below the edit's own
        EXPECT_EQ(form.leftEdit->maximum(), 7679);
        EXPECT_EQ(form.topEdit->maximum(), 2159);
        EXPECT_EQ(Settings.RegionWidthPos, 7680);

        // Back on a small screen the stored area stays until the user changes it.
        ASSERT_EQ(test::run("xrandr -s 1280x720"), 0);
        form.leftEdit->setValue(900);
        form.UpdateLimits();
        EXPECT_EQ(form.widthEdit->maximum(), 7680);
        EXPECT_EQ(form.leftEdit->maximum(), 1279);
        EXPECT_EQ(form.leftEdit->value(), 900);
        form.ShowRegion(1200, 600, 640, 360);
        EXPECT_EQ(form.leftEdit->value(), 1200);
        EXPECT_EQ(Settings.RegionWidthPos, 640);
    }
    test::run("xrandr -s 1920x1080");
    setenv("DISPLAY", display.c_str(), 1);
}
