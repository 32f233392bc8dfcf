#pragma once
// The output-folder chooser.

#include <QString>

namespace velmora {

// Shows a folder chooser titled caption, starting at folder (or at root when
// folder is empty: "desktop" or a path). A folder that does not exist is
// emptied, also when the user cancels. True when the user chose a folder,
// which is then in folder.
bool BrowseForFolder(const QString& caption, const QString& root, QString& folder, bool showEditBox,
                     bool includeFiles, bool allowNewFolder);

}  // namespace velmora
