#pragma once
// Where the program reports to and where it looks for a newer version: the
// only two host names it knows. No vendor server runs yet, so both sit in the
// reserved .example domain: no report (it carries the machine's address) can
// reach a host that someone else might register.

#include <QString>
#include <QUrl>

namespace velmora {

// Usage reports: POST /statrec.php and /stat_velmora_use.php.
inline constexpr const char* kReportServer = "http://stats.velmora.example";
// The update file /update_velmora.txt, the download pages and the home page.
inline constexpr const char* kSiteServer = "http://www.velmora.example";

struct TNetServers {
    QUrl reports;
    QUrl site;
};

inline TNetServers VendorServers() {
    return {QUrl(QString::fromLatin1(kReportServer)), QUrl(QString::fromLatin1(kSiteServer))};
}

// A path ("/statrec.php") on a server given by its base address.
inline QUrl ServerUrl(const QUrl& server, const QString& path) {
    return server.resolved(QUrl(path));
}

}  // namespace velmora
