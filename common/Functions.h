#pragma once
// Small system helpers used across the program: the primary screen's size,
// the locked-file test and file deletion. None of them throws; each reports
// through its result.

#include <string>

namespace velmora {

// Size of the primary monitor in pixels, read at each call; 0 when there is
// no display. Its offset and the whole screen: common/ScreenSize.h.
int GetScreenWidth();
int GetScreenHeight();

// True when the file exists and is held by an exclusive lock of another
// open file (our writers hold one on the files they are writing) or cannot
// be opened for reading and writing.
bool IsFileLocked(const std::string& path);

// Deletes the file (a link itself, never its target). True when it is gone,
// also when it was not there.
bool EraseFile(const std::string& path);

}  // namespace velmora
