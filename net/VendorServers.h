#pragma once
// Where the program reports to and where it looks for a newer version. Both
// are the one vendor host a build is given (CMake VELMORA_VENDOR_HOST), over
// HTTPS; a build without one knows no server: it sends nothing, checks
// nothing and shows nothing of either.

#include <QString>
#include <QUrl>

namespace velmora {

struct TNetServers {
    QUrl reports;  // usage reports: POST /statrec.php and /stat_velmora_use.php
    QUrl site;     // the update file /update_velmora.txt, the download and home pages
};

// The build's servers; both empty without a vendor host.
TNetServers VendorServers();

// A path ("/statrec.php") on a server given by its base address.
inline QUrl ServerUrl(const QUrl& server, const QString& path) {
    return server.resolved(QUrl(path));
}

}  // namespace velmora
