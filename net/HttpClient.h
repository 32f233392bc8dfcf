#pragma once
// A blocking HTTP client on Qt Network for the thread that creates it. Each
// request waits in a local event loop, so on the UI thread the windows keep
// working meanwhile. A QNetworkAccessManager belongs to its thread: a thread
// that reports needs a client of its own.

#include <QByteArray>
#include <QUrl>
#include <chrono>
#include <memory>
#include <stdexcept>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace velmora {

class EHttpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class HttpClient {
  public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};
    // Replies are a version number or a script's acknowledgement; anything
    // bigger is not what the program asked for.
    static constexpr qint64 kMaxReplyBytes = 64 * 1024;

    explicit HttpClient(std::chrono::milliseconds timeout = kDefaultTimeout);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The whole reply body. Redirects are followed. Throws EHttpError with a
    // readable message on a network error, an HTTP error status, no complete
    // answer within the timeout, or a reply over kMaxReplyBytes.
    QByteArray Get(const QUrl& url);
    // Posts body as application/x-www-form-urlencoded.
    QByteArray PostForm(const QUrl& url, const QByteArray& body);
    // The same post, returning at once: the reply is dropped unread, a failure
    // is ignored, the timeout and reply limit still hold, and a request still
    // open when the client goes is abandoned. For reports nobody waits for.
    void PostFormAndForget(const QUrl& url, const QByteArray& body);

  private:
    QNetworkRequest Request(const QUrl& url) const;
    QNetworkRequest FormRequest(const QUrl& url) const;
    QByteArray Wait(QNetworkReply* reply);

    std::unique_ptr<QNetworkAccessManager> manager_;
    std::chrono::milliseconds timeout_;
};

}  // namespace velmora
