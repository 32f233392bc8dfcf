#pragma once
// The window a window recording is about to record, as the log and the user
// are told of it. X reuses window ids: the id stored when a window was
// picked may belong to another program's window by the next start, which
// is told apart by its title and class.

#include <QString>
#include <string>

#include "common/Settings.h"
#include "platform/x11/WindowList.h"

namespace velmora {

// Whether the window having the stored id now is the one picked: its title
// and class are the stored ones (one stored empty is not compared).
bool IsStoredWindow(const TSettings& settings, const platform::TopLevelWindow& now);

// "\"Title\" (Class)", or the title alone for a window without a class.
std::string WindowDescription(const std::string& title, const std::string& windowClass);

// The question asked in the window when the stored id has another window:
// both windows named, from the language file's text.
QString StoredWindowQuestion(const TSettings& settings, const platform::TopLevelWindow& now);

// For the log, when the window is not recorded (refused, or answered No).
QString NotRecordedText(const TSettings& settings, const platform::TopLevelWindow& now);
// For the log at every start of a window recording: which window it is.
QString RecordedWindowText(const platform::TopLevelWindow& window);

// For -vc, which refuses instead of asking, and the log's English:
// "the window 0x... is now "B" (Class), not "A" (Class) as chosen; ...".
std::string StoredWindowRefusal(const TSettings& settings, const platform::TopLevelWindow& now);

}  // namespace velmora
