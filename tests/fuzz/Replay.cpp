// Replays the inputs kept for each fuzz target (its seed corpus and the
// inputs that once failed) through the target, one test per file, in the
// ordinary test build. Each target's entry point is built under its own
// name here (tests/fuzz/CMakeLists.txt).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzFiles.h"

#define VELMORA_FUZZ_TARGETS(X) X(profile) X(settings) X(command_line) X(language) X(wave) X(avi)

#define VELMORA_DECLARE_TARGET(name) \
    extern "C" int VelmoraFuzz_##name(const std::uint8_t* data, std::size_t size);
VELMORA_FUZZ_TARGETS(VELMORA_DECLARE_TARGET)

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

struct Input {
    std::string target;
    Target run;
    std::filesystem::path file;
};

std::vector<Input> Inputs() {
    std::vector<Input> inputs;
    const std::filesystem::path base = VELMORA_FUZZ_INPUTS;
#define VELMORA_TARGET_INPUTS(name)                                                         \
    for (const char* kind : {"corpus", "regressions"}) {                                    \
        std::vector<std::filesystem::path> files;                                          \
        std::error_code error;                                                              \
        for (const auto& entry : std::filesystem::directory_iterator(base / kind / #name, error)) \
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')      \
                files.push_back(entry.path());                                              \
        std::sort(files.begin(), files.end());                                              \
        for (const auto& file : files) inputs.push_back({#name, VelmoraFuzz_##name, file});  \
    }
    VELMORA_FUZZ_TARGETS(VELMORA_TARGET_INPUTS)
    return inputs;
}

std::string TestName(const testing::TestParamInfo<Input>& info) {
    std::string name = info.param.target + "_" +
                       info.param.file.parent_path().parent_path().filename().string() + "_" +
                       info.param.file.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class FuzzInput : public testing::TestWithParam<Input> {};

TEST_P(FuzzInput, PassesTheTarget) {
    std::ifstream in(GetParam().file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_TRUE(in.good() || in.eof());
    EXPECT_EQ(GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzInput, testing::ValuesIn(Inputs()), TestName);

}  // namespace
