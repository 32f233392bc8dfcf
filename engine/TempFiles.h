#pragma once
// File helpers of the engine's temporary and target files: which files this
// run made, moving a recording out of the way without replacing anything,
// the names kept recordings get, and the texts of file failures.

#include <sys/types.h>

#include <ctime>
#include <string>

namespace velmora::engine {

// A recording's temporary files, in the folder of the file it becomes: the
// picture, the first sound input's and the second's; and the mix of the two
// the merge makes and deletes.
inline constexpr const char* kTempVideoName = "~tempvideo.avi";
inline constexpr const char* kTempAudioName = "~tempaudio.wav";
inline constexpr const char* kTempAudio2Name = "~tempaudio2.wav";
inline constexpr const char* kTempMixName = "~tempaudiomix.wav";

bool FileExists(const std::string& path);
// "...VideoRecord_<date>_<time>....<avi|mp4|mkv>.part": a recording's file
// while it is written (or as a killed writer left it).
bool IsRecordingPartName(const std::string& name);

// A file a crash may have left in a folder others can write too, as the
// search for interrupted recordings finds it. It is opened without
// following a link and without waiting (a named pipe planted under the name
// would hold the opener until someone writes into it), and only a regular
// file of this user is taken.
enum class LeftFile {
    Absent,
    Usable,
    Busy,     // a running recording writes it
    Foreign,  // anything else: reason says what it is
};
LeftFile InspectLeftFile(const std::string& path, std::string* reason = nullptr);
// The log's line for a file InspectLeftFile refused.
std::string LeftAloneText(const std::string& path, const std::string& reason);
// Frees a temporary file's name for a new recording: a file of this user's
// that no recording writes is deleted; anything else stays. Empty when the
// name is free, else the file and why it stays: "PATH (a folder, not a
// regular file; it is left alone)".
std::string ClearTempName(const std::string& path);

// EraseFile, except for a file another writer holds locked (another copy
// recording in the same folder): that one is not taken from under it.
bool RemoveTempFile(const std::string& path);

// A file as the system knows it, so that a name taken over by another file
// (a crash's leftover, a file moved in) is told apart from the one we made.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
};
FileIdentity IdentityOf(const std::string& path);
bool IsSameFile(const std::string& path, const FileIdentity& identity);
// Deletes path only while it is the file identity names; forgets it.
void RemoveOwnFile(const std::string& path, FileIdentity& identity);

// A temporary file held open beside its writer, so that a folder removed or
// unmounted under a recording loses nothing: what was written is copied out
// of the open file.
class HeldFile {
  public:
    HeldFile() = default;
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Opens path when it is the file identity names.
    void Hold(const std::string& path, const FileIdentity& identity);
    void Release();
    bool Held() const { return fd_ >= 0; }
    // The whole file into a new file `to` (never over an existing one);
    // 0 or the errno of the failure.
    int CopyTo(const std::string& to) const;

  private:
    int fd_ = -1;
};

// "dir/VideoRecord_x.avi" -> "dir/VideoRecord_x" + suffix.
std::string BesideTarget(const std::string& target, const std::string& suffix);
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

// Moves a file to `to`, or to "<to stem>_2<ext>", "_3"... when that is taken;
// never replaces a file. Across disks it copies. The new name, or empty.
std::string MoveWithoutReplacing(const std::string& from, const std::string& to);
// wanted, or "<stem>_2<ext>", "_3"... when that is taken.
std::string FreeFileName(const std::string& wanted);

// When the recording in the file began: the file's birth time where the file
// system keeps one, else its last change (a moved file keeps both).
std::time_t RecordingStartTime(const std::string& path);
// "VideoRecord_" + local "yyyymmdd_hhnnss" + ".avi" in folder.
std::string RecordingNameAt(const std::string& folder, std::time_t when);

// "The disk is full: <folder>"
std::string DiskFullText(const std::string& folder);
// The system's reason for a failure with a file in folder: "The disk is
// full: ..." for ENOSPC, else "<folder>: <strerror>", e.g. "No such file or
// directory".
std::string FileErrorReason(const std::string& folder, int error);

}  // namespace velmora::engine
