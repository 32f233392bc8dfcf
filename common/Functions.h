#pragma once
// Small system helpers used across the program: the primary screen's size,
// the folder picker, locked-file test, a file eraser with retries and the
// machine identity. None of them throws; each reports through its result.

#include <functional>
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

// Deletes the file, with up to 50 attempts. A locked file (or one that
// cannot be deleted) is instead recorded for deletion at the program's next
// start, 50 requests as well. True when the file is gone or its deletion
// was arranged.
bool EraseFile(const std::string& path);

// Deletes what earlier runs left for deletion at the next start; called
// once at start-up. Entries still locked stay on the list.
void ProcessPendingDeletions();

// The first network interface's link-layer address, in interface-index
// order, that is not all zeroes, as upper-case hex pairs joined by "-"
// (00-1A-2B-3C-4D-5E); empty when none answers.
std::string GetMacAddress();

// The busy cursor shown while EraseFile works; the program installs a hook
// that changes the application cursor (true: busy, false: restore).
void SetBusyCursorHook(std::function<void(bool)> hook);

}  // namespace velmora
