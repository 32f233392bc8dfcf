#include "common/FolderPicker.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

namespace velmora {

namespace {
QString rootFolder(const QString& root) {
    if (root.isEmpty() || root.compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0) {
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        return QFileInfo(desktop).isDir() ? desktop : QDir::homePath();
    }
    return QFileInfo(root).isDir() ? root : QDir::homePath();
}
}  // namespace

bool BrowseForFolder(const QString& caption, const QString& root, QString& folder, bool showEditBox,
                     bool includeFiles, bool allowNewFolder) {
    if (!QFileInfo(folder).isDir()) folder.clear();
    // Qt's own dialog: it has the new-folder button and behaves the same on
    // every desktop, where native ones differ in what they allow.
    QFileDialog dialog(QApplication::activeWindow(), caption,
                       folder.isEmpty() ? rootFolder(root) : folder);
    dialog.setObjectName(QStringLiteral("BrowseForFolder"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QFileDialog::Options options = QFileDialog::DontUseNativeDialog;
    if (!includeFiles) options |= QFileDialog::ShowDirsOnly;
    if (!allowNewFolder) options |= QFileDialog::ReadOnly;  // no new-folder button
    dialog.setOptions(options);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (!showEditBox)
        for (auto* edit : dialog.findChildren<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setReadOnly(true);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    folder = QDir::toNativeSeparators(chosen.first());
    return true;
}

}  // namespace velmora
