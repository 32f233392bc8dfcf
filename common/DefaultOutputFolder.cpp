#include "common/DefaultOutputFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "common/ProgramFolder.h"
#include "common/SettingsLocation.h"

namespace velmora {

namespace {
std::string AsFolder(QString folder) {
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder.toStdString();
}
}  // namespace

std::string DefaultOutputFolder() {
    if (CurrentSettingsLocation().besideProgram) return ProgramFolder();
    // An installed program's own folder is not the user's to fill.
    return FallbackOutputFolders().front();
}

std::vector<std::string> FallbackOutputFolders() {
    std::vector<std::string> folders;
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QFileInfo(videos).isDir()) folders.push_back(AsFolder(videos));
    const std::string home = AsFolder(QDir::homePath());
    if (folders.empty() || folders.front() != home) folders.push_back(home);
    return folders;
}

}  // namespace velmora
