// What each file format costs: a recording's picture and sound (an AVI with
// video and PCM, as the program saves it) merged again into AVI with PCM,
// MP4 with AAC, Matroska with Opus and Matroska with FLAC, as the merge
// after a recording does; the size and time of each, and FFmpeg's own time
// for the same conversion beside it.
//   bench_formats RECORDING.avi [FOLDER]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/vfw/Vfw.h"

using namespace velmora::vfw;
using velmora::OutputFormat;
using velmora::SoundCodec;
namespace fs = std::filesystem;

namespace {

double secondsSince(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

PAVISTREAM openStream(const std::string& path, DWORD type) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (AVIFileOpen(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK) return nullptr;
    if (AVIFileGetStream(file, &stream, type, 0) != AVIERR_OK) stream = nullptr;
    AVIFileRelease(file);
    return stream;
}

struct Kind {
    const char* name;
    MediaFileFormat format;
    const char* extension;
    const char* ffmpegSound;  // the same sound for ffmpeg's command line
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_formats RECORDING.avi [FOLDER]\n");
        return 64;
    }
    const std::string input = argv[1];
    const fs::path folder = argc > 2 ? argv[2] : fs::path(input).parent_path();
    const Kind kinds[] = {
        {"AVI + PCM", {OutputFormat::Avi, SoundCodec::Pcm}, ".avi", "-c:a copy"},
        {"MP4 + AAC", {OutputFormat::Mp4, SoundCodec::Aac}, ".mp4",
         "-c:a aac -b:a 160k -movflags +delay_moov+default_base_moof+frag_keyframe "
         "-frag_duration 1000000"},
        {"MKV + Opus", {OutputFormat::Mkv, SoundCodec::Opus}, ".mkv", "-c:a libopus -b:a 128k"},
        {"MKV + FLAC", {OutputFormat::Mkv, SoundCodec::Flac}, ".mkv", "-c:a flac"},
    };
    AVIFileInit();
    PAVISTREAM streams[2] = {openStream(input, streamtypeVIDEO),
                             openStream(input, streamtypeAUDIO)};
    if (!streams[0] || !streams[1]) {
        std::fprintf(stderr, "%s: no video and sound streams\n", input.c_str());
        return 1;
    }
    std::printf("%-11s %10s %9s %11s\n", "format", "size MiB", "merge s", "ffmpeg s");
    int failures = 0;
    for (const Kind& kind : kinds) {
        const std::string ours = (folder / (std::string("bench_ours") + kind.extension)).string();
        const std::string theirs =
            (folder / (std::string("bench_ffmpeg") + kind.extension)).string();
        fs::remove(ours);
        fs::remove(theirs);
        auto start = std::chrono::steady_clock::now();
        const HRESULT hr = SaveMediaFile(ours.c_str(), kind.format, nullptr, 2, streams);
        std::system("sync");
        const double merge = secondsSince(start);
        start = std::chrono::steady_clock::now();
        const std::string command = "ffmpeg -v error -y -i '" + input + "' -map 0 -c:v copy " +
                                    kind.ffmpegSound + " '" + theirs + "' && sync";
        const int ffmpeg = std::system(command.c_str());
        const double ffmpegTime = secondsSince(start);
        if (hr != AVIERR_OK) ++failures;
        std::printf("%-11s %10.2f %9.2f %11.2f%s\n", kind.name,
                    hr == AVIERR_OK ? double(fs::file_size(ours)) / (1024 * 1024) : 0.0, merge,
                    ffmpegTime,
                    hr != AVIERR_OK ? "  (our merge FAILED)"
                    : ffmpeg        ? "  (ffmpeg failed)"
                                    : "");
        fs::remove(ours);
        fs::remove(theirs);
    }
    for (PAVISTREAM s : streams) AVIStreamRelease(s);
    AVIFileExit();
    return failures ? 1 : 0;
}
