// A recording whose folder goes away under it (removed, its disk unmounted):
// the writers go on into the files they hold open, and at the stop what they
// wrote is copied out into a folder that is there and merged in it.

#include "common/WritableFolder.h"
#include "engine/ScreenCamera.h"
#include "engine/TempFiles.h"

namespace velmora::engine {

namespace {

bool SameFolder(const std::string& a, const FileIdentity& b) {
    return IsSameFile(a.empty() ? "." : a, b);
}

}  // namespace

bool TScreenCamera::RecordingFolderLost() const {
    if (heldVideo_.Held() && !IsSameFile(TempVideoFile, ownVideo_)) return true;
    for (const SoundInput& input : sound_)
        if (input.held.Held() && !IsSameFile(*input.tempFile, input.own)) return true;
    return recordingFolder_.known && !SameFolder(FolderOf(TempVideoFile), recordingFolder_);
}

std::string TScreenCamera::FolderForLostRecording() const {
    const std::string folder = FolderOf(TempVideoFile);
    // Only the files went: the folder itself still takes them.
    if (SameFolder(folder, recordingFolder_) && FolderUnusableReason(folder).empty()) return folder;
    for (const std::string& candidate : FallbackFolders) {
        // A folder unmounted under us leaves its mount point, which is no
        // place the user would look for the recording.
        if (candidate.empty() || candidate == folder) continue;
        if (FolderUnusableReason(candidate).empty()) return candidate;
    }
    return {};
}

void TScreenCamera::TellFolderLoss() {
    if (folderLossTold_) return;
    folderLossTold_ = true;
    const std::string lost = FolderOf(TempVideoFile);
    const std::string to = FolderForLostRecording();
    if (to == lost)
        CameraError("The temporary files of the recording in " + lost +
                    " were removed during the recording; it goes on and is saved there.");
    else
        CameraError("The folder " + lost + " was removed or unmounted during the recording; " +
                    (to.empty() ? std::string("no other folder takes files, so it cannot be saved.")
                                : "it goes on and is saved in " + to + "."));
}

void TScreenCamera::FinishInAnotherFolder(std::string& targetFile) {
    const bool videoLost = heldVideo_.Held() && !IsSameFile(TempVideoFile, ownVideo_);
    bool audioLost[2];
    for (std::size_t i = 0; i < sound_.size(); ++i)
        audioLost[i] = sound_[i].held.Held() && !IsSameFile(*sound_[i].tempFile, sound_[i].own);
    if (!videoLost && !audioLost[0] && !audioLost[1]) return;
    TellFolderLoss();
    const std::string lost = FolderOf(TempVideoFile);
    const std::string folder = FolderForLostRecording();
    if (folder.empty()) {
        EndedByFailure = true;
        return;
    }
    const std::string target = FreeFileName(folder + NameOf(targetFile));
    // The temporary name when it is free, so a crash before the merge still
    // finds it; else a name of the kept recordings'. The errno of a failure.
    auto copyOut = [&](const HeldFile& held, std::string& temp, FileIdentity& own,
                       const std::string& tempName, const char* keptSuffix) {
        std::string to = folder + tempName;
        if (FileExists(to)) to = FreeFileName(BesideTarget(target, keptSuffix));
        const int error = held.CopyTo(to);
        if (error == 0) {
            temp = to;
            own = IdentityOf(to);
        }
        return error;
    };
    if (videoLost) {
        if (const int error =
                copyOut(heldVideo_, TempVideoFile, ownVideo_, kTempVideoName, "_video.avi")) {
            CameraError("The recording cannot be saved: " + FileErrorReason(folder, error));
            EndedByFailure = true;
            return;
        }
    }
    // Without its sound file the merge saves the picture alone.
    for (std::size_t i = 0; i < sound_.size(); ++i) {
        SoundInput& input = sound_[i];
        if (!audioLost[i]) continue;
        if (const int error = copyOut(input.held, *input.tempFile, input.own,
                                      NameOf(*input.tempFile), input.keptSuffix))
            CameraError("The sound cannot be saved: " + FileErrorReason(folder, error));
    }
    targetFile = target;
    SetTargetFile(target);
    if (folder != lost)
        movedNote_ = "saved in " + target + " because the folder " + lost +
                     " was removed or unmounted during the recording";
}

}  // namespace velmora::engine
