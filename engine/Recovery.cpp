// Recordings a crash, a power cut or a failed merge left unmerged: found at
// the next start in the folder they were being recorded into and merged on
// the worker into the name of their start time there when the user wants
// them.

#include <dirent.h>

#include <algorithm>
#include <regex>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"
#include "engine/SoundAlign.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

using namespace vfw;

namespace {

bool Available(const std::string& path) {
    return FileExists(path) && !IsFileLocked(path);
}

// The name a recording is offered under: the chosen format's extension, or
// AVI's for a video the chosen container cannot hold (as the merge decides).
std::string OfferedName(const std::string& stem, const std::string& video, OutputFormat chosen) {
    OutputFormat format = chosen;
    PAVIFILE file = nullptr;
    // Only MP4 leaves codecs out: no need to read the file for the others.
    if (chosen == OutputFormat::Mp4 && !video.empty() &&
        AVIFileOpen(&file, video.c_str(), OF_READ, nullptr) == AVIERR_OK) {
        PAVISTREAM stream = nullptr;
        AVISTREAMINFO info{};
        if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK) {
            if (AVIStreamInfo(stream, &info, sizeof info) == AVIERR_OK &&
                !ContainerTakesVideo(chosen, info.fccHandler))
                format = OutputFormat::Avi;
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    return WithFormatExtension(stem, format);
}

}  // namespace

std::vector<TInterruptedRecording> TScreenCamera::FindInterruptedRecordings(
    const std::string& folder) const {
    std::vector<TInterruptedRecording> found;
    // The temporary files themselves: a recording that never reached its merge.
    const std::string tempVideo = folder + kTempVideoName, tempAudio = folder + kTempAudioName;
    const bool video = Available(tempVideo), audio = Available(tempAudio);
    if (video || audio) {
        const std::time_t started = RecordingStartTime(video ? tempVideo : tempAudio);
        const std::string videoFile = video ? tempVideo : std::string();
        found.push_back({videoFile, audio ? tempAudio : "",
                         OfferedName(RecordingNameAt(folder, started), videoFile, FileFormat)});
    }
    // Recordings kept aside: "VideoRecord_x_video.avi" with "VideoRecord_x_audio.wav".
    static const std::regex kept(R"((VideoRecord_.+)_video(_\d+)?\.avi)");
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::smatch m;
            if (!std::regex_match(name, m, kept) || !Available(folder + name)) continue;
            const std::string sound = folder + m[1].str() + "_audio" + m[2].str() + ".wav";
            found.push_back({folder + name, Available(sound) ? sound : "",
                             OfferedName(folder + m[1].str(), folder + name, FileFormat)});
        }
    }
    return found;
}

bool TScreenCamera::RecoverRecordings(std::vector<TInterruptedRecording> recordings) {
    // The temporary files may be among them: not while a recording runs.
    if (Recording || worker_ || recordings.empty()) return false;
    recoveries_ = std::move(recordings);
    if (StartWorker()) return true;
    recoveries_.clear();
    return false;
}

void TScreenCamera::RunRecoveries() {
    // A sound file whose header the merge cannot trust stays out of it and is
    // kept; "~tempaudio.wav" under a name of its own, or every start would
    // offer it again.
    auto refuseSound = [this](TInterruptedRecording& r, const std::string& fault) {
        if (NameOf(r.audio) == kTempAudioName) {
            const std::string kept = MoveWithoutReplacing(
                r.audio, FolderOf(r.audio) + NameOf(BesideTarget(r.target, "_audio.wav")));
            if (!kept.empty()) r.audio = kept;
        }
        CameraError("The sound file cannot be merged (" + fault + ")" +
                    (r.video.empty() ? "" : "; the video is saved without sound") +
                    ". The sound is kept in: " + r.audio);
    };
    for (TInterruptedRecording& r : recoveries_) {
        // Its extension is the one its video allows (see OfferedName).
        r.target = FreeFileName(r.target);
        AVIFileInit();
        PAVISTREAM opened[2] = {nullptr, nullptr};
        if (!r.video.empty()) OpenTempStream(r.video, opened[0]);
        if (!r.audio.empty()) {
            if (const std::string fault = WaveFormatFault(r.audio); !fault.empty())
                refuseSound(r, fault);
            else
                OpenTempStream(r.audio, opened[1]);
        }
        PAVISTREAM streams[2] = {nullptr, nullptr};
        int count = 0;
        for (PAVISTREAM s : opened)
            if (s) streams[count++] = s;
        recovering_ = &r;
        const bool merged = count > 0 && MergeToFile(r.target, count, streams);
        recovering_ = nullptr;
        for (PAVISTREAM s : opened)
            if (s) AVIStreamRelease(s);
        AVIFileExit();
        if (merged) {
            // In the new file now; what did not open stays.
            if (opened[0]) EraseFile(r.video);
            if (opened[1]) EraseFile(r.audio);
        } else if (count == 0) {
            std::string left = r.video;
            if (!r.audio.empty()) left += (left.empty() ? "" : ", ") + r.audio;
            CameraError("The interrupted recording could not be read; it is left in: " + left);
        }
    }
    recoveries_.clear();
}

}  // namespace velmora::engine
