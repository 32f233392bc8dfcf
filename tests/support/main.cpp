// Test entry: takes the variables the fixtures wrote (tests/env/testenv.sh)
// into the environment before any test runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {
void loadEnvFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        setenv(key.c_str(), value.c_str(), 1);
        if (key == "DISPLAY") setenv("VELMORA_DISPLAY24", value.c_str(), 1);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (const char* dir = std::getenv("VELMORA_TEST_ENV")) {
        const std::string base = dir;
        loadEnvFile(base + "/x11.env");
        loadEnvFile(base + "/audio.env");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
