// A fuzzed WAV file through the two readers the program has: the wave
// adapter (UpdateDetails and a read of the data) and the merge's open of the
// sound file, copied into an AVI as the merge does.

#include <algorithm>
#include <vector>

#include "audio/WaveStorage.h"
#include "engine/vfw/Vfw.h"
#include "tests/fuzz/FuzzFiles.h"

using namespace velmora;

namespace {

void ReadThroughAdapter(const std::uint8_t* data, std::size_t size) {
    audio::TMemoryStream stream;
    stream.Data().assign(data, data + size);
    audio::TWaveStreamAdapter wave(&stream, audio::TStreamOwnership::soReference);
    if (!wave.Valid()) {
        FUZZ_CHECK(wave.Format() == nullptr && wave.DataSize() == 0 && wave.Length() == 0);
        FUZZ_CHECK(!wave.BeginRead());
        return;
    }
    const audio::WAVEFORMATEX* format = wave.Format();
    FUZZ_CHECK(format != nullptr);
    (void)wave.Length();
    FUZZ_CHECK(wave.DataOffset() >= 12 && wave.DataOffset() <= size);
    FUZZ_CHECK(wave.BeginRead());
    std::vector<std::uint8_t> buffer(4096);
    std::int64_t total = 0;
    for (;;) {
        const std::int64_t n = wave.Read(buffer.data(), static_cast<std::int64_t>(buffer.size()));
        FUZZ_CHECK(n >= 0);
        if (n == 0) break;
        total += n;
    }
    FUZZ_CHECK(total == static_cast<std::int64_t>(size) - wave.DataOffset());
    FUZZ_CHECK(wave.EndRead());
}

void MergeLikeOpen(const std::uint8_t* data, std::size_t size) {
    using namespace vfw;
    const std::string in = fuzz::WriteScratchFile("~tempaudio.wav", data, size);
    PAVIFILE file = nullptr;
    if (AVIFileOpen(&file, in.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        FUZZ_CHECK(file == nullptr);
        return;
    }
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, 0, 0) == AVIERR_OK) {
        AVISTREAMINFO info{};
        FUZZ_CHECK(AVIStreamInfo(stream, &info, sizeof info) == AVIERR_OK);
        const std::string out = fuzz::ScratchFolder() + "merged.avi";
        AVICOMPRESSOPTIONS* options[1] = {nullptr};
        AVISaveV(out.c_str(), nullptr, nullptr, 1, &stream, options);
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReadThroughAdapter(data, size);
    MergeLikeOpen(data, size);
    return 0;
}
