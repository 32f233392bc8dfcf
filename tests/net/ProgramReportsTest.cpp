// The reports and the update check as the program makes them: the main
// window with its real engine on the private X server, its about box and
// update dialog created after it as the program does, and a loopback server
// in place of the vendor's. Each test runs in a temporary program folder.

#include <gtest/gtest.h>

#include <sys/file.h>

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include "common/Language.h"
#include "common/ProgramFolder.h"
#include "common/Settings.h"
#include "engine/ScreenCamera.h"
#include "net/AboutDialog.h"
#include "net/HttpClient.h"
#include "net/StatsReports.h"
#include "net/UpdateDialog.h"
#include "shell/MainWindow.h"
#include "shell/QtCameraHost.h"
#include "tests/net/LoopbackHttpServer.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using test::LoopbackHttpServer;
using test::Pause;
using test::Until;

namespace {

const QString kShipped = QStringLiteral(VELMORA_LANGUAGE_DIR);
const QByteArray kUsage = "/stat_velmora_use.php";

QString Decoded(QByteArray value) {
    return QUrl::fromPercentEncoding(value.replace('+', ' '));
}

class ProgramReportsTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        test::UseProgramFolder(dir_.path(), kShipped, {"English"});
        QDir(dir_.path()).mkdir(QStringLiteral("out"));
        for (const char* path : {"/statrec.php", "/stat_velmora_use.php"})
            server_.SetReply(path, {});
        server_.SetReply("/update_velmora.txt", {200, "1.0.4", {}, false});
    }
    void TearDown() override {
        Stop();
        SetProgramFolder("");
        Settings = TSettings{};
    }

    void WriteSetup(const QString& sendStats) {
        QFile setup(dir_.filePath(QStringLiteral("Setup.ini")));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(QStringLiteral("[SetupVideo]\nWorkDir=%1/\nTypeCapture=0\nRegionLeftPos=0\n"
                                   "RegionTopPos=0\nRegionWidthPos=320\nRegionHeightPos=240\n"
                                   "[SetupApp]\nMinimizeCapture=0\nRestoreAfterRecord=0\n"
                                   "SendStats=%2\n")
                        .arg(dir_.filePath(QStringLiteral("out")), sendStats)
                        .toUtf8());
    }
    // The windows in the program's order.
    void Start() {
        const TNetServers servers{server_.Url(), server_.Url()};
        form_ = std::make_unique<MainWindow>(servers);
        about_ = std::make_unique<AboutDialog>(servers.site, form_.get());
        update_ = std::make_unique<UpdateDialog>(form_->Http(), servers, form_.get());
        update_->OnLanguageApplied = [this] { form_->LanguageApplied(); };
        form_->show();
    }
    void Stop() {
        update_.reset();
        about_.reset();
        form_.reset();
    }

    QString Log() const { return test::LogsIn(dir_.path()); }
    std::vector<LoopbackHttpServer::Request> Requests(const QByteArray& path) const {
        std::vector<LoopbackHttpServer::Request> found;
        for (const auto& r : server_.Requests())
            if (r.path == path) found.push_back(r);
        return found;
    }
    // One recording of about a second, merged.
    void Record() {
        form_->StartOrStopClicked();
        Pause(1000);
        form_->StartOrStopClicked();
        ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
    }

    QTemporaryDir dir_;
    LoopbackHttpServer server_;
    std::unique_ptr<MainWindow> form_;
    std::unique_ptr<AboutDialog> about_;
    std::unique_ptr<UpdateDialog> update_;
};

TEST_F(ProgramReportsTest, AFirstStartIsReportedOnceAndTheUpdateCheckFollowsTwoSecondsLater) {
    QElapsedTimer started;
    started.start();
    Start();
    // Sent while the main window was being made, before any setting existed.
    ASSERT_EQ(Requests("/statrec.php").size(), 1u);
    EXPECT_EQ(Requests("/statrec.php")[0].method, "POST");
    EXPECT_TRUE(Requests("/update_velmora.txt").empty());

    ASSERT_TRUE(Until([&] { return !Requests("/update_velmora.txt").empty(); }, 10000));
    EXPECT_GE(started.elapsed(), 1900);
    EXPECT_EQ(Requests("/update_velmora.txt")[0].method, "GET");
    EXPECT_FALSE(update_->isVisible());  // the server has our version

    // Closing writes Setup.ini: the next start is not a first one.
    form_->close();
    ASSERT_TRUE(QFile::exists(dir_.filePath(QStringLiteral("Setup.ini"))));
    Stop();
    Start();
    Pause(2500);
    EXPECT_EQ(Requests("/statrec.php").size(), 1u);
    EXPECT_EQ(Requests("/update_velmora.txt").size(), 2u);
}

TEST_F(ProgramReportsTest, WithoutSendStatsNeitherTheCheckNorAMergeIsSent) {
    WriteSetup(QStringLiteral("0"));
    Start();
    Record();
    Pause(2500 - 1000);
    EXPECT_TRUE(Log().contains(QStringLiteral(" - Recorded with "))) << Log().toStdString();
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(ProgramReportsTest, EachFinishedRecordingReportsItsResultLine) {
    WriteSetup(QStringLiteral("1"));
    Start();
    for (std::size_t n = 1; n <= 2; ++n) {
        Record();
        // Posted after the merge without a wait: it arrives a moment later.
        ASSERT_TRUE(Until([&] { return Requests(kUsage).size() >= n; }, 5000));
        const auto reports = Requests(kUsage);
        ASSERT_EQ(reports.size(), n);
        const QList<QByteArray> fields = reports.back().body.split('&');
        ASSERT_EQ(fields.size(), 5);  // four fields, then the trailing "&"
        ASSERT_TRUE(fields[3].startsWith("Result="));
        const QString result = Decoded(fields[3].mid(7));
        EXPECT_TRUE(result.startsWith(QStringLiteral("Recorded with "))) << result.toStdString();
        EXPECT_TRUE(Log().contains(QStringLiteral(" - ") + result + u'\n')) << Log().toStdString();
    }
}

TEST_F(ProgramReportsTest, UpdateDialogKeepsTheStopCaptionOfARunningRecording) {
    WriteSetup(QStringLiteral("0"));
    Start();
    auto* record = form_->findChild<QToolButton*>(QStringLiteral("recordButton"));
    form_->StartOrStopClicked();
    ASSERT_EQ(record->text(), MsgTexts(2));
    server_.SetReply("/update_velmora.txt", {200, "1.0.5", {}, false});
    update_->CheckForUpdate();
    ASSERT_TRUE(Until([&] { return update_->isActiveWindow(); }, 5000));
    EXPECT_EQ(record->text(), MsgTexts(2));
    form_->StartOrStopClicked();
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
}

TEST_F(ProgramReportsTest, ClosingTheMainWindowClosesTheUpdateDialogAndEndsTheProgram) {
    WriteSetup(QStringLiteral("0"));
    Start();
    server_.SetReply("/update_velmora.txt", {200, "1.0.5", {}, false});
    update_->CheckForUpdate();
    ASSERT_TRUE(Until([&] { return update_->isVisible(); }, 5000));
    form_->close();
    EXPECT_FALSE(update_->isVisible());
    // The program's event loop ends when no window that Qt counts for it is
    // shown: one with no window it belongs to.
    for (QWindow* window : QGuiApplication::topLevelWindows())
        EXPECT_FALSE(window->isVisible() && !window->transientParent() &&
                     window->type() != Qt::ToolTip)
            << window->objectName().toStdString();
}

TEST_F(ProgramReportsTest, AnUnansweredUsageReportHoldsUpNeitherRecordNorTheExit) {
    WriteSetup(QStringLiteral("1"));
    server_.SetReply(kUsage, {200, {}, {}, true});
    Start();
    form_->StartOrStopClicked();
    Pause(1000);
    QElapsedTimer stopped;
    stopped.start();
    form_->StartOrStopClicked();
    // The worker ends without waiting for the report's answer, well within
    // the client's timeout, and Record is back.
    ASSERT_TRUE(Until([&] { return !form_->Camera()->WorkerRunning(); }));
    EXPECT_LT(stopped.elapsed(), HttpClient::kDefaultTimeout.count() / 2);
    EXPECT_TRUE(Until([&] {
        return form_->findChild<QToolButton*>(QStringLiteral("recordButton"))->isEnabled();
    }));
    ASSERT_TRUE(Until([&] { return Requests(kUsage).size() == 1u; }, 5000));
    // The exit drops the open request.
    QElapsedTimer closing;
    closing.start();
    form_->close();
    Stop();
    EXPECT_LT(closing.elapsed(), HttpClient::kDefaultTimeout.count() / 2);
}

TEST_F(ProgramReportsTest, TheAboutButtonShowsTheAboutBoxModally) {
    WriteSetup(QStringLiteral("0"));
    Start();
    QString version;
    QTimer::singleShot(300, [&] {
        if (QApplication::activeModalWidget() != about_.get()) return;
        version = about_->VersionLabel->text();
        about_->accept();
    });
    form_->findChild<QToolButton*>(QStringLiteral("aboutButton"))->click();
    EXPECT_EQ(version, QStringLiteral("1.0.4"));
}

// The engine on the program's host, with the report hook the main window
// installs: a target that cannot be replaced ends without a merge, and so
// without a report; the next recording reports.
TEST_F(ProgramReportsTest, AVideoFileThatCannotBeReplacedSendsNoReport) {
    QWidget window;
    window.show();
    HttpClient http;
    TStatsReporter reporter(http, server_.Url());
    QtCameraHost::Hooks hooks;
    hooks.reportMergeResult = [&](const std::string& text) {
        const QString result = ReportableResult(QString::fromStdString(text));
        QMetaObject::invokeMethod(
            &window, [&reporter, result] { reporter.PostUsageReport(result); },
            Qt::QueuedConnection);
    };
    QtCameraHost host(&window, hooks);
    const std::string out = dir_.filePath(QStringLiteral("out")).toStdString() + "/";
    engine::TScreenCamera camera(host);
    std::vector<std::string> errors;
    std::mutex mutex;
    camera.OnCameraError = [&](engine::TScreenCamera*, const std::string& text) {
        std::lock_guard lock(mutex);
        errors.push_back(text);
    };
    const auto& names = camera.ListCompressors();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == "Full Frames (Uncompressed)") camera.CompressorIndex = int(i);
    camera.Mode = engine::CaptureMode::FixedArea;
    camera.Width = 160;
    camera.Height = 120;
    camera.FramesPerSecond = 10;
    camera.FrameInterval = 100;
    camera.MinimizeOnRecord = false;
    camera.RestoreAfterRecord = false;

    // Held open with an exclusive lock, as by a player.
    const std::string target = out + "VideoRecord_taken.avi";
    const int held = ::open(target.c_str(), O_CREAT | O_RDWR, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    for (const std::string& file : {target, out + "VideoRecord_free.avi"}) {
        camera.StartRecording(file);
        Pause(500);
        camera.StopRecording();
        ASSERT_TRUE(Until([&] { return !camera.WorkerRunning(); }));
        if (file == target) {
            std::lock_guard lock(mutex);
            ASSERT_FALSE(errors.empty());
            EXPECT_EQ(errors.back().rfind("Can not delete existing video file: " + target, 0), 0u)
                << errors.back();
            EXPECT_TRUE(Requests(kUsage).empty());
        }
    }
    ::close(held);
    EXPECT_TRUE(Until([&] { return Requests(kUsage).size() == 1u; }, 5000));
    Pause(200);
    EXPECT_EQ(Requests(kUsage).size(), 1u);
}

}  // namespace
