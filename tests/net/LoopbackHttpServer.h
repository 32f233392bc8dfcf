#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the tests, answering from its own
// thread so that it serves whatever the test's thread is doing (waiting in a
// request's local event loop included). It records every request and
// answers each path as configured.

#include <QByteArray>
#include <QUrl>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora::test {

class LoopbackHttpServer {
  public:
    struct Request {
        QByteArray method;
        QByteArray path;
        std::map<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
        QByteArray header(const char* name) const;
    };
    struct Reply {
        int status = 200;
        QByteArray body = "OK";
        QByteArray location;  // for a redirect status
        bool silent = false;  // read the request, never answer
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer();

    // http://127.0.0.1:<port>
    QUrl Url() const;
    // How a path is answered from now on; unknown paths get 404.
    void SetReply(const QByteArray& path, Reply reply);
    std::vector<Request> Requests() const;

  private:
    class Thread;
    friend class Thread;
    bool Answer(const QByteArray& path, Reply& reply) const;
    void Record(Request request);

    mutable std::mutex mutex_;
    std::map<QByteArray, Reply> replies_;
    std::vector<Request> requests_;
    std::unique_ptr<Thread> thread_;
    quint16 port_ = 0;
};

}  // namespace velmora::test
