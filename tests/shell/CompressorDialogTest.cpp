// A compressor's settings dialog, reached the way the options dialog reaches
// it: ICConfigure on the compressor manager.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QSpinBox>
#include <QTimer>

#include "engine/vfw/Compressors.h"
#include "shell/CompressorDialog.h"

using namespace velmora;
using namespace velmora::vfw;

namespace {

// Acts on the dialog as soon as it shows.
void whenShown(const std::function<void(QDialog*)>& act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w);
                d && d->isVisible() && d->objectName() == "CompressorDialog") {
                poll->stop();
                poll->deleteLater();
                act(d);
                return;
            }
    });
    poll->start(10);
}

std::string optionValue(HIC hic, const std::string& key) {
    // The options as the next dialog would show them.
    std::string value;
    ICSetConfigureHook([&](HWND, const ICINFO&, std::vector<ICCONFIGOPTION>& options) {
        for (const auto& o : options)
            if (o.key == key) value = o.value;
        return false;
    });
    ICConfigure(hic, nullptr);
    InstallCompressorDialog();
    return value;
}

class CompressorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { InstallCompressorDialog(); }
    void TearDown() override {
        ICSetConfigureHook(nullptr);
        ICRestoreBuiltinDrivers();
    }
};

}  // namespace

TEST_F(CompressorDialogTest, OkKeepsTheEditedValuesAndCancelKeepsTheOldOnes) {
    HIC hic = ICOpen(ICTYPE_VIDEO, MakeFourCC('H', '2', '6', '4'), ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    EXPECT_TRUE(ICQueryConfigure(hic));
    const std::string before = optionValue(hic, "preset");

    QString title;
    whenShown([&](QDialog* d) {
        title = d->windowTitle();
        auto* preset = d->findChild<QComboBox*>("preset");
        ASSERT_NE(preset, nullptr);
        preset->setCurrentText(before == "veryfast" ? "faster" : "veryfast");
        d->reject();
    });
    ICConfigure(hic, nullptr);
    EXPECT_EQ(title, QStringLiteral("H.264 (x264)"));
    EXPECT_EQ(optionValue(hic, "preset"), before);

    whenShown([&](QDialog* d) {
        d->findChild<QComboBox*>("preset")->setCurrentText("veryfast");
        d->accept();
    });
    ICConfigure(hic, nullptr);
    EXPECT_EQ(optionValue(hic, "preset"), "veryfast");
    ICClose(hic);
}

TEST_F(CompressorDialogTest, NumbersAreEditedWithinTheirRange) {
    HIC hic = ICOpen(ICTYPE_VIDEO, MakeFourCC('X', 'V', 'I', 'D'), ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    int maximum = -1;
    whenShown([&](QDialog* d) {
        const auto spins = d->findChildren<QSpinBox*>();
        ASSERT_EQ(spins.size(), 1);
        maximum = spins[0]->maximum();
        spins[0]->setValue(500);  // clamped by the spin box
        d->accept();
    });
    ICConfigure(hic, nullptr);
    EXPECT_EQ(maximum, 31);
    EXPECT_EQ(optionValue(hic, "quantizer"), "31");
    ICClose(hic);
}
