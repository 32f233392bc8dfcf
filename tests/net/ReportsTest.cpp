// The usage reports and the HTTP client against a loopback server: the exact
// requests, the value encoding, redirects and failures.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <thread>

#include "net/HttpClient.h"
#include "net/StatsReports.h"
#include "net/VendorServers.h"
#include "tests/net/LoopbackHttpServer.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using test::LoopbackHttpServer;

namespace {

const QDateTime kWhen(QDate(2015, 3, 7), QTime(14, 5, 9));

ReportSources Fixed(std::string mac, QLocale locale) {
    return {[mac] { return mac; }, [] { return kWhen; }, locale};
}

const QLocale kSlashes(QLocale::English, QLocale::UnitedStates);  // 3/7/15, 2:05 PM
const QLocale kDots(QLocale::German, QLocale::Germany);           // 07.03.15 14:05

class ReportsTest : public testing::Test {
  protected:
    void SetUp() override {
        server.SetReply("/statrec.php", {});
        server.SetReply("/stat_velmora_use.php", {});
    }
    LoopbackHttpServer server;
    HttpClient http;
};

TEST_F(ReportsTest, InstallReportPostsItsThreeFieldsWithTheClientsHeaders) {
    TStatsReporter(http, server.Url(), Fixed("00-1A-2B-3C-4D-5E", kSlashes)).SendInstallReport();
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/statrec.php");
    EXPECT_EQ(r.body,
              "Datetime=2015%2F03%2F07+14%3A05%3A09&Version=1%2E0%2E4&"
              "MAC=00%2D1A%2D2B%2D3C%2D4D%2D5E&");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.header("Accept"), "text/html, */*");
    EXPECT_EQ(r.header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
}

TEST_F(ReportsTest, UsageReportsCarryOnlyTheirOwnFieldsWithTheLocalesSeparators) {
    // No adapter answered, and the regional date separator is ".".
    TStatsReporter reporter(http, server.Url(), Fixed("", kDots));
    reporter.SendUsageReport(QStringLiteral("Error, unsupported format!"));
    reporter.SendUsageReport(QStringLiteral("second"));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/stat_velmora_use.php");
    EXPECT_EQ(requests[0].body,
              "Datetime=2015%2E03%2E07+14%3A05%3A09&Version=1%2E0%2E4&MAC=&"
              "Result=Error%2C+unsupported+format%21&");
    EXPECT_EQ(requests[1].body,
              "Datetime=2015%2E03%2E07+14%3A05%3A09&Version=1%2E0%2E4&MAC=&Result=second&");
}

TEST(FormEncoding, KeepsOnlyLettersAndDigitsAndSendsUtf8Bytes) {
    EXPECT_EQ(EncodeFormValue(QStringLiteral("Az09 .-/:%&=+_~")),
              "Az09+%2E%2D%2F%3A%25%26%3D%2B%5F%7E");
    EXPECT_EQ(EncodeFormValue(QStringLiteral("Время 1м")),
              "%D0%92%D1%80%D0%B5%D0%BC%D1%8F+1%D0%BC");
    EXPECT_EQ(EncodeFormValue(QStringLiteral("a\r\nb")), "a%0D%0Ab");
    EXPECT_EQ(FormBody({{"A", QString()}, {"B", QStringLiteral("x y")}}), "A=&B=x+y&");
}

TEST(ReportDatetime, FourDigitYearAnd24HourClockWithRegionalSeparators) {
    const QDateTime late(QDate(987, 12, 31), QTime(23, 59, 1));
    EXPECT_EQ(ReportDatetime(late, kSlashes), QStringLiteral("0987/12/31 23:59:01"));
    EXPECT_EQ(ReportDatetime(kWhen, kDots), QStringLiteral("2015.03.07 14:05:09"));
}

TEST(ReportableResult, LeavesLocalPathsOutOfTheReport) {
    EXPECT_EQ(ReportableResult(QStringLiteral(
                  "Error writing files! Recording kept in: /home/u/VideoRecord_1.avi_video.avi")),
              QStringLiteral("Error writing files!"));
    EXPECT_EQ(ReportableResult(QStringLiteral("Error generic! Recording left in: /tmp/x")),
              QStringLiteral("Error generic!"));
    EXPECT_EQ(ReportableResult(
                  QStringLiteral("Saving cancelled: nothing is deleted. The recording is left in: "
                                 "/home/u/~tempvideo.avi")),
              QStringLiteral("Saving cancelled: nothing is deleted."));
    // A folder in an error's reason, a recovered file's name.
    EXPECT_EQ(ReportableResult(QStringLiteral(
                  "Error writing files! /home/u/My Videos/: No space left on device")),
              QStringLiteral("Error writing files! <path>: No space left on device"));
    EXPECT_EQ(ReportableResult(
                  QStringLiteral("The interrupted recording is saved: /home/u/VideoRecord_1.avi")),
              QStringLiteral("The interrupted recording is saved: <path>"));
    EXPECT_EQ(ReportableResult(QStringLiteral("Error generic! ~/Videos/: Permission denied")),
              QStringLiteral("Error generic! <path>: Permission denied"));
    const QString summary =
        QStringLiteral("Recorded with H.264 (x264); 800x600; Time 5s; Dropped: 0% / 1/2");
    EXPECT_EQ(ReportableResult(summary), summary);
}

TEST_F(ReportsTest, RedirectsAreFollowedForGetAndPost) {
    server.SetReply("/old.txt", {302, {}, "/new.txt", false});
    server.SetReply("/new.txt", {200, "1.0.5", {}, false});
    EXPECT_EQ(http.Get(ServerUrl(server.Url(), QStringLiteral("/old.txt"))), "1.0.5");

    // 307 keeps the method and the body.
    server.SetReply("/statrec.php", {307, {}, "/moved.php", false});
    server.SetReply("/moved.php", {});
    TStatsReporter(http, server.Url(), Fixed("", kDots)).SendInstallReport();
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].path, "/new.txt");
    EXPECT_EQ(requests[3].method, "POST");
    EXPECT_EQ(requests[3].path, "/moved.php");
    EXPECT_EQ(requests[3].body, requests[2].body);
}

TEST_F(ReportsTest, FailuresRaiseReadableErrors) {
    server.SetReply("/stat_velmora_use.php", {500, "broken", {}, false});
    TStatsReporter reporter(http, server.Url(), Fixed("", kDots));
    try {
        reporter.SendUsageReport(QStringLiteral("x"));
        ADD_FAILURE() << "an HTTP error status is an error";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find("stat_velmora_use.php"), std::string::npos)
            << e.what();
    }
    // Nothing listens on the port of a server that is gone.
    QUrl gone;
    {
        LoopbackHttpServer closed;
        gone = closed.Url();
    }
    EXPECT_THROW(TStatsReporter(http, gone).SendInstallReport(), EHttpError);

    server.SetReply("/big.txt", {200, QByteArray(HttpClient::kMaxReplyBytes + 1, 'x'), {}, false});
    EXPECT_THROW(http.Get(ServerUrl(server.Url(), QStringLiteral("/big.txt"))), EHttpError);
}

TEST_F(ReportsTest, APostedUsageReportReturnsAtOnceReachesTheServerAndFailsSilently) {
    HttpClient http;
    TStatsReporter reporter(http, server.Url());
    // A server that reads the report and never answers holds nobody up.
    server.SetReply("/stat_velmora_use.php", {200, {}, {}, true});
    QElapsedTimer took;
    took.start();
    reporter.PostUsageReport(QStringLiteral("Recorded with Xvid"));
    EXPECT_LT(took.elapsed(), 1000);
    ASSERT_TRUE(test::Until([&] { return server.Requests().size() == 1u; }, 5000));
    EXPECT_TRUE(server.Requests()[0].body.endsWith("&Result=Recorded+with+Xvid&"))
        << server.Requests()[0].body.data();

    server.SetReply("/stat_velmora_use.php", {503, {}, {}, false});
    reporter.PostUsageReport(QStringLiteral("x"));
    ASSERT_TRUE(test::Until([&] { return server.Requests().size() == 2u; }, 5000));
    test::Pause(200);  // the failure arrives, and is dropped
}

}  // namespace
