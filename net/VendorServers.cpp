#include "net/VendorServers.h"

namespace velmora {

TNetServers VendorServers() {
    const QString host = QStringLiteral(VELMORA_VENDOR_HOST);
    if (host.isEmpty()) return {};
    QUrl server;
    server.setScheme(QStringLiteral("https"));
    server.setHost(host);
    // A host that is no host name (a stray path or port in the option) is none.
    if (!server.isValid() || server.host().isEmpty()) return {};
    return {server, server};
}

}  // namespace velmora
