#include "net/UpdateDialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVersionNumber>
#include <algorithm>

#include "common/ButtonImages.h"
#include "common/EventLog.h"
#include "common/Language.h"
#include "common/Settings.h"
#include "net/HttpClient.h"
#include "net/StatsReports.h"
#include "net/WebLinkLabel.h"

namespace velmora {
namespace {

// Longer is no version of ours ("1.0.4" has five characters).
constexpr qsizetype kLongestVersion = 32;

}  // namespace

UpdateDialog* TheUpdateDialog = nullptr;

UpdateDialog::UpdateDialog(HttpClient& http, TNetServers servers, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      http_(http),
      servers_(std::move(servers)) {
    TheUpdateDialog = this;
    setObjectName(QStringLiteral("UpdateDialog"));
    setWindowTitle(QStringLiteral("New version is available on the website"));

    programIcon = new QLabel(this);
    programIcon->setObjectName(QStringLiteral("programIcon"));
    programIcon->setPixmap(ButtonImageIcon(kImageProgram).pixmap(48, 48));
    programIcon->setAlignment(Qt::AlignTop);
    ourVersionLabel = new QLabel(this);
    ourVersionLabel->setObjectName(QStringLiteral("ourVersionLabel"));
    latestVersionLabel = new QLabel(this);
    latestVersionLabel->setObjectName(QStringLiteral("latestVersionLabel"));
    downloadLink = new TWebLinkLabel(this);
    downloadLink->setObjectName(QStringLiteral("downloadLink"));
    // The version comes from the server: shown as text, never as markup.
    for (QLabel* label : {ourVersionLabel, latestVersionLabel}) label->setTextFormat(Qt::PlainText);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));

    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(16);
    layout->addWidget(programIcon, 0, 0, 3, 1);
    layout->addWidget(ourVersionLabel, 0, 1);
    layout->addWidget(latestVersionLabel, 1, 1);
    layout->addWidget(downloadLink, 2, 1);
    layout->addWidget(closeButton, 3, 0, 1, 2, Qt::AlignRight);
    layout->setRowMinimumHeight(3, 36);
    layout->setColumnStretch(1, 1);

    connect(downloadLink, &TWebLinkLabel::clicked, this, &UpdateDialog::DownloadClicked);
    connect(closeButton, &QPushButton::clicked, this, &UpdateDialog::CloseClicked);
    // The keys are the language files' names of the controls.
    SetLanguageWindow(LanguageWindow::Update, this,
                      {{"Label1", ourVersionLabel},
                       {"Label2", latestVersionLabel},
                       {"Label3", downloadLink},
                       {"Button1", closeButton}});
}

UpdateDialog::~UpdateDialog() {
    SetLanguageWindow(LanguageWindow::Update, nullptr);
    if (TheUpdateDialog == this) TheUpdateDialog = nullptr;
}

void UpdateDialog::CheckForUpdate() {
    if (servers_.site.isEmpty()) return;  // a build without a server checks nothing
    QByteArray reply;
    try {
        reply = http_.Get(ServerUrl(servers_.site, QStringLiteral("/update_velmora.txt")));
    } catch (const EHttpError& e) {
        WriteLog(LogTexts(5) + QStringLiteral(" - ") + QString::fromStdString(e.what()));
        return;
    }
    // Only a version number opens the dialog, and only a newer one: an older
    // site, an empty file or a captive portal's page is no news.
    const QString text = QString::fromUtf8(reply).trimmed();
    qsizetype end = 0;
    const QVersionNumber latest = QVersionNumber::fromString(text, &end);
    if (latest.isNull() || end != text.size() || text.size() > kLongestVersion) {
        WriteLog(LogTexts(5) + QStringLiteral(" - the reply is not a version number"));
        return;
    }
    LatestVersion = text;
    // 1.0.4.0 is 1.0.4.
    const QVersionNumber ours = QVersionNumber::fromString(QLatin1String(AppVersion));
    if (QVersionNumber::compare(latest.normalized(), ours.normalized()) <= 0) return;
    // Built before showing, so the dialog is centred at its real size.
    BuildTexts();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
    activateWindow();
}

bool UpdateDialog::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) Activated();
    return handled;
}

void UpdateDialog::Activated() {
    BuildTexts();
    WriteLog(windowTitle() + QStringLiteral(" - ") + LatestVersion);
}

void UpdateDialog::BuildTexts() {
    for (QLabel* label : {ourVersionLabel, latestVersionLabel, static_cast<QLabel*>(downloadLink)})
        label->clear();
    ApplyLanguage();
    if (OnLanguageApplied) OnLanguageApplied();
    const QString ours = QString::fromLatin1(AppVersion);
    ourVersionLabel->setText(ourVersionLabel->text() + QStringLiteral(": ") + ours);
    latestVersionLabel->setText(latestVersionLabel->text() + QStringLiteral(": ") + LatestVersion);
    downloadLink->setText(downloadLink->text() + QStringLiteral(" Velmora ") + LatestVersion);
    // Only the exact name: the Russian page is for the Russian file.
    downloadLink->Url = ServerUrl(servers_.site, Settings.Language == "Russian"
                                                     ? QStringLiteral("/ru/download.html")
                                                     : QStringLiteral("/en/download.html"));
    QPalette palette = downloadLink->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    downloadLink->setPalette(palette);
    // Wide enough for the caption, beside the window manager's buttons.
    const QSize content = layout()->sizeHint();
    setFixedSize(std::max(content.width(), fontMetrics().horizontalAdvance(windowTitle()) + 150),
                 content.height());
}

void UpdateDialog::DownloadClicked() {
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

void UpdateDialog::CloseClicked() {
    close();
}

}  // namespace velmora
