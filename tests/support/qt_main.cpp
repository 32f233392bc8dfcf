// Entry of tests that need a QApplication: the fixtures' variables first
// (tests/env/testenv.sh), then one application object for the whole run.
// Without a test display Qt draws offscreen.

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/TestEnv.h"

int main(int argc, char** argv) {
    velmora::test::loadFixtureEnvironment();
    velmora::test::applyRequestedScaling(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return velmora::test::finishTests(RUN_ALL_TESTS());
}
