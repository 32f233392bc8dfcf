// The merge of "~tempvideo.avi" and the sound ("~tempaudio.wav", with a
// second input "~tempaudio2.wav" or the two mixed) into the target file (AVI,
// MP4 or Matroska) with one SaveMediaFile, and the texts of its results.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <tuple>

#include "common/Functions.h"
#include "engine/ReadBack.h"
#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"
#include "engine/WaveHeader.h"

namespace velmora::engine {

using namespace vfw;

namespace {

// A merge killed on the way (kill -9, a power cut) leaves the copy it was
// making under the target's name + ".part", where the next merge to that
// name must create its own. A running merge holds its part locked, and a
// part we may not open is not ours to judge: both stay.
void RemoveStalePart(const std::string& target) {
    const std::string part = target + ".part";
    struct stat st {};
    if (::lstat(part.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || IsFileLocked(part)) return;
    ::unlink(part.c_str());
}

std::string FourCCText(FOURCC code) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) text += static_cast<char>((code >> shift) & 0xff);
    return text;
}

std::string FormatGeneral(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

// What the streams hold, by their headers: the length a merge of them gives.
double LongestStreamSeconds(int count, PAVISTREAM* streams) {
    double longest = 0;
    for (int i = 0; i < count; ++i) {
        AVISTREAMINFO info{};
        if (AVIStreamInfo(streams[i], &info, sizeof info) == AVIERR_OK && info.dwRate > 0)
            longest = std::max(longest, static_cast<double>(info.dwLength) * info.dwScale /
                                            info.dwRate);
    }
    return longest;
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
            return "Saving cancelled: nothing is deleted.";
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
    if (!text.empty()) {
        const int error = AVIGetLastSystemError();
        CameraError(error ? text + " " + FileErrorReason(fileName, error) : text);
    }
    if (result != AVIERR_OK || !file) return;
    if (AVIFileGetStream(file, &stream, 0, 0) != AVIERR_OK) {
        stream = nullptr;
        CameraError("Unable to get AVI stream");
    }
    AVIFileRelease(file);
}

std::int32_t TScreenCamera::ReportSaveProgress(std::int32_t percent) {
    if (mergeAbandoned_) return -1;
    if (!OnSaveProgress) return 0;
    bool proceed = true;
    OnSaveProgress(this, percent, proceed);
    return proceed ? 0 : -1;
}

void TScreenCamera::KeepTempFiles(const std::string& target, std::string& text, bool video,
                                  unsigned audio) {
    // Nothing recorded is lost: the temporary files move beside the target
    // under names of its own, and the result line says where. When the
    // target's folder cannot take them they get such a name in their own
    // folder, where the next recording does not delete them.
    std::string kept, left;
    const std::tuple<const std::string*, std::string, bool*, bool> files[] = {
        {&TempVideoFile, "_video.avi", &leaveTempVideo_, video},
        {sound_[0].tempFile, sound_[0].keptSuffix, &sound_[0].leaveTemp, (audio & 1) != 0},
        {sound_[1].tempFile, sound_[1].keptSuffix, &sound_[1].leaveTemp, (audio & 2) != 0}};
    for (const auto& [from, suffix, leave, wanted] : files) {
        if (!wanted || !FileExists(*from)) continue;
        // A sound the merge had placed keeps its place for the next try.
        for (const SoundInput& input : sound_)
            if (input.tempFile == from && (input.placing.startMs || input.placing.cutAtMs >= 0))
                WriteWavePlacing(*from, input.placing);
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

OutputChoice TScreenCamera::ChooseOutput(int count, PAVISTREAM* streams) const {
    OutputChoice choice{FileFormat, SoundCompression, {}};
    bool sound = false;
    for (int i = 0; i < count; ++i) {
        AVISTREAMINFO info{};
        if (AVIStreamInfo(streams[i], &info, sizeof info) != AVIERR_OK) continue;
        sound = sound || info.fccType == streamtypeAUDIO;
        if (info.fccType != streamtypeVIDEO) continue;
        // A recovered file's codec is not the one chosen now.
        const std::string name = recovering_ ? FourCCText(info.fccHandler) : CompressorName;
        choice = ResolveOutputChoice(FileFormat, SoundCompression, info.fccHandler, name);
    }
    if (!sound) {
        // Nothing to say about sound that is not there.
        if (choice.format == FileFormat) choice.change.clear();
    } else if (!ContainerTakesSound(choice.format, choice.sound)) {
        choice.sound = DefaultSoundCodec(choice.format);
    }
    return choice;
}

OutputFormat TScreenCamera::SavedFormat(int compressorIndex, OutputFormat wanted) const {
    if (compressorIndex < 0 || compressorIndex >= CompressorCount) return wanted;
    const FOURCC handler = Compressors[static_cast<std::size_t>(compressorIndex)].fccHandler;
    return ContainerTakesVideo(wanted, handler) ? wanted : OutputFormat::Avi;
}

bool TScreenCamera::MergeToFile(const std::string& requested, int count, PAVISTREAM* streams,
                                const SoundPlacing* placings) {
    const OutputChoice choice = ChooseOutput(count, streams);
    std::string target = WithFormatExtension(requested, choice.format);
    if (target != requested) target = FreeFileName(target);
    if (!choice.change.empty()) CameraError(choice.change + ": " + target);
    // A file another writer holds locked (another copy recording to it) is
    // not taken from under it.
    if (FileExists(target) && (IsFileLocked(target) || !EraseFile(target))) {
        std::string text = "Can not delete existing video file: " + target + ".";
        if (!recovering_) KeepTempFiles(target, text);
        CameraError(text);
        return false;
    }
    RemoveStalePart(target);
    host_.SetBusyCursor(true);
    HRESULT result = SaveMediaFile(
        target.c_str(), {choice.format, choice.sound},
        [this](std::int32_t percent) { return ReportSaveProgress(percent); }, count, streams,
        placings);
    const int error = result == AVIERR_OK ? 0 : AVIGetLastSystemError();
    // A recovered file is the only copy once its sources go: it must play.
    std::string unplayable;
    if (result == AVIERR_OK && recovering_) {
        unplayable = ReadBackFault(target, LongestStreamSeconds(count, streams));
        if (!unplayable.empty()) result = AVIERR_FILEWRITE;
    }
    host_.SetBusyCursor(false);
    const bool abandoned = result == AVIERR_USERABORT && mergeAbandoned_;
    // The final 100 tells the window the file is saved: not after a failure
    // or a cancel, which leave no file.
    if (OnSaveProgress && result == AVIERR_OK) {
        bool proceed = true;
        OnSaveProgress(this, 100, proceed);
    }
    std::string text = !unplayable.empty()
                           ? "The recovered file cannot be played back (" + unplayable +
                                 "); it is removed."
                       : result != AVIERR_OK ? SaveResultText(result)
                       : recovering_         ? "The interrupted recording is saved: " + target
                                             : SummaryLine();
    if (result == AVIERR_OK && !recovering_ && RecordAudio && !SoundFailures().empty())
        text += " - the sound is incomplete: " + SoundFailures();
    if (result == AVIERR_OK && !recovering_ && !movedNote_.empty()) text += " - " + movedNote_;
    if (result == AVIERR_OK && !recovering_) {
        SavedFile = target;
        struct stat st {};
        SavedFileSize = ::stat(target.c_str(), &st) == 0 ? st.st_size : 0;
    }
    if (result != AVIERR_OK && result != AVIERR_USERABORT && error)
        text.append(" ").append(FileErrorReason(FolderOf(target), error));
    if (recovering_) {
        // Its files are not this run's temporary files: they stay where they are.
        if (result != AVIERR_OK) {
            EraseFile(target);
            text += " The recording is left in: " + recovering_->video;
            for (const std::string* sound : {&recovering_->audio, &recovering_->audio2})
                if (!sound->empty()) text += (text.ends_with(": ") ? "" : ", ") + *sound;
        }
    } else if (abandoned) {
        // The program is going away: the part copied so far goes, the whole
        // recording stays in the temporary files for the next start.
        EraseFile(target);
        text += " The recording is left in: " + TempVideoFile;
        for (SoundInput& input : sound_) {
            if (RecordAudio && input.recording && FileExists(*input.tempFile))
                text += ", " + *input.tempFile;
            input.leaveTemp = true;
        }
        leaveTempVideo_ = true;
    } else if (result != AVIERR_OK) {
        // A cancel too: the part copied so far goes, and the whole recording
        // is kept under names the next recording does not take; the next
        // start offers to save it.
        if (result == AVIERR_USERABORT) EraseFile(target);
        KeepTempFiles(target, text);
        // A save that failed by itself is told as a failure, in a box that
        // says where the files are; a cancel is no failure.
        if (result != AVIERR_USERABORT) {
            SaveFailed = true;
            EndedByFailure = true;
        }
    }
    CameraError(text);
    try {
        host_.ReportMergeResult(text);
    } catch (...) {
        // A failed report must not disturb the recording.
    }
    return result == AVIERR_OK;
}

}  // namespace velmora::engine
