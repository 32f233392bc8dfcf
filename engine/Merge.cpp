// The merge of "~tempvideo.avi" and "~tempaudio.wav" into the target file with
// one AVISaveV, and the texts of its results.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <tuple>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

using namespace vfw;

namespace {

std::string FormatGeneral(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

// "dir/VideoRecord_x.avi" -> "dir/VideoRecord_x" + suffix.
std::string BesideTarget(const std::string& target, const std::string& suffix) {
    const auto slash = target.find_last_of('/');
    const auto dot = target.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? target.substr(0, dot) : target) + suffix;
}

// Copies a file into a new one (never over an existing file) and syncs it;
// 0 or the errno of the failure. A partial copy is removed.
int CopyToNewFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR) error = errno;
            if (put > 0) done += put;
        }
        if (error) break;
    }
    // The source goes away next: the copy must be on the disk first.
    if (error == 0 && ::fsync(out) != 0) error = errno;
    if (::close(out) != 0 && error == 0) error = errno;
    ::close(in);
    if (error) ::unlink(to.c_str());
    return error;
}

// Moves a file to `to`, or to "<to stem>_2<ext>", "_3"... when that is taken;
// never replaces a file. Across disks it copies. The new name, or empty.
std::string MoveWithoutReplacing(const std::string& from, const std::string& to) {
    const std::string stem = BesideTarget(to, "");
    const std::string extension = to.substr(stem.size());
    for (int n = 1; n <= 1000; ++n) {
        const std::string name = n == 1 ? to : stem + "_" + std::to_string(n) + extension;
        if (::link(from.c_str(), name.c_str()) == 0) {
            ::unlink(from.c_str());
            return name;
        }
        if (errno == EEXIST) continue;
        if (errno == EXDEV) {
            const int error = CopyToNewFile(from, name);
            if (error == EEXIST) continue;
            if (error != 0) return {};
            ::unlink(from.c_str());
            return name;
        }
        // A file system without hard links.
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return {};
        if (FileExists(name)) continue;
        return std::rename(from.c_str(), name.c_str()) == 0 ? name : std::string();
    }
    return {};
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string TScreenCamera::OpenResultText(HRESULT result) {
    switch (result) {
        case AVIERR_OK:
            return {};
        case REGDB_E_CLASSNOTREG:
            return "According to the registry, the type of AVI file specified in AVIFileOpen does "
                   "not have a handler to process it.";
        case AVIERR_BADFORMAT:
            return "The file could not be read, indicating a corrupt file or an unrecognized "
                   "format.";
        case AVIERR_MEMORY:
            return "The file could not be opened because of insufficient memory.";
        case AVIERR_FILEREAD:
            return "A disk error occurred while reading the AVI file.";
        case AVIERR_FILEOPEN:
            return "A disk error occurred while opening the AVI file.";
        default:
            return "Unknown error opening AVI file";
    }
}

std::string TScreenCamera::SaveResultText(HRESULT result) {
    switch (result) {
        case AVIERR_UNSUPPORTED:
            return "Error, unsupported format!";
        case AVIERR_BADFORMAT:
            return "Error, bad format!";
        case AVIERR_MEMORY:
            return "Error in memory!";
        case AVIERR_INTERNAL:
            return "Error internal!";
        case AVIERR_BADFLAGS:
            return "Error bad flags!";
        case AVIERR_BADPARAM:
            return "Error bad params!";
        case AVIERR_BADSIZE:
            return "Error bad size!";
        case AVIERR_BADHANDLE:
            return "Error bad handle!";
        case AVIERR_FILEREAD:
            return "Error reading files!";
        case AVIERR_FILEWRITE:
            return "Error writing files!";
        case AVIERR_FILEOPEN:
            return "Error opening files!";
        case AVIERR_COMPRESSOR:
            return "Error in compressor!";
        case AVIERR_NOCOMPRESSOR:
            return "Error no compressor!";
        case AVIERR_READONLY:
            return "Error read-only files!";
        case AVIERR_NODATA:
            return "Error no data!";
        case AVIERR_BUFFERTOOSMALL:
            return "Error buffer too small!";
        case AVIERR_CANTCOMPRESS:
            return "Error cannot compress!";
        case AVIERR_USERABORT:
            return "Error user abort!";
        case AVIERR_ERROR:
            return "Error generic!";
        default:
            return "Avi error number: " + std::to_string(static_cast<std::uint32_t>(result));
    }
}

std::string TScreenCamera::SummaryLine() {
    const MergeSummaryFigures figures = host_.SummaryFigures();
    return host_.MessageText(12) + " " + CompressorName + "; " + std::to_string(figures.areaWidth) +
           "x" + std::to_string(figures.areaHeight) + "; " + host_.MessageText(4) + " " +
           ElapsedText + "; " + host_.MessageText(11) + " " +
           FormatGeneral(figures.droppedPercent) + "%";
}

void TScreenCamera::OpenTempStream(const std::string& fileName, PAVISTREAM& stream) {
    if (!FileExists(fileName)) return;
    PAVIFILE file = nullptr;
    const HRESULT result = AVIFileOpen(&file, fileName.c_str(), OF_READ, nullptr);
    const std::string text = OpenResultText(result);
    if (!text.empty()) CameraError(text);
    if (result != AVIERR_OK || !file) return;
    if (AVIFileGetStream(file, &stream, 0, 0) != AVIERR_OK) {
        stream = nullptr;
        CameraError("Unable to get AVI stream");
    }
    AVIFileRelease(file);
}

std::int32_t TScreenCamera::SaveProgressCallback(std::int32_t percent) {
    TScreenCamera* engine = CurrentEngine;
    if (!engine || !engine->OnSaveProgress) return 0;
    bool proceed = true;
    engine->OnSaveProgress(engine, percent, proceed);
    return proceed ? 0 : -1;
}

void TScreenCamera::KeepTempFiles(const std::string& target, std::string& text, bool video,
                                  bool audio) {
    // Nothing recorded is lost: the temporary files move beside the target
    // under names of its own, and the result line says where. When the
    // target's folder cannot take them they get such a name in their own
    // folder, where the next recording does not delete them.
    std::string kept, left;
    const std::tuple<const std::string*, std::string, bool*, bool> files[] = {
        {&TempVideoFile, "_video.avi", &leaveTempVideo_, video},
        {&TempAudioFile, "_audio.wav", &leaveTempAudio_, audio}};
    for (const auto& [from, suffix, leave, wanted] : files) {
        if (!wanted || !FileExists(*from)) continue;
        const std::string beside = BesideTarget(target, suffix);
        std::string name = MoveWithoutReplacing(*from, beside);
        if (name.empty()) name = MoveWithoutReplacing(*from, FolderOf(*from) + NameOf(beside));
        if (name.empty()) {
            // Not moved: at least this worker does not delete it.
            *leave = true;
            left += (left.empty() ? "" : ", ") + *from;
            continue;
        }
        kept += (kept.empty() ? "" : ", ") + name;
    }
    if (!kept.empty()) text += " Recording kept in: " + kept;
    if (!left.empty()) text += " Recording left in: " + left;
}

void TScreenCamera::MergeToFile(const std::string& target, int count, PAVISTREAM* streams) {
    // A file held open elsewhere is only arranged for deletion at the next
    // start; it is still in the way now.
    if (FileExists(target) && (!EraseFile(target) || FileExists(target))) {
        std::string text = "Can not delete existing video file.";
        KeepTempFiles(target, text);
        CameraError(text);
        return;
    }
    AVICOMPRESSOPTIONS* options[2] = {nullptr, nullptr};
    CurrentEngine = this;
    host_.SetBusyCursor(true);
    const HRESULT result =
        AVISaveV(target.c_str(), nullptr, &SaveProgressCallback, count, streams, options);
    host_.SetBusyCursor(false);
    if (OnSaveProgress) {
        bool proceed = true;
        OnSaveProgress(this, 100, proceed);
    }
    std::string text = result == AVIERR_OK ? SummaryLine() : SaveResultText(result);
    if (result == AVIERR_OK && RecordAudio && !soundFailure_.empty())
        text += " - the sound is incomplete: " + soundFailure_;
    if (result != AVIERR_OK && result != AVIERR_USERABORT) KeepTempFiles(target, text);
    CameraError(text);
    try {
        host_.ReportMergeResult(text);
    } catch (...) {
        // A failed report must not disturb the recording.
    }
}

}  // namespace velmora::engine
