// Replays the inputs kept for a fuzz target (its seed corpus and the inputs
// that once failed) through the target, one test per file, in the ordinary
// test build.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzFiles.h"

namespace {

std::vector<std::filesystem::path> Inputs() {
    std::vector<std::filesystem::path> files;
    for (const char* folder : {VELMORA_FUZZ_CORPUS, VELMORA_FUZZ_REGRESSIONS}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string TestName(const testing::TestParamInfo<std::filesystem::path>& info) {
    std::string name =
        info.param.parent_path().filename().string() + "_" + info.param.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class FuzzInput : public testing::TestWithParam<std::filesystem::path> {};

TEST_P(FuzzInput, PassesTheTarget) {
    std::ifstream in(GetParam(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_TRUE(in.good() || in.eof());
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
}

INSTANTIATE_TEST_SUITE_P(Kept, FuzzInput, testing::ValuesIn(Inputs()), TestName);

}  // namespace
