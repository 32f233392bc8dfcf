// A fuzzed AVI file through the open path of the merge: AVIFileOpen, every
// stream it offers with its info, and AVISaveV copying them into a new file.

#include <string>
#include <vector>

#include "engine/vfw/Vfw.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;
using namespace velmora::vfw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in = fuzz::WriteScratchFile("~tempvideo.avi", data, size);
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, in.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        FUZZ_CHECK(file == nullptr);
        return 0;
    }
    std::vector<PAVISTREAM> streams;
    for (LONG i = 0; i < 4; ++i) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, i) != AVIERR_OK) {
            FUZZ_CHECK(stream == nullptr);
            break;
        }
        AVISTREAMINFO info{};
        FUZZ_CHECK(AVIStreamInfo(stream, &info, sizeof info) == AVIERR_OK);
        streams.push_back(stream);
    }
    // The first video and the first audio stream, as the merge asks for them.
    for (const DWORD type : {streamtypeVIDEO, streamtypeAUDIO}) {
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, type, 0) == AVIERR_OK) streams.push_back(stream);
    }
    if (!streams.empty()) {
        const std::string out = fuzz::ScratchFolder() + "merged.avi";
        std::vector<AVICOMPRESSOPTIONS*> options(streams.size(), nullptr);
        AVISaveV(out.c_str(), nullptr, nullptr, static_cast<int>(streams.size()), streams.data(),
                 options.data());
    }
    for (PAVISTREAM stream : streams) AVIStreamRelease(stream);
    AVIFileRelease(file);
    return 0;
}
