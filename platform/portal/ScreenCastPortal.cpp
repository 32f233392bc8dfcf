#include "platform/portal/ScreenCastPortal.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QVariantMap>
#include <atomic>

namespace velmora::platform::portal {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

constexpr std::uint32_t kPersistUntilRevoked = 2;

std::string Text(const QString& s) {
    return s.toStdString();
}

// Each connection, handle and session token must be new on the bus.
QString NewToken() {
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("velmora%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate() & 0xffffff);
}

QString PathOf(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// Receives one Request's Response in the thread it was made in.
class ResponseWaiter : public QObject {
    Q_OBJECT
  public:
    bool received = false;
    std::uint32_t code = 2;
    QVariantMap results;

  public Q_SLOTS:
    void response(uint response, const QVariantMap& answer) {
        received = true;
        code = response;
        results = answer;
        Q_EMIT done();
    }

  Q_SIGNALS:
    void done();
};

}  // namespace

std::string PortalResponseError(const std::string& step, std::uint32_t response) {
    switch (response) {
        case 0:
            return {};
        case 1:
            return "Screen capture was cancelled in the desktop's sharing dialog (" + step + ")";
        case 2:
            return "Screen capture was refused by the desktop (" + step +
                   " ended without permission)";
        default:
            return "Screen capture failed: the desktop's portal answered " + step + " with " +
                   std::to_string(response);
    }
}

std::uint32_t ChooseCursorMode(std::uint32_t available, bool cursor) {
    if (!cursor) {
        if (available & kCursorHidden) return kCursorHidden;
        if (available & kCursorMetadata) return kCursorMetadata;
        if (available & kCursorEmbedded) return kCursorEmbedded;
        return kCursorHidden;
    }
    if (available & kCursorEmbedded) return kCursorEmbedded;
    if (available & kCursorMetadata) return kCursorMetadata;
    return kCursorHidden;
}

std::uint32_t AvailableSourceTypes(std::string& error, std::chrono::milliseconds timeout) {
    if (!QCoreApplication::instance()) {
        error = "the portal cannot be asked without the application object";
        return 0;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        kService, kObject, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    message << kScreenCast << QStringLiteral("AvailableSourceTypes");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        message, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        error = "the desktop offers no ScreenCast portal (" + Text(reply.errorMessage()) + ")";
        return 0;
    }
    return reply.arguments().at(0).value<QDBusVariant>().variant().toUInt();
}

struct ScreenCastPortal::Private {
    PortalTimeouts timeouts;
    QString connectionName;
    std::unique_ptr<QDBusConnection> bus;
    QString session;
    std::string error;

    QDBusMessage Call(const QString& method, const QVariantList& args) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(kService, kObject, kScreenCast, method);
        message.setArguments(args);
        return bus->call(message, QDBus::Block, static_cast<int>(timeouts.call.count()));
    }

    bool Failed(const std::string& step, const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ErrorMessage) return false;
        const QString name = reply.errorName();
        if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
            name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
            error =
                "Screen capture is not possible: the desktop offers no ScreenCast portal "
                "(is xdg-desktop-portal with a backend for this desktop installed?)";
        else if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                 name == QLatin1String("org.freedesktop.DBus.Error.Timeout"))
            error = "Screen capture failed: the desktop's portal did not answer " + step;
        else
            error = "Screen capture failed: " + step + ": " + Text(reply.errorMessage()) + " (" +
                    Text(name) + ")";
        return true;
    }

    QVariant Property(const QString& name) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            kService, kObject, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        message << kScreenCast << name;
        const QDBusMessage reply =
            bus->call(message, QDBus::Block, static_cast<int>(timeouts.call.count()));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().at(0).value<QDBusVariant>().variant();
    }

    // A Request: subscribe to the Response on the path the portal will use
    // (from our handle_token) before calling, so an answer given at once is
    // not missed; then wait for it in this thread's own event loop.
    bool Request(const std::string& step, const QString& method, QVariantList args,
                 QVariantMap options, std::chrono::milliseconds timeout, QVariantMap& results) {
        const QString token = NewToken();
        options.insert(QStringLiteral("handle_token"), token);
        args.append(options);
        QString sender = bus->baseService();
        sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
        QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        ResponseWaiter waiter;
        QEventLoop loop;
        QObject::connect(&waiter, &ResponseWaiter::done, &loop, &QEventLoop::quit);
        const char* slot = SLOT(response(uint, QVariantMap));
        bus->connect(kService, path, kRequest, QStringLiteral("Response"), &waiter, slot);
        const QDBusMessage reply = Call(method, args);
        if (Failed(step, reply)) {
            bus->disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, slot);
            return false;
        }
        // Portals older than handle_token answer on a path of their own.
        const QString handle = reply.arguments().isEmpty()
                                   ? path
                                   : reply.arguments().at(0).value<QDBusObjectPath>().path();
        if (!handle.isEmpty() && handle != path) {
            bus->disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, slot);
            path = handle;
            bus->connect(kService, path, kRequest, QStringLiteral("Response"), &waiter, slot);
        }
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        if (!waiter.received) {
            timer.start(timeout);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        bus->disconnect(kService, path, kRequest, QStringLiteral("Response"), &waiter, slot);
        if (!waiter.received) {
            error = "Screen capture failed: no answer from the desktop's portal to " + step +
                    " within " + std::to_string(timeout.count() / 1000) + " s";
            // The portal may still show a dialog for it; close it.
            QDBusMessage close =
                QDBusMessage::createMethodCall(kService, path, kRequest, QStringLiteral("Close"));
            bus->call(close, QDBus::NoBlock);
            return false;
        }
        error = PortalResponseError(step, waiter.code);
        results = waiter.results;
        return error.empty();
    }

    void CloseSession() {
        if (bus && !session.isEmpty()) {
            QDBusMessage close = QDBusMessage::createMethodCall(
                kService, session, QStringLiteral("org.freedesktop.portal.Session"),
                QStringLiteral("Close"));
            bus->call(close, QDBus::Block, static_cast<int>(timeouts.call.count()));
        }
        session.clear();
        if (bus) {
            bus.reset();
            QDBusConnection::disconnectFromBus(connectionName);
        }
    }
};

ScreenCastPortal::ScreenCastPortal(PortalTimeouts timeouts) : d_(std::make_unique<Private>()) {
    d_->timeouts = timeouts;
}

ScreenCastPortal::~ScreenCastPortal() {
    Close();
}

void ScreenCastPortal::Close() {
    d_->CloseSession();
}

bool ScreenCastPortal::Open(const std::string& restoreToken, bool cursor, PortalGrant& grant,
                            std::string& error, SourceType source) {
    Close();
    grant = PortalGrant{};
    Private& d = *d_;
    d.error.clear();
    auto fail = [&] {
        error = d.error;
        d.CloseSession();
        return false;
    };
    if (!QCoreApplication::instance()) {
        d.error = "Screen capture through the portal needs the application object";
        return fail();
    }
    d.connectionName = QStringLiteral("velmora-screencast-") + NewToken();
    d.bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, d.connectionName));
    if (!d.bus->isConnected()) {
        d.error = "Screen capture is not possible: no D-Bus session bus (" +
                  Text(d.bus->lastError().message()) + ")";
        return fail();
    }

    const std::uint32_t version = d.Property(QStringLiteral("version")).toUInt();
    const std::uint32_t cursors = d.Property(QStringLiteral("AvailableCursorModes")).toUInt();
    // Asked before any dialog: a portal without windows would offer monitors.
    if (source != kSourceMonitor &&
        !(d.Property(QStringLiteral("AvailableSourceTypes")).toUInt() & source)) {
        d.error =
            "Recording a window is not possible: the desktop's ScreenCast portal offers no "
            "window source";
        return fail();
    }

    QVariantMap results;
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), NewToken());
    if (!d.Request("CreateSession", QStringLiteral("CreateSession"), {}, options,
                   d.timeouts.request, results))
        return fail();
    d.session = PathOf(results.value(QStringLiteral("session_handle")));
    if (d.session.isEmpty()) {
        d.error = "Screen capture failed: the portal's CreateSession gave no session";
        return fail();
    }

    options.clear();
    options.insert(QStringLiteral("types"), QVariant::fromValue<uint>(source));
    options.insert(QStringLiteral("multiple"), false);
    grant.cursorMode = version >= 2 ? ChooseCursorMode(cursors, cursor) : kCursorHidden;
    if (version >= 2)
        options.insert(QStringLiteral("cursor_mode"), QVariant::fromValue<uint>(grant.cursorMode));
    if (version >= 4) {
        options.insert(QStringLiteral("persist_mode"),
                       QVariant::fromValue<uint>(kPersistUntilRevoked));
        if (!restoreToken.empty())
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
    }
    const QVariant session = QVariant::fromValue(QDBusObjectPath(d.session));
    if (!d.Request("SelectSources", QStringLiteral("SelectSources"), {session}, options,
                   d.timeouts.request, results))
        return fail();

    if (!d.Request("Start", QStringLiteral("Start"), {session, QString()}, {}, d.timeouts.start,
                   results))
        return fail();
    grant.restoreToken = Text(results.value(QStringLiteral("restore_token")).toString());
    const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
    bool found = false;
    streams.beginArray();
    while (!streams.atEnd()) {
        uint node = 0;
        QVariantMap properties;
        streams.beginStructure();
        streams >> node >> properties;
        streams.endStructure();
        if (found) continue;  // one source asked for: the first is it
        found = true;
        grant.node = node;
        const QDBusArgument size = properties.value(QStringLiteral("size")).value<QDBusArgument>();
        if (size.currentType() == QDBusArgument::StructureType) {
            size.beginStructure();
            size >> grant.width >> grant.height;
            size.endStructure();
        }
    }
    streams.endArray();
    if (!found) {
        d.error = "Screen capture failed: the portal started no stream";
        return fail();
    }

    QDBusMessage remote = QDBusMessage::createMethodCall(kService, kObject, kScreenCast,
                                                         QStringLiteral("OpenPipeWireRemote"));
    remote << session << QVariantMap{};
    const QDBusMessage reply =
        d.bus->call(remote, QDBus::Block, static_cast<int>(d.timeouts.call.count()));
    if (d.Failed("OpenPipeWireRemote", reply)) return fail();
    const int fd = reply.arguments().isEmpty()
                       ? -1
                       : reply.arguments().at(0).value<QDBusUnixFileDescriptor>().fileDescriptor();
    grant.pipeWireFd = fd >= 0 ? ::dup(fd) : -1;  // the message's copy closes with it
    if (grant.pipeWireFd < 0) {
        d.error = "Screen capture failed: the portal gave no PipeWire connection";
        return fail();
    }
    return true;
}

}  // namespace velmora::platform::portal

#include "ScreenCastPortal.moc"
