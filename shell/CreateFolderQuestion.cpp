#include "shell/CreateFolderQuestion.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

#include "common/EventLog.h"
#include "common/Language.h"

namespace velmora {

bool OfferToCreateFolder(QWidget* parent, const QString& folder) {
    QMessageBox box(
        QMessageBox::Question, QCoreApplication::applicationName(),
        MsgTextOr(69, "The folder %1 does not exist. Create it for the recordings?").arg(folder),
        QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("CreateFolderQuestion"));
    box.setTextFormat(Qt::PlainText);
    QPushButton* create = box.addButton(MsgTextOr(70, "&Create"), QMessageBox::AcceptRole);
    QPushButton* keep =
        box.addButton(MsgTextOr(71, "&Keep the folder in use"), QMessageBox::RejectRole);
    create->setObjectName(QStringLiteral("createFolderButton"));
    keep->setObjectName(QStringLiteral("keepFolderButton"));
    box.setDefaultButton(create);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() != create) return false;
    std::error_code error;
    std::filesystem::create_directories(folder.toStdString(), error);
    if (error && !QFileInfo(folder).isDir()) {
        WriteLog(MsgTextOr(72, "The folder %1 cannot be created: %2")
                     .arg(folder, QString::fromStdString(error.message())));
        return false;
    }
    return true;
}

}  // namespace velmora
