// The companion panel on the private X server (1280 x 720): what it takes
// from the settings at creation, its limits, and what its edits write back.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <cstdlib>

#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "tests/support/TestEnv.h"

using namespace velmora;

namespace {

class AddFormTest : public testing::Test {
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

TEST_F(AddFormTest, ShowsTheStoredAreaWithItsCaptionsAndLimits) {
    StoreArea(40, 30, 320, 240);
    TAddForm form(nullptr);

    EXPECT_EQ(form.windowTitle(), QStringLiteral("Positions and information"));
    EXPECT_EQ(Text(&form, "Label3"), QStringLiteral("Left :"));
    EXPECT_EQ(Text(&form, "Label2"), QStringLiteral("Top :"));
    EXPECT_EQ(Text(&form, "Label4"), QStringLiteral("Width :"));
    EXPECT_EQ(Text(&form, "Label5"), QStringLiteral("Height :"));
    for (const char* px : {"Label9", "Label11", "Label13", "Label14"})
        EXPECT_EQ(Text(&form, px), QStringLiteral("px")) << px;
    auto* group = form.findChild<QGroupBox*>(QStringLiteral("GroupBox1"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Information"));
    EXPECT_EQ(form.Label1->parentWidget(), group);

    EXPECT_EQ(form.sSpinEdit2->value(), 40);
    EXPECT_EQ(form.sSpinEdit1->value(), 30);
    EXPECT_EQ(form.sSpinEdit3->value(), 320);
    EXPECT_EQ(form.sSpinEdit4->value(), 240);
    for (QSpinBox* edit : {form.sSpinEdit1, form.sSpinEdit2, form.sSpinEdit3, form.sSpinEdit4})
        EXPECT_TRUE(edit->isEnabled());

    // Positions: 0 .. the screen, typed or stepped by 1.
    EXPECT_EQ(form.sSpinEdit1->maximum(), 719);
    EXPECT_EQ(form.sSpinEdit2->maximum(), 1279);
    EXPECT_EQ(form.sSpinEdit2->singleStep(), 1);
    EXPECT_FALSE(form.sSpinEdit2->findChild<QLineEdit*>()->isReadOnly());
    // Sizes: stepped by 8 with the arrows only.
    EXPECT_EQ(form.sSpinEdit3->minimum(), 10);
    EXPECT_EQ(form.sSpinEdit3->maximum(), 5000);
    EXPECT_EQ(form.sSpinEdit4->maximum(), 2500);
    EXPECT_EQ(form.sSpinEdit4->singleStep(), 8);
    EXPECT_TRUE(form.sSpinEdit3->findChild<QLineEdit*>()->isReadOnly());
    form.sSpinEdit3->stepUp();
    EXPECT_EQ(Settings.RegionWidthPos, 328);
}

TEST_F(AddFormTest, FullScreenDisablesTheEditsAndAStoredPositionBeyondTheScreenIsKept) {
    Settings.TypeCapture = 1;
    Settings.RegionTopPos = 900;  // from a taller screen
    TAddForm form(nullptr);
    for (QSpinBox* edit : {form.sSpinEdit1, form.sSpinEdit2, form.sSpinEdit3, form.sSpinEdit4})
        EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(form.sSpinEdit1->value(), 900);
    EXPECT_EQ(Settings.RegionTopPos, 900);
}

TEST_F(AddFormTest, ValuesPutIntoTheEditsAreClampedAndWrittenToTheSettings) {
    TAddForm form(nullptr);
    form.ShowRegion(-5, 12, 7000, 3);
    EXPECT_EQ(Settings.RegionLeftPos, 0);
    EXPECT_EQ(Settings.RegionTopPos, 12);
    EXPECT_EQ(Settings.RegionWidthPos, 5000);
    EXPECT_EQ(Settings.RegionHeightPos, 10);
    form.sSpinEdit2->setValue(100);
    EXPECT_EQ(Settings.RegionLeftPos, 100);
}

}  // namespace

// On the RandR server at 7680x2160 (the panel's window stays on the main
// test display; only the screen's size is read from there).
TEST_F(AddFormTest, LimitsFollowTheWholeScreenSoALargeDesktopsAreaIsNotCut) {
    const std::string randr = test::displayRandr();
    if (randr.empty()) GTEST_SKIP() << "needs the x11 fixture";
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", randr.c_str(), 1);
    ASSERT_EQ(test::run("xrandr -s 7680x2160"), 0);
    StoreArea(0, 0, 7680, 2160);
    {
        TAddForm form(nullptr);
        EXPECT_EQ(form.sSpinEdit3->value(), 7680);
        EXPECT_EQ(form.sSpinEdit4->value(), 2160);
        EXPECT_EQ(form.sSpinEdit3->maximum(), 7680);
        EXPECT_EQ(form.sSpinEdit4->maximum(), 2500);  // never below the edit's own
        EXPECT_EQ(form.sSpinEdit2->maximum(), 7679);
        EXPECT_EQ(form.sSpinEdit1->maximum(), 2159);
        EXPECT_EQ(Settings.RegionWidthPos, 7680);

        // Back on a small screen the stored area stays until the user changes it.
        ASSERT_EQ(test::run("xrandr -s 1280x720"), 0);
        form.sSpinEdit2->setValue(900);
        form.UpdateLimits();
        EXPECT_EQ(form.sSpinEdit3->maximum(), 7680);
        EXPECT_EQ(form.sSpinEdit2->maximum(), 1279);
        EXPECT_EQ(form.sSpinEdit2->value(), 900);
        form.ShowRegion(1200, 600, 640, 360);
        EXPECT_EQ(form.sSpinEdit2->value(), 1200);
        EXPECT_EQ(Settings.RegionWidthPos, 640);
    }
    test::run("xrandr -s 1920x1080");
    setenv("DISPLAY", display.c_str(), 1);
}
