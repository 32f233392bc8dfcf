#pragma once
// What the fuzz targets share: a private folder for the files a reader is
// given, on a memory file system when there is one (the writers sync every
// file they save).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::fuzz {

// A folder of this process, made on first use and removed at exit; ends with '/'.
const std::string& ScratchFolder();

// Writes the bytes to ScratchFolder() + name, replacing the file; its path.
std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// The file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// The input cut at every occurrence of `separator`.
std::vector<std::string> SplitInput(std::string_view input, char separator);

// Ends the run through the sanitizers' report when an expectation fails, so
// the fuzzer keeps the input.
[[noreturn]] void Fail(const char* what);

}  // namespace velmora::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::velmora::fuzz::Fail(#condition))

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
