#include "common/DefaultOutputFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/ProgramFolder.h"
#include "common/SettingsLocation.h"

namespace velmora {

std::string DefaultOutputFolder() {
    if (CurrentSettingsLocation().besideProgram) return ProgramFolder();
    // An installed program's own folder is not the user's to fill.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder.toStdString();
}

}  // namespace velmora
