#include "tests/net/LoopbackHttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <future>

namespace velmora::test {

QByteArray LoopbackHttpServer::Request::header(const char* name) const {
    const auto it = headers.find(QByteArray(name).toLower());
    return it == headers.end() ? QByteArray() : it->second;
}

class LoopbackHttpServer::Thread : public QThread {
  public:
    explicit Thread(LoopbackHttpServer& owner) : owner_(owner) {}
    std::promise<quint16> listening;

  protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server);
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { Serve(socket); });
            }
        });
        listening.set_value(server.serverPort());
        exec();
    }

  private:
    // Answers once a whole request has arrived.
    void Serve(QTcpSocket* socket) {
        QByteArray data = socket->property("pending").toByteArray() + socket->readAll();
        socket->setProperty("pending", data);
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0) return;
        Request request;
        const QList<QByteArray> lines = data.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers[lines[i].left(colon).trimmed().toLower()] =
                    lines[i].mid(colon + 1).trimmed();
        }
        const qsizetype length = request.header("Content-Length").toLongLong();
        if (data.size() < end + 4 + length) return;
        request.body = data.mid(end + 4, length);
        socket->setProperty("pending", QByteArray());
        const QByteArray path = request.path;
        owner_.Record(std::move(request));

        Reply reply;
        if (!owner_.Answer(path, reply)) reply = {404, "Not here", {}, false};
        if (reply.silent) return;
        QByteArray answer = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
        if (!reply.location.isEmpty()) answer += "Location: " + reply.location + "\r\n";
        answer +=
            "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(reply.body.size()) +
            "\r\nConnection: close\r\n\r\n" + reply.body;
        socket->write(answer);
        socket->disconnectFromHost();
    }

    LoopbackHttpServer& owner_;
};

LoopbackHttpServer::LoopbackHttpServer() : thread_(std::make_unique<Thread>(*this)) {
    auto listening = thread_->listening.get_future();
    thread_->start();
    port_ = listening.get();
}

LoopbackHttpServer::~LoopbackHttpServer() {
    thread_->quit();
    thread_->wait();
}

QUrl LoopbackHttpServer::Url() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_));
}

void LoopbackHttpServer::SetReply(const QByteArray& path, Reply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackHttpServer::Answer(const QByteArray& path, Reply& reply) const {
    std::lock_guard lock(mutex_);
    const auto it = replies_.find(path);
    if (it == replies_.end()) return false;
    reply = it->second;
    return true;
}

void LoopbackHttpServer::Record(Request request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

}  // namespace velmora::test
