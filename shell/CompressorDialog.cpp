#include "shell/CompressorDialog.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QSpinBox>

namespace velmora {

namespace {
QString fromUtf16(const char16_t* text, int limit) {
    int n = 0;
    while (n < limit && text[n] != 0) ++n;
    return QString::fromUtf16(text, n);
}
}  // namespace

bool ShowCompressorDialog(QWidget* parent, const vfw::ICINFO& info,
                          std::vector<vfw::ICCONFIGOPTION>& options) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("CompressorDialog"));
    const QString title = fromUtf16(info.szDescription, 128);
    dialog.setWindowTitle(title);
    // Wide enough for the title with the frame's buttons beside it: a
    // window manager cuts a title that does not fit.
    QFont titleFont = dialog.font();
    titleFont.setBold(true);
    dialog.setMinimumWidth(QFontMetrics(titleFont).horizontalAdvance(title) + 160);
    auto* form = new QFormLayout(&dialog);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    std::vector<QWidget*> editors;
    for (const auto& option : options) {
        const QString label = QString::fromStdString(option.label);
        const QString value = QString::fromStdString(option.value);
        if (!option.choices.empty()) {
            auto* box = new QComboBox(&dialog);
            for (const auto& choice : option.choices) box->addItem(QString::fromStdString(choice));
            box->setCurrentText(value);
            box->setObjectName(QString::fromStdString(option.key));
            form->addRow(label, box);
            editors.push_back(box);
        } else {
            auto* spin = new QSpinBox(&dialog);
            spin->setRange(option.minimum, option.maximum);
            spin->setValue(value.toInt());
            spin->setObjectName(QString::fromStdString(option.key));
            form->addRow(label, spin);
            editors.push_back(spin);
        }
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) return false;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (auto* box = qobject_cast<QComboBox*>(editors[i]))
            options[i].value = box->currentText().toStdString();
        else if (auto* spin = qobject_cast<QSpinBox*>(editors[i]))
            options[i].value = std::to_string(spin->value());
    }
    return true;
}

void InstallCompressorDialog() {
    vfw::ICSetConfigureHook(
        [](vfw::HWND parent, const vfw::ICINFO& info, std::vector<vfw::ICCONFIGOPTION>& options) {
            return ShowCompressorDialog(static_cast<QWidget*>(parent), info, options);
        });
}

}  // namespace velmora
