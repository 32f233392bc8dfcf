#pragma once
// The usage statistics the program sends to the report server: the report of
// a first start and the usage report (after a merge, and when the user follows
// the download link). Each is a form posted to a script; the reply is read
// and ignored. Whether a report may be sent is the caller's decision.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

class HttpClient;

// A form value as the scripts expect it: letters A-Z, a-z and digits as they
// are, a space as "+", every other byte of the UTF-8 text as "%" and two
// upper-case hex digits ("1.0.4" becomes "1%2E0%2E4").
QByteArray EncodeFormValue(const QString& value);

using FormFields = std::vector<std::pair<QByteArray, QString>>;

// Each field as name, "=", encoded value and "&", in the given order; names
// are sent as they are.
QByteArray FormBody(const FormFields& fields);

// "yyyy/mm/dd hh:nn:ss" with the locale's date and time separators, 24-hour.
QString ReportDatetime(const QDateTime& when, const QLocale& locale);

// The part of a merge's result line that may leave the machine: the list of
// kept files the engine appends to a failed recording's line is cut off, and
// any other path becomes "<path>". Paths stay in the log.
QString ReportableResult(const QString& resultLine);

// What a report says about the machine and the moment; tests replace it.
struct ReportSources {
    // Sent in the field the scripts call "MAC": never a hardware address.
    std::function<std::string()> installId;  // empty: InstallId
    std::function<QDateTime()> now;          // empty: the current local time
    QLocale locale = QLocale::system();
};

class TStatsReporter {
  public:
    // server: the report server's base address. http must belong to the
    // calling thread and outlive the reporter.
    TStatsReporter(HttpClient& http, QUrl server, ReportSources sources = {});

    // Datetime, Version and MAC to /statrec.php. Throws EHttpError.
    void SendInstallReport();
    // Datetime, Version, MAC and Result to /stat_velmora_use.php: only this
    // report's fields, not those of earlier ones. Throws EHttpError.
    void SendUsageReport(const QString& result);
    // The same report, returning at once (HttpClient::PostFormAndForget).
    void PostUsageReport(const QString& result);

  private:
    FormFields CommonFields() const;
    QByteArray UsageReportBody(const QString& result) const;

    HttpClient& http_;
    QUrl server_;
    ReportSources sources_;
};

}  // namespace velmora
