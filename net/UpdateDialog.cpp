#include "net/UpdateDialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "common/Language.h"
#include "common/Settings.h"
#include "net/HttpClient.h"
#include "net/StatsReports.h"
#include "net/WebLinkLabel.h"
#include "common/ButtonImages.h"
#include "common/EventLog.h"

namespace velmora {

TUpdateForm* UpdateForm = nullptr;

TUpdateForm::TUpdateForm(HttpClient& http, TNetServers servers, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      http_(http),
      servers_(std::move(servers)) {
    UpdateForm = this;
    SetLanguageWindow(LanguageWindow::Update, this);
    setObjectName(QStringLiteral("UpdateForm"));
    setWindowTitle(QStringLiteral("New version is available on the website"));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(ButtonImageIcon(kImageProgram).pixmap(48, 48));
    Image1->setAlignment(Qt::AlignTop);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = new TWebLinkLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    // The version comes from the server: shown as text, never as markup.
    for (QLabel* label : {Label1, Label2}) label->setTextFormat(Qt::PlainText);
    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));

    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(16);
    layout->addWidget(Image1, 0, 0, 3, 1);
    layout->addWidget(Label1, 0, 1);
    layout->addWidget(Label2, 1, 1);
    layout->addWidget(Label3, 2, 1);
    layout->addWidget(Button1, 3, 0, 1, 2, Qt::AlignRight);
    layout->setRowMinimumHeight(3, 36);
    layout->setColumnStretch(1, 1);

    connect(Label3, &TWebLinkLabel::clicked, this, &TUpdateForm::Label3Click);
    connect(Button1, &QPushButton::clicked, this, &TUpdateForm::sButton1Click);
}

TUpdateForm::~TUpdateForm() {
    SetLanguageWindow(LanguageWindow::Update, nullptr);
    if (UpdateForm == this) UpdateForm = nullptr;
}

void TUpdateForm::CheckForUpdate() {
    QByteArray reply;
    try {
        reply = http_.Get(ServerUrl(servers_.site, QStringLiteral("/update_velmora.txt")));
    } catch (const EHttpError& e) {
        WriteLog(LogTexts(5) + QStringLiteral(" - ") + QString::fromStdString(e.what()));
        return;
    }
    // Compared byte for byte: a line break after the number is a difference.
    LatestVersion = QString::fromUtf8(reply);
    if (reply == QByteArray(AppVersion)) return;
    // Built before showing, so the dialog is centred at its real size.
    BuildTexts();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}

bool TUpdateForm::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return handled;
}

void TUpdateForm::FormActivate() {
    BuildTexts();
    WriteLog(windowTitle() + QStringLiteral(" - ") + LatestVersion);
}

void TUpdateForm::BuildTexts() {
    for (QLabel* label : {Label1, Label2, static_cast<QLabel*>(Label3)}) label->clear();
    ApplyLanguage();
    if (OnLanguageApplied) OnLanguageApplied();
    const QString ours = QString::fromLatin1(AppVersion);
    Label1->setText(Label1->text() + QStringLiteral(": ") + ours);
    Label2->setText(Label2->text() + QStringLiteral(": ") + LatestVersion);
    Label3->setText(Label3->text() + QStringLiteral(" Velmora ") + LatestVersion);
    // Only the exact name: the Russian page is for the Russian file.
    Label3->Url = ServerUrl(servers_.site, Settings.Language == "Russian"
                                               ? QStringLiteral("/ru/download.html")
                                               : QStringLiteral("/en/download.html"));
    QPalette palette = Label3->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    Label3->setPalette(palette);
    // Wide enough for the caption, beside the window manager's buttons.
    const QSize content = layout()->sizeHint();
    setFixedSize(std::max(content.width(), fontMetrics().horizontalAdvance(windowTitle()) + 150),
                 content.height());
}

void TUpdateForm::Label3Click() {
    if (!Settings.SendStats) return;
    try {
        TStatsReporter(http_, servers_.reports)
            .SendUsageReport(QStringLiteral("User click for download new version - ") +
                             QString::fromLatin1(AppVersion));
    } catch (const EHttpError& e) {
        // The user asked for this one: a failure is shown, and the dialog stays.
        QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                        QString::fromStdString(e.what()), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("ReportError"));
        box.exec();
    }
}

void TUpdateForm::sButton1Click() {
    close();
}

}  // namespace velmora
