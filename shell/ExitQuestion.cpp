#include "shell/ExitQuestion.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "common/Language.h"

namespace velmora {
namespace {

const QString kExitQuestion = QStringLiteral("ExitQuestion");
const QString kDiscardQuestion = QStringLiteral("DiscardQuestion");

}  // namespace

ExitAnswer AskExitDuringRecording(QWidget* parent, const QString& target) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(),
                    MsgTextOr(51, "A recording is running. Save it and exit?"),
                    QMessageBox::NoButton, parent);
    box.setObjectName(kExitQuestion);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(MsgTextOr(52,
                                     "Save and exit stops the recording and saves it as %1. "
                                     "Discard deletes it; you are asked again first.")
                               .arg(target));
    QPushButton* save = box.addButton(MsgTextOr(53, "&Save and exit"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(MsgTextOr(54, "&Keep recording"), QMessageBox::RejectRole);
    QPushButton* discard =
        box.addButton(MsgTextOr(55, "&Discard..."), QMessageBox::DestructiveRole);
    save->setObjectName(QStringLiteral("saveAndExitButton"));
    keep->setObjectName(QStringLiteral("keepRecordingButton"));
    discard->setObjectName(QStringLiteral("discardButton"));
    box.setDefaultButton(save);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() == save) return ExitAnswer::SaveAndExit;
    if (box.clickedButton() == discard) return ExitAnswer::Discard;
    return ExitAnswer::KeepRecording;
}

bool ConfirmDiscard(QWidget* parent) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                    MsgTextOr(56,
                              "Delete the recording made so far and exit? It cannot be brought "
                              "back."),
                    QMessageBox::NoButton, parent);
    box.setObjectName(kDiscardQuestion);
    box.setTextFormat(Qt::PlainText);
    QPushButton* remove = box.addButton(MsgTextOr(57, "&Delete and exit"), QMessageBox::AcceptRole);
    QPushButton* back =
        box.addButton(MsgTextOr(58, "&Back to the recording"), QMessageBox::RejectRole);
    remove->setObjectName(QStringLiteral("deleteButton"));
    back->setObjectName(QStringLiteral("backButton"));
    box.setDefaultButton(back);
    box.setEscapeButton(back);
    box.exec();
    return box.clickedButton() == remove;
}

void CloseExitQuestions(QWidget* parent) {
    if (!parent) return;
    for (QMessageBox* box : parent->findChildren<QMessageBox*>())
        if (box->isVisible() &&
            (box->objectName() == kExitQuestion || box->objectName() == kDiscardQuestion))
            box->reject();
}

}  // namespace velmora
