// Test entry: takes the variables the fixtures wrote (tests/env/testenv.sh)
// into the environment before any test runs.

#include <gtest/gtest.h>

#include "tests/support/TestEnv.h"

int main(int argc, char** argv) {
    velmora::test::loadFixtureEnvironment();
    testing::InitGoogleTest(&argc, argv);
    return velmora::test::finishTests(RUN_ALL_TESTS());
}
