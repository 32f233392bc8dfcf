// Recordings a crash, a power cut or a failed merge left unmerged: found at
// the next start in the folder they were being recorded into and merged on
// the worker into the name of their start time there when the user wants
// them.

#include <dirent.h>

#include <algorithm>
#include <regex>
#include <tuple>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"
#include "engine/WaveHeader.h"
#include "engine/SoundMix.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

using namespace vfw;

namespace {

// A regular file of this user that no recording writes now; anything else
// under the name is told in leftAlone and never opened by a reader that
// could wait.
bool Available(const std::string& path, std::vector<std::string>* leftAlone) {
    std::string reason;
    const LeftFile state = InspectLeftFile(path, &reason);
    if (state == LeftFile::Foreign && leftAlone) leftAlone->push_back(LeftAloneText(path, reason));
    return state == LeftFile::Usable;
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
    const std::string& folder, std::vector<std::string>* leftAlone) const {
    return engine::FindInterruptedRecordings(folder, FileFormat, leftAlone);
}

std::vector<TInterruptedRecording> FindInterruptedRecordings(const std::string& folder,
                                                             OutputFormat chosen,
                                                             std::vector<std::string>* leftAlone) {
    std::vector<TInterruptedRecording> found;
    // The temporary files themselves: a recording that never reached its merge.
    const std::string tempVideo = folder + kTempVideoName, tempAudio = folder + kTempAudioName,
                      tempAudio2 = folder + kTempAudio2Name;
    const bool video = Available(tempVideo, leftAlone), audio = Available(tempAudio, leftAlone),
               audio2 = Available(tempAudio2, leftAlone);
    if (video || audio || audio2) {
        const std::time_t started = RecordingStartTime(video   ? tempVideo
                                                       : audio ? tempAudio
                                                               : tempAudio2);
        const std::string videoFile = video ? tempVideo : std::string();
        found.push_back({videoFile, audio ? tempAudio : "",
                         OfferedName(RecordingNameAt(folder, started), videoFile, chosen),
                         audio2 ? tempAudio2 : ""});
    }
    // Recordings kept aside: "VideoRecord_x_video.avi" with "VideoRecord_x_audio.wav"
    // (and "VideoRecord_x_audio2.wav" for a second input).
    static const std::regex kept(R"((VideoRecord_.+)_video(_\d+)?\.avi)");
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            std::smatch m;
            if (!std::regex_match(name, m, kept) || !Available(folder + name, leftAlone)) continue;
            const std::string sound = folder + m[1].str() + "_audio" + m[2].str() + ".wav";
            const std::string sound2 = folder + m[1].str() + "_audio2" + m[2].str() + ".wav";
            found.push_back({folder + name, Available(sound, leftAlone) ? sound : "",
                             OfferedName(folder + m[1].str(), folder + name, chosen),
                             Available(sound2, leftAlone) ? sound2 : ""});
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
    auto refuseSound = [this](TInterruptedRecording& r, std::string& sound, const char* tempName,
                              const char* keptSuffix, const std::string& fault) {
        if (NameOf(sound) == tempName) {
            const std::string kept = MoveWithoutReplacing(
                sound, FolderOf(sound) + NameOf(BesideTarget(r.target, keptSuffix)));
            if (!kept.empty()) sound = kept;
        }
        const bool other = !r.audio.empty() && !r.audio2.empty();
        CameraError("The sound file cannot be merged (" + fault + ")" +
                    (r.video.empty() ? ""
                     : other         ? "; the video is saved without this sound"
                                     : "; the video is saved without sound") +
                    ". The sound is kept in: " + sound);
    };
    for (TInterruptedRecording& r : recoveries_) {
        // Planted in the files' place while the question was open: left alone.
        std::vector<std::string> leftAlone;
        for (std::string* file : {&r.video, &r.audio, &r.audio2})
            if (!file->empty() && !Available(*file, &leftAlone)) file->clear();
        for (const std::string& text : leftAlone) CameraError(text);
        if (r.video.empty() && r.audio.empty() && r.audio2.empty()) continue;
        // Its extension is the one its video allows (see OfferedName).
        r.target = FreeFileName(r.target);
        AVIFileInit();
        PAVISTREAM opened[3] = {nullptr, nullptr, nullptr};
        if (!r.video.empty()) OpenTempStream(r.video, opened[0]);
        // The sound files the merge can take, the first input's first.
        std::vector<std::string*> sounds;
        const std::tuple<std::string*, const char*, const char*> files[] = {
            {&r.audio, kTempAudioName, "_audio.wav"}, {&r.audio2, kTempAudio2Name, "_audio2.wav"}};
        for (const auto& [sound, tempName, keptSuffix] : files) {
            if (sound->empty()) continue;
            if (const std::string fault = WaveFormatFault(*sound); !fault.empty())
                refuseSound(r, *sound, tempName, keptSuffix, fault);
            else
                sounds.push_back(sound);
        }
        // Two inputs become the recording's sound as a recording's do: their
        // mix, or two tracks, as chosen now.
        std::string mix;
        std::vector<const std::string*> merged;  // the sound files in the merge
        // Where a kept recording's sound lies, as its first save placed it.
        SoundPlacing placings[3];
        if (sounds.size() == 2 && !SeparateSoundTracks) {
            mix = FreeFileName(BesideTarget(r.target, "_mix.wav"));
            std::string error;
            if (MixWaveFiles(*sounds[0], ReadWavePlacing(*sounds[0]), *sounds[1],
                             ReadWavePlacing(*sounds[1]), mix, error)) {
                OpenTempStream(mix, opened[1]);
                if (opened[1]) merged = {sounds[0], sounds[1]};
            } else {
                CameraError("Can not mix the two sound inputs: " + error +
                            "; the first input's sound is saved alone, the second's kept in: " +
                            *sounds[1]);
                OpenTempStream(*sounds[0], opened[1]);
                placings[1] = ReadWavePlacing(*sounds[0]);
                if (opened[1]) merged = {sounds[0]};
            }
        } else {
            for (std::size_t i = 0; i < sounds.size(); ++i) {
                OpenTempStream(*sounds[i], opened[1 + i]);
                placings[1 + i] = ReadWavePlacing(*sounds[i]);
                if (opened[1 + i]) merged.push_back(sounds[i]);
            }
        }
        PAVISTREAM streams[3] = {nullptr, nullptr, nullptr};
        SoundPlacing placed[3];
        int count = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            if (!opened[i]) continue;
            placed[count] = placings[i];
            streams[count++] = opened[i];
        }
        recovering_ = &r;
        const bool saved = count > 0 && MergeToFile(r.target, count, streams, placed);
        recovering_ = nullptr;
        for (PAVISTREAM s : opened)
            if (s) AVIStreamRelease(s);
        AVIFileExit();
        if (!mix.empty()) EraseFile(mix);
        if (saved) {
            // In the new file now; what did not open stays.
            if (opened[0]) EraseFile(r.video);
            for (const std::string* sound : merged) EraseFile(*sound);
        } else if (count == 0) {
            std::string left = r.video;
            for (const std::string* sound : {&r.audio, &r.audio2})
                if (!sound->empty()) left += (left.empty() ? "" : ", ") + *sound;
            CameraError("The interrupted recording could not be read; it is left in: " + left);
        }
    }
    recoveries_.clear();
}

}  // namespace velmora::engine
