// The update check and the update dialog against a loopback server, in a
// temporary program folder with the shipped language files: when the dialog
// opens, what it shows in each language, its log lines and the download link.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "net/HttpClient.h"
#include "net/UpdateDialog.h"
#include "net/WebLinkLabel.h"
#include "tests/net/LoopbackHttpServer.h"
#include "tests/net/OpenedPages.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using test::LeftClick;
using test::LoopbackHttpServer;
using test::Until;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);
const QByteArray kUpdateFile = "/update_velmora.txt";

class UpdateDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        test::UseProgramFolder(dir_.path(), kShipped, {"English", "German", "Russian"});
        ApplyLanguage();
        server_.SetReply("/stat_velmora_use.php", {});
        form_ = std::make_unique<UpdateDialog>(http_, TNetServers{server_.Url(), server_.Url()});
    }
    void TearDown() override {
        form_.reset();
        SetProgramFolder("");
        Settings = TSettings{};
    }

    QString Log() const { return test::LogsIn(dir_.path()); }
    // The server's file, then the check; true when the dialog came up active.
    bool Check(const QByteArray& latest) {
        server_.SetReply(kUpdateFile, {200, latest, {}, false});
        form_->CheckForUpdate();
        return form_->isVisible() && Until([&] { return form_->isActiveWindow(); }, 5000);
    }
    // The shown texts: caption, the three labels and the button.
    QStringList Shown() const {
        return {form_->windowTitle(), form_->ourVersionLabel->text(),
                form_->latestVersionLabel->text(), form_->downloadLink->text(),
                form_->closeButton->text()};
    }
    int Requests(const QByteArray& path) const {
        int n = 0;
        for (const auto& r : server_.Requests()) n += r.path == path;
        return n;
    }

    QTemporaryDir dir_;
    LoopbackHttpServer server_;
    HttpClient http_{std::chrono::milliseconds(1500)};
    std::unique_ptr<UpdateDialog> form_;
};

TEST_F(UpdateDialogTest, AnOlderVersionOrAnythingButAVersionOpensNothing) {
    // Ours again, or older: nothing to say.
    for (const QByteArray& latest :
         {QByteArray("1.0.4\n"), QByteArray(" 1.0.4.0"), QByteArray("1.0.3"), QByteArray("0.9")}) {
        EXPECT_FALSE(Check(latest)) << latest.data();
        EXPECT_TRUE(Log().isEmpty()) << Log().toStdString();
    }
    // Not a version: an empty file, a captive portal's page, a suffix.
    for (const QByteArray& latest :
         {QByteArray(), QByteArray("<html><body>Log in to the hotel's network</body></html>"),
          QByteArray("1.0.5-beta"), QByteArray("v1.0.5"), QByteArray(40, '1')}) {
        EXPECT_FALSE(Check(latest)) << latest.data();
        EXPECT_EQ(form_->LatestVersion, QStringLiteral("0.9"));  // the last version read
    }
    EXPECT_EQ(
        Log().count(QStringLiteral(" - Update check failed - the reply is not a version number\n")),
        5)
        << Log().toStdString();
}

TEST_F(UpdateDialogTest, OurOwnVersionExactlyOpensNothingAndLogsNothing) {
    EXPECT_FALSE(Check("1.0.4"));
    EXPECT_EQ(form_->LatestVersion, QStringLiteral("1.0.4"));
    EXPECT_EQ(Requests(kUpdateFile), 1);
    EXPECT_TRUE(Log().isEmpty()) << Log().toStdString();
}

TEST_F(UpdateDialogTest, OnlyANewerVersionOpensTheDialogWithBothVersions) {
    for (const QByteArray& latest : {QByteArray("1.0.5"), QByteArray("1.1\n"), QByteArray("2")}) {
        ASSERT_TRUE(Check(latest)) << latest.data();
        const QString shown = QString::fromUtf8(latest).trimmed();
        EXPECT_EQ(Shown(), QStringList({QStringLiteral("New version is available on the website"),
                                        QStringLiteral("Your version: 1.0.4"),
                                        QStringLiteral("Latest version: ") + shown,
                                        QStringLiteral("Download Velmora ") + shown,
                                        QStringLiteral("Close")}));
        EXPECT_TRUE(
            Log().contains(QStringLiteral(" - New version is available on the website - ") + shown))
            << Log().toStdString();
        form_->closeButton->click();
        EXPECT_FALSE(form_->isVisible());
    }
    EXPECT_EQ(form_->downloadLink->palette().color(QPalette::WindowText), QColor(Qt::blue));
}

TEST_F(UpdateDialogTest, ShowsTheTextsOfEachLanguageAndItsDownloadPage) {
    struct Case {
        const char* language;
        QStringList shown;
        const char* page;
    };
    const Case cases[] = {
        {"German",
         {QStringLiteral("Eine neue Version ist auf der Website verfügbar"),
          QStringLiteral("Ihre Version: 1.0.4"), QStringLiteral("Neueste Version: 1.0.5"),
          QStringLiteral("Hier herunterladen: Velmora 1.0.5"), QStringLiteral("Schließen")},
         "/en/download.html"},
        {"Russian",
         {QStringLiteral("На сайте доступна новая версия"), QStringLiteral("Ваша версия: 1.0.4"),
          QStringLiteral("Последняя версия: 1.0.5"), QStringLiteral("Скачать Velmora 1.0.5"),
          QStringLiteral("Закрыть")},
         "/ru/download.html"},
        // The same file, found whatever the case; the Russian page only for the exact name.
        {"russian", {}, "/en/download.html"},
        {"English",
         {QStringLiteral("New version is available on the website"),
          QStringLiteral("Your version: 1.0.4"), QStringLiteral("Latest version: 1.0.5"),
          QStringLiteral("Download Velmora 1.0.5"), QStringLiteral("Close")},
         "/en/download.html"},
    };
    for (const Case& c : cases) {
        Settings.Language = c.language;
        ASSERT_TRUE(Check("1.0.5")) << c.language;
        if (!c.shown.isEmpty()) {
            EXPECT_EQ(Shown(), c.shown) << c.language;
        }
        EXPECT_EQ(form_->downloadLink->Url, ServerUrl(server_.Url(), QString::fromLatin1(c.page)))
            << c.language;
        form_->closeButton->click();
    }
}

TEST_F(UpdateDialogTest, EveryActivationRebuildsTheLabelsAndLogsAgain) {
    ASSERT_TRUE(Check("1.0.5"));
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(Until([&] { return other.isActiveWindow() && !form_->isActiveWindow(); }, 5000));
    form_->activateWindow();
    ASSERT_TRUE(Until([&] { return form_->isActiveWindow(); }, 5000));
    EXPECT_EQ(Log().count(QStringLiteral(" - New version is available on the website - 1.0.5")), 2);
    // Rebuilt, not extended a second time.
    EXPECT_EQ(form_->ourVersionLabel->text(), QStringLiteral("Your version: 1.0.4"));
}

TEST_F(UpdateDialogTest, AFailedCheckIsLoggedAndOpensNothingWhileTheWindowsKeepWorking) {
    server_.SetReply(kUpdateFile, {200, "1.0.5", {}, false});
    form_->CheckForUpdate();
    form_->closeButton->click();

    server_.SetReply(kUpdateFile, {404, "gone", {}, false});
    form_->CheckForUpdate();
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->LatestVersion, QStringLiteral("1.0.5"));  // kept
    EXPECT_TRUE(Log().contains(QStringLiteral(" - Update check failed - Error transferring")))
        << Log().toStdString();

    // No answer at all: the client's timeout, and the reason in the log.
    // Meanwhile the windows keep working: a click reaches a button, timers tick.
    server_.SetReply(kUpdateFile, {200, {}, {}, true});
    QPushButton button;
    button.resize(80, 30);
    button.show();
    int clicks = 0, ticks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    QTimer::singleShot(300, [&] {
        const QPointF at(10, 10);
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                &button,
                new QMouseEvent(type, at, at, button.mapToGlobal(at), Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
    });
    QElapsedTimer waited;
    waited.start();
    form_->CheckForUpdate();
    EXPECT_GE(waited.elapsed(), 1400);
    EXPECT_EQ(clicks, 1);
    EXPECT_GE(ticks, 5);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_TRUE(Log().contains(
        QStringLiteral(" - Update check failed - No answer from 127.0.0.1 within 1.5 seconds")))
        << Log().toStdString();
}

TEST_F(UpdateDialogTest, TheDownloadLinkOpensThePageAndReportsOnlyWhenAllowed) {
    test::OpenedPages pages;
    ASSERT_TRUE(Check("1.0.5"));
    Settings.SendStats = false;
    LeftClick(form_->downloadLink);
    ASSERT_EQ(pages.urls.size(), 1);
    EXPECT_EQ(pages.urls[0], ServerUrl(server_.Url(), QStringLiteral("/en/download.html")));
    EXPECT_EQ(Requests("/stat_velmora_use.php"), 0);

    Settings.SendStats = true;
    LeftClick(form_->downloadLink);
    EXPECT_EQ(pages.urls.size(), 2);
    ASSERT_EQ(Requests("/stat_velmora_use.php"), 1);
    EXPECT_TRUE(server_.Requests().back().body.endsWith(
        "&Result=User+click+for+download+new+version+%2D+1%2E0%2E4&"));

    // A failing report is shown to the user; the page has opened anyway and
    // the dialog stays.
    server_.SetReply("/stat_velmora_use.php", {500, {}, {}, false});
    QString shownError;
    QTimer::singleShot(200, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownError = box->text();
            box->accept();
        }
    });
    LeftClick(form_->downloadLink);
    EXPECT_EQ(pages.urls.size(), 3);
    EXPECT_TRUE(shownError.contains(QStringLiteral("stat_velmora_use.php")))
        << shownError.toStdString();
    EXPECT_TRUE(form_->isVisible());
}

}  // namespace
