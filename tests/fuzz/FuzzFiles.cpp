#include "tests/fuzz/FuzzFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace velmora::fuzz {
namespace {

std::string MakeScratchFolder() {
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "velmora-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return pattern + "/";
}

void RemoveScratchFolder() {
    std::error_code error;
    std::filesystem::remove_all(ScratchFolder(), error);
}

}  // namespace

const std::string& ScratchFolder() {
    // Never destroyed: the exit handler that removes the folder needs it.
    static const std::string* folder = [] {
        auto* made = new std::string(MakeScratchFolder());
        std::atexit(RemoveScratchFolder);
        return made;
    }();
    return *folder;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchFolder() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) Fail("the scratch file could not be written");
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitInput(std::string_view input, char separator) {
    std::vector<std::string> parts;
    for (;;) {
        const auto at = input.find(separator);
        parts.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos) return parts;
        input.remove_prefix(at + 1);
    }
}

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
    std::abort();
}

}  // namespace velmora::fuzz
