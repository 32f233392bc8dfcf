#pragma once
// A folder typed for the recordings that is not there: asked whether to make
// it, rather than refused with the reason in the log alone.

#include <QString>

class QWidget;

namespace velmora {

// Asks over parent ("CreateFolderQuestion") whether to make folder: true for
// Create. The caller makes it (CheckFolder), away from the UI thread.
bool AskToCreateFolder(QWidget* parent, const QString& folder);

}  // namespace velmora
