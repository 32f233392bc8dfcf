#include "tests/net/OpenedPages.h"

#include <QDesktopServices>

namespace velmora::test {

OpenedPages::OpenedPages() {
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "Open");
}

OpenedPages::~OpenedPages() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void OpenedPages::Open(const QUrl& url) {
    urls << url;
}

}  // namespace velmora::test
