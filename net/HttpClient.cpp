#include "net/HttpClient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace velmora {

HttpClient::HttpClient(std::chrono::milliseconds timeout)
    : manager_(std::make_unique<QNetworkAccessManager>()), timeout_(timeout) {}

HttpClient::~HttpClient() = default;

QNetworkRequest HttpClient::Request(const QUrl& url) const {
    QNetworkRequest request(url);
    // The headers the server scripts have always seen.
    request.setRawHeader("Accept", "text/html, */*");
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

QByteArray HttpClient::Get(const QUrl& url) {
    return Wait(manager_->get(Request(url)));
}

QNetworkRequest HttpClient::FormRequest(const QUrl& url) const {
    QNetworkRequest request = Request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    return request;
}

QByteArray HttpClient::PostForm(const QUrl& url, const QByteArray& body) {
    return Wait(manager_->post(FormRequest(url), body));
}

void HttpClient::PostFormAndForget(const QUrl& url, const QByteArray& body) {
    // A child of the manager: deleted when it finishes, or with the client.
    QNetworkReply* reply = manager_->post(FormRequest(url), body);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->readAll(); });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64) {
                         if (received > kMaxReplyBytes) reply->abort();
                     });
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    // One deadline for the whole exchange, as for a waited-for request.
    QTimer::singleShot(timeout_, reply, [reply] { reply->abort(); });
}

QByteArray HttpClient::Wait(QNetworkReply* started) {
    const std::unique_ptr<QNetworkReply> reply(started);
    const QString host = reply->url().host();
    QString failure;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    // One deadline for the whole exchange: a server that trickles bytes
    // cannot hold the caller longer than one that says nothing.
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        failure = QStringLiteral("No answer from %1 within %2 seconds")
                      .arg(host)
                      .arg(static_cast<double>(timeout_.count()) / 1000.0);
        reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 received, qint64) {
                         if (received <= kMaxReplyBytes || !failure.isEmpty()) return;
                         failure = QStringLiteral("The reply from %1 is larger than %2 KiB")
                                       .arg(host)
                                       .arg(kMaxReplyBytes / 1024);
                         reply->abort();
                     });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) {
        deadline.start(timeout_);
        loop.exec();
    }
    // The application quitting ends every event loop, this one included.
    if (!reply->isFinished()) {
        failure = QStringLiteral("The request to %1 was cancelled").arg(host);
        reply->abort();
    }
    if (!failure.isEmpty()) throw EHttpError(failure.toStdString());
    if (reply->error() != QNetworkReply::NoError)
        throw EHttpError(reply->errorString().toStdString());
    return reply->readAll();
}

}  // namespace velmora
