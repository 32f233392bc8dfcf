#pragma once
// A folder typed for the recordings that is not there: asked whether to make
// it, rather than refused with the reason in the log alone.

#include <QString>

class QWidget;

namespace velmora {

// Asks over parent ("CreateFolderQuestion") and makes folder with every
// folder above it that is missing. True when it is there afterwards; a
// failure is said in the log with the system's reason.
bool OfferToCreateFolder(QWidget* parent, const QString& folder);

}  // namespace velmora
