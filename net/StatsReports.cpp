#include "net/StatsReports.h"

#include <QRegularExpression>

#include "common/EventLog.h"
#include "common/Functions.h"
#include "common/InstallId.h"
#include "common/Settings.h"
#include "net/HttpClient.h"
#include "net/VendorServers.h"

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
    // What follows these is a list of local files.
    for (const QString& addition :
         {QStringLiteral(" Recording kept in: "), QStringLiteral(" Recording left in: "),
          QStringLiteral(" The recording is left in: ")}) {
        const qsizetype at = result.indexOf(addition);
        if (at >= 0) result.truncate(at);
    }
    // Any other path (a folder in an error's reason, a saved file's name) up
    // to the ": " of its reason or the end of the line.
    static const QRegularExpression path(QStringLiteral("(^|[\\s\"'(])~?/[^\\s/:][^:]*"));
    result.replace(path, QStringLiteral("\\1<path>"));
    return result;
}

TStatsReporter::TStatsReporter(HttpClient& http, QUrl server, ReportSources sources)
    : http_(http), server_(std::move(server)), sources_(std::move(sources)) {
    if (!sources_.installId) sources_.installId = [] { return InstallId(); };
    if (!sources_.now) sources_.now = [] { return QDateTime::currentDateTime(); };
}

FormFields TStatsReporter::CommonFields() const {
    return {{"Datetime", ReportDatetime(sources_.now(), sources_.locale)},
            {"Version", QString::fromLatin1(AppVersion)},
            {"MAC", QString::fromStdString(sources_.installId())}};
}

void TStatsReporter::SendInstallReport() {
    http_.PostForm(ServerUrl(server_, QStringLiteral("/statrec.php")), FormBody(CommonFields()));
}

QByteArray TStatsReporter::UsageReportBody(const QString& result) const {
    FormFields fields = CommonFields();
    fields.emplace_back("Result", result);
    return FormBody(fields);
}

void TStatsReporter::SendUsageReport(const QString& result) {
    http_.PostForm(ServerUrl(server_, QStringLiteral("/stat_velmora_use.php")),
                   UsageReportBody(result));
}

void TStatsReporter::PostUsageReport(const QString& result) {
    http_.PostFormAndForget(ServerUrl(server_, QStringLiteral("/stat_velmora_use.php")),
                            UsageReportBody(result));
}

}  // namespace velmora
