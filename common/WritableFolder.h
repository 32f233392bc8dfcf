#pragma once
// Whether recordings can be written into a folder, and if not, why.

#include <string>

namespace velmora {

// Empty when files can be created in folder (tried with a file that never
// shows), else the system's reason: "No such file or directory", "Not a
// directory", "Permission denied", "Read-only file system", ... The folder
// is a prefix as the program uses it: the part up to its last '/' (all of it
// when it ends with one; "." when it has none).
std::string FolderUnusableReason(const std::string& folder);

// The reason when the folder (a prefix as above) is none for files at all,
// even where the system lets root write there: the device folder /dev, and
// the kernel's own file systems (/proc, /sys, /dev/pts, cgroups, ...).
// Empty otherwise, also when the folder does not exist.
std::string SystemFolderReason(const std::string& folder);

}  // namespace velmora
