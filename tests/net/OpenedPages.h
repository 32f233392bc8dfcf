#pragma once
// Catches the web pages the program opens in the browser (http links) while
// it exists, instead of starting a browser.

#include <QList>
#include <QObject>
#include <QUrl>

namespace velmora::test {

class OpenedPages : public QObject {
    Q_OBJECT

  public:
    OpenedPages();
    ~OpenedPages() override;

    QList<QUrl> urls;

  public slots:
    void Open(const QUrl& url);
};

}  // namespace velmora::test
