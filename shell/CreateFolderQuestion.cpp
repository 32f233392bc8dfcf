#include "shell/CreateFolderQuestion.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "common/Language.h"

namespace velmora {

bool AskToCreateFolder(QWidget* parent, const QString& folder) {
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
    return box.clickedButton() == create;
}

}  // namespace velmora
