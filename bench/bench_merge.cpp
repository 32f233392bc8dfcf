// Merge speed: a recording of about 1 GiB (uncompressed 1920x1080 frames
// at 15 fps with a WAV of the same length) is saved into a new file with
// AVISaveV, as the merge after a recording does, and the same bytes are
// copied with cp on the same disk for comparison.
//   bench_merge [FOLDER] [MIB]     (FOLDER defaults to the current one)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/vfw/Vfw.h"

using namespace velmora::vfw;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFps = 15;

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool writeVideo(const std::string& path, int frames) {
    const DWORD image = kWidth * kHeight * 4;
    std::vector<std::uint8_t> block(sizeof(BITMAPINFOHEADER) + image);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(block.data());
    *h = BITMAPINFOHEADER{40, kWidth, kHeight, 1, 32, BI_RGB, image, 0, 0, 0, 0};
    PAVIFILE file = nullptr;
    PAVISTREAM raw = nullptr, compressed = nullptr;
    HRESULT hr = AVIFileOpen(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr);
    AVISTREAMINFO info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = MakeFourCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = kFps;
    info.dwSuggestedBufferSize = image;
    info.rcFrame = RECT{0, 0, kWidth, kHeight};
    if (hr == AVIERR_OK) hr = AVIFileCreateStream(file, &raw, &info);
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = info.fccHandler;
    options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    if (hr == AVIERR_OK) hr = AVIMakeCompressedStream(&compressed, raw, &options, nullptr);
    if (hr == AVIERR_OK) hr = AVIStreamSetFormat(compressed, 0, block.data(), 40);
    std::uint8_t* bits = block.data() + 40;
    for (int i = 0; hr == AVIERR_OK && i < frames; ++i) {
        std::memset(bits, i * 7 & 0xff, image);  // a changing picture
        hr = AVIStreamWrite(compressed, i, 1, bits, static_cast<LONG>(image), AVIIF_KEYFRAME,
                            nullptr, nullptr);
    }
    if (raw) AVIStreamRelease(raw);
    if (compressed) AVIStreamRelease(compressed);
    if (file) AVIFileRelease(file);
    return hr == AVIERR_OK;
}

void writeWav(const std::string& path, double duration) {
    const std::uint32_t rate = 44100, bytes = static_cast<std::uint32_t>(duration * rate) * 4;
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4), u32(36 + bytes), out.write("WAVEfmt ", 8), u32(16);
    u16(1), u16(2), u32(rate), u32(rate * 4), u16(4), u16(16);
    out.write("data", 4), u32(bytes);
    std::vector<char> silence(bytes, 0);
    out.write(silence.data(), bytes);
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? argv[1] : ".";
    const int mib = argc > 2 ? std::atoi(argv[2]) : 1024;
    const int frames = static_cast<int>(std::int64_t(mib) * 1024 * 1024 / (kWidth * kHeight * 4));
    const std::string video = (folder / "~tempvideo.avi").string(),
                      audio = (folder / "~tempaudio.wav").string(),
                      target = (folder / "VideoRecord_bench.avi").string(),
                      copy = (folder / "copy_bench.avi").string();
    AVIFileInit();
    std::printf("writing %d frames of %dx%d...\n", frames, kWidth, kHeight);
    if (!writeVideo(video, frames)) {
        std::fprintf(stderr, "could not write %s\n", video.c_str());
        return 1;
    }
    writeWav(audio, double(frames) / kFps);
    const double total = double(fs::file_size(video) + fs::file_size(audio)) / (1024.0 * 1024.0);
    std::system("sync");

    PAVIFILE vf = nullptr, af = nullptr;
    PAVISTREAM streams[2] = {};
    AVIFileOpen(&vf, video.c_str(), OF_READ, nullptr);
    AVIFileGetStream(vf, &streams[0], 0, 0);
    AVIFileRelease(vf);
    AVIFileOpen(&af, audio.c_str(), OF_READ, nullptr);
    AVIFileGetStream(af, &streams[1], 0, 0);
    AVIFileRelease(af);
    AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
    auto start = std::chrono::steady_clock::now();
    const HRESULT hr = AVISaveV(target.c_str(), nullptr, nullptr, 2, streams, options);
    std::system("sync");
    const double merge = seconds(start);
    for (PAVISTREAM s : streams)
        if (s) AVIStreamRelease(s);
    AVIFileExit();

    start = std::chrono::steady_clock::now();
    const std::string cp =
        "cp '" + video + "' '" + copy + "' && cp '" + audio + "' '" + copy + ".wav' && sync";
    std::system(cp.c_str());
    const double cpTime = seconds(start);

    std::printf(
        "input %.0f MiB; merge %s in %.2f s = %.0f MiB/s; cp %.2f s = %.0f MiB/s; "
        "merge at %.0f%% of cp's speed\n",
        total, hr == AVIERR_OK ? "ok" : "FAILED", merge, total / merge, cpTime, total / cpTime,
        100.0 * cpTime / merge);
    for (const auto& f : {video, audio, target, copy, copy + ".wav"}) fs::remove(f);
    return hr == AVIERR_OK ? 0 : 1;
}
