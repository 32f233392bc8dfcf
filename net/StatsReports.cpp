#include "net/StatsReports.h"

#include "common/Functions.h"
#include "common/Settings.h"
#include "net/HttpClient.h"
#include "net/VendorServers.h"
#include "common/EventLog.h"

namespace velmora {
namespace {

QString TwoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

}  // namespace

QByteArray EncodeFormValue(const QString& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray encoded;
    for (const char c : value.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9')) {
            encoded += c;
        } else if (byte == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

QByteArray FormBody(const FormFields& fields) {
    QByteArray body;
    for (const auto& [name, value] : fields) body += name + '=' + EncodeFormValue(value) + '&';
    return body;
}

QString ReportDatetime(const QDateTime& when, const QLocale& locale) {
    const QString d = EventLog::DateSeparator(locale), t = EventLog::TimeSeparator(locale);
    const QDate date = when.date();
    const QTime time = when.time();
    return QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')) + d +
           TwoDigits(date.month()) + d + TwoDigits(date.day()) + u' ' + TwoDigits(time.hour()) + t +
           TwoDigits(time.minute()) + t + TwoDigits(time.second());
}

QString ReportableResult(const QString& resultLine) {
    QString result = resultLine;
    for (const QString& addition :
         {QStringLiteral(" Recording kept in: "), QStringLiteral(" Recording left in: ")}) {
        const qsizetype at = result.indexOf(addition);
        if (at >= 0) result.truncate(at);
    }
    return result;
}

TStatsReporter::TStatsReporter(HttpClient& http, QUrl server, ReportSources sources)
    : http_(http), server_(std::move(server)), sources_(std::move(sources)) {
    if (!sources_.macAddress) sources_.macAddress = [] { return GetMacAddress(); };
    if (!sources_.now) sources_.now = [] { return QDateTime::currentDateTime(); };
}

FormFields TStatsReporter::CommonFields() const {
    return {{"Datetime", ReportDatetime(sources_.now(), sources_.locale)},
            {"Version", QString::fromLatin1(AppVersion)},
            {"MAC", QString::fromStdString(sources_.macAddress())}};
}

void TStatsReporter::SendInstallReport() {
    http_.PostForm(ServerUrl(server_, QStringLiteral("/statrec.php")), FormBody(CommonFields()));
}

void TStatsReporter::SendUsageReport(const QString& result) {
    FormFields fields = CommonFields();
    fields.emplace_back("Result", result);
    http_.PostForm(ServerUrl(server_, QStringLiteral("/stat_velmora_use.php")), FormBody(fields));
}

void SendMergeReport(const QUrl& server, const std::string& resultLine) {
    try {
        HttpClient http;
        TStatsReporter(http, server)
            .SendUsageReport(ReportableResult(QString::fromStdString(resultLine)));
    } catch (...) {
        // A report must never disturb a recording, and nobody waits for it.
    }
}

}  // namespace velmora
