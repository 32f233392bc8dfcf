// Recordings a crash, a power cut or a failed merge left unmerged: found at
// the next start in the folder they were being recorded into and merged on
// the worker into the name of their start time there when the user wants
// them. A recording written straight into its file leaves "<name>.part",
// which is finished in its own container under its own name.

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <tuple>

#include "common/Functions.h"
#include "engine/ScreenCamera.h"
#include "engine/SoundMix.h"
#include "engine/TempFiles.h"
#include "engine/WaveHeader.h"
#include "engine/mux/FinishPart.h"

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

// When a name "...VideoRecord_yyyymmdd_hhmmss..." says its recording began,
// in local time; 0 for another name.
std::time_t NamedStartTime(const std::string& name) {
    static const std::regex stamp(R"(VideoRecord_(\d{4})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2}))");
    std::smatch m;
    if (!std::regex_search(name, m, stamp)) return 0;
    std::tm local{};
    local.tm_year = std::stoi(m[1]) - 1900;
    local.tm_mon = std::stoi(m[2]) - 1;
    local.tm_mday = std::stoi(m[3]);
    local.tm_hour = std::stoi(m[4]);
    local.tm_min = std::stoi(m[5]);
    local.tm_sec = std::stoi(m[6]);
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    return when < 0 ? 0 : when;
}

// A name for the merge's file that none of the copies a killed merge left
// holds (its own ".part" would take their place before it is known to
// succeed): wanted, or "<stem>_2<ext>", "_3"...
std::string FreeNameBeside(const std::string& wanted, const std::vector<std::string>& staleParts) {
    const std::string stem = BesideTarget(wanted, "");
    const std::string extension = wanted.substr(stem.size());
    std::string name = wanted;
    for (int n = 2; FileExists(name) || std::find(staleParts.begin(), staleParts.end(),
                                                  name + ".part") != staleParts.end();
         ++n)
        name = stem + "_" + std::to_string(n) + extension;
    return name;
}

// "VideoRecord_x" and "VideoRecord_x_2" name one recording.
bool SameStem(const std::string& name, const std::string& stem) {
    if (!name.starts_with(stem)) return false;
    const std::string rest = name.substr(stem.size());
    return rest.empty() || (rest.size() > 1 && rest[0] == '_' &&
                            rest.find_first_not_of("0123456789", 1) == std::string::npos);
}

// A language file's text with its %1, %2 filled in; english where the file
// lacks it.
std::string Filled(std::string text, const char* english, const std::vector<std::string>& args) {
    if (text.empty()) text = english;
    for (std::size_t i = args.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (auto at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + args[i].size()))
            text.replace(at, mark.size(), args[i]);
    }
    return text;
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
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
        ::closedir(dir);
        std::sort(names.begin(), names.end());
    }
    // Files being written or left as a killed writer left them: the Muxer's
    // and the merge's "<name>.part" (a running one holds it locked).
    static const std::regex partName(R"((.*)\.(avi|mp4|mkv)\.part)");
    struct Part {
        std::string name, stem;  // stem: the name without ".<ext>.part"
        bool taken = false;
    };
    std::vector<Part> parts;
    for (const std::string& name : names) {
        std::smatch m;
        if (IsRecordingPartName(name) && std::regex_match(name, m, partName) &&
            Available(folder + name, leftAlone))
            parts.push_back({name, m[1].str()});
    }

    // The temporary files themselves: a recording that never reached its merge.
    const std::string tempVideo = folder + kTempVideoName, tempAudio = folder + kTempAudioName,
                      tempAudio2 = folder + kTempAudio2Name;
    const bool video = Available(tempVideo, leftAlone), audio = Available(tempAudio, leftAlone),
               audio2 = Available(tempAudio2, leftAlone);
    if (video || audio || audio2) {
        const std::string first = video ? tempVideo : audio ? tempAudio : tempAudio2;
        const std::time_t started = RecordingStartTime(first);
        const std::string videoFile = video ? tempVideo : std::string();
        TInterruptedRecording r{videoFile, audio ? tempAudio : "",
                                OfferedName(RecordingNameAt(folder, started), videoFile, chosen),
                                audio2 ? tempAudio2 : ""};
        // Their merge's copy, killed on the way: named after when the
        // recording began (a portal's chooser may have kept it from starting
        // for a while) and begun after the files' last write.
        std::time_t lastWrite = 0;
        for (const std::string& file : {tempVideo, tempAudio, tempAudio2}) {
            struct stat st {};
            if (::lstat(file.c_str(), &st) == 0) lastWrite = std::max(lastWrite, st.st_mtime);
        }
        for (Part& p : parts) {
            const std::time_t named = NamedStartTime(p.name);
            if (named && named >= started - 300 && named <= started + 2 &&
                RecordingStartTime(folder + p.name) + 2 >= lastWrite) {
                p.taken = true;
                r.staleParts.push_back(folder + p.name);
            }
        }
        found.push_back(std::move(r));
    }
    // Recordings kept aside: "VideoRecord_x_video.avi" with "VideoRecord_x_audio.wav"
    // (and "VideoRecord_x_audio2.wav" for a second input).
    static const std::regex kept(R"((VideoRecord_.+)_video(_\d+)?\.avi)");
    for (const std::string& name : names) {
        std::smatch m;
        if (!std::regex_match(name, m, kept) || !Available(folder + name, leftAlone)) continue;
        const std::string sound = folder + m[1].str() + "_audio" + m[2].str() + ".wav";
        const std::string sound2 = folder + m[1].str() + "_audio2" + m[2].str() + ".wav";
        TInterruptedRecording r{folder + name, Available(sound, leftAlone) ? sound : "",
                                OfferedName(folder + m[1].str(), folder + name, chosen),
                                Available(sound2, leftAlone) ? sound2 : ""};
        // A merge of them killed on the way ("VideoRecord_x.mp4.part", or
        // "VideoRecord_x_2.mp4.part" beside an older file).
        for (Part& p : parts) {
            if (p.taken || !SameStem(p.stem, m[1].str())) continue;
            p.taken = true;
            r.staleParts.push_back(folder + p.name);
        }
        found.push_back(std::move(r));
    }
    // What is left of a recording written straight into its file.
    for (const Part& p : parts) {
        if (p.taken) continue;
        const std::string path = folder + p.name;
        const std::optional<OutputFormat> format = PartContainer(path);
        if (!format || !StartsAsContainer(path, *format)) {
            if (leftAlone)
                leftAlone->push_back(LeftAloneText(
                    path, "it does not hold " + FormatTitle(format.value_or(chosen))));
            continue;
        }
        TInterruptedRecording r;
        r.video = path;
        r.target = path.substr(0, path.size() - 5);
        r.part = true;
        found.push_back(std::move(r));
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
        if (r.part) {
            FinishInterruptedPart(r);
            continue;
        }
        // Its extension is the one its video allows (see OfferedName).
        r.target = FreeNameBeside(r.target, r.staleParts);
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
            for (const std::string& part : r.staleParts)
                if (InspectLeftFile(part) == LeftFile::Usable && EraseFile(part))
                    CameraError(Filled(host_.MessageText(109),
                                       "The copy an interrupted save left is deleted: %1", {part}));
        } else if (count == 0) {
            std::string left = r.video;
            for (const std::string* sound : {&r.audio, &r.audio2})
                if (!sound->empty()) left += (left.empty() ? "" : ", ") + *sound;
            CameraError("The interrupted recording could not be read; it is left in: " + left);
        }
    }
    recoveries_.clear();
}

void TScreenCamera::FinishInterruptedPart(const TInterruptedRecording& r) {
    const std::string target = FreeFileName(r.target);
    host_.SetBusyCursor(true);
    const PartFinish done = FinishPart(
        r.video, target, [this](int percent) { return ReportSaveProgress(percent) == 0; });
    host_.SetBusyCursor(false);
    std::string text;
    switch (done.kind) {
        case PartFinish::Finished: {
            // The final 100 tells the window the file is saved.
            if (OnSaveProgress) {
                bool proceed = true;
                OnSaveProgress(this, 100, proceed);
            }
            // As a merged recovery says it: the window's notice reads it.
            text = "The interrupted recording is saved: " + target;
            break;
        }
        case PartFinish::Refused:
            text = Filled(host_.MessageText(106),
                          "The interrupted recording %1 cannot be finished (%2); it is left as "
                          "it is.",
                          {r.video, done.reason});
            break;
        case PartFinish::Cancelled:
            text = Filled(host_.MessageText(108),
                          "Finishing the interrupted recording is cancelled; it is left in: %1",
                          {r.video});
            break;
        case PartFinish::Failed:
            text = Filled(host_.MessageText(107),
                          "The interrupted recording could not be finished (%2); it is left in: %1",
                          {r.video, done.systemError == ENOSPC || done.systemError == EDQUOT
                                        ? DiskFullText(FolderOf(target))
                                        : done.reason});
            break;
    }
    CameraError(text);
    try {
        host_.ReportMergeResult(text);
    } catch (...) {
        // A failed report must not disturb the recovery.
    }
}

}  // namespace velmora::engine
