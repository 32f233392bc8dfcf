#include "shell/GlobalShortcuts.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QGuiApplication>

#include "common/EventLog.h"
#include "platform/x11/HotKeys.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& out, const Shortcut& s) {
    out.beginStructure();
    out << s.id << s.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Shortcut& s) {
    in.beginStructure();
    in >> s.id >> s.properties;
    in.endStructure();
    return in;
}

}  // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace velmora {

GlobalShortcuts::GlobalShortcuts(std::function<void(int)> onPress, QObject* parent)
    : QObject(parent), onPress_(std::move(onPress)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

bool GlobalShortcuts::WaylandSession() {
    return QGuiApplication::platformName() == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == "wayland";
}

void GlobalShortcuts::Start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    // Short: start-up waits for it, and a missing portal answers at once.
    const QDBusMessage version = bus.call(get, QDBus::Block, 2000);
    if (!bus.isConnected() || version.type() != QDBusMessage::ReplyMessage) {
        WriteLog(
            QStringLiteral("No global shortcuts portal on this desktop: bind F9, F10 and F11 to "
                           "velmora --start, --stop and --pause-toggle in its keyboard settings"));
        return;
    }
    bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                SLOT(Activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    Request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), QStringLiteral("velmora")}},
            SLOT(SessionCreated(uint, QVariantMap)));
}

bool GlobalShortcuts::Request(const QString& method, const QVariantList& args, QVariantMap options,
                              const char* slot) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("velmora%1").arg(++serial_);
    // The Request's path is known before the call, so its Response cannot be
    // missed.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString request = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    bus.connect(kService, request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, slot);
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    QVariantList all = args;
    all << options;
    call.setArguments(all);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    WriteLog(QStringLiteral("Global shortcuts: %1 failed: %2").arg(method, reply.errorMessage()));
    return false;
}

void GlobalShortcuts::SessionCreated(uint response, const QVariantMap& results) {
    session_ = results.value(QStringLiteral("session_handle")).toString();
    if (response != 0 || session_.isEmpty()) {
        WriteLog(QStringLiteral("Global shortcuts: no session (answer %1)").arg(response));
        return;
    }
    const auto entry = [](const char* id, const char* description, const char* trigger) {
        QVariantMap properties{{QStringLiteral("description"), QString::fromLatin1(description)},
                               {QStringLiteral("preferred_trigger"), QString::fromLatin1(trigger)}};
        return Shortcut{QString::fromLatin1(id), properties};
    };
    const QList<Shortcut> shortcuts{entry("start", "Start recording", "F9"),
                                    entry("stop", "Stop recording", "F10"),
                                    entry("pause", "Pause or resume recording", "F11")};
    Request(
        QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, SLOT(Bound(uint, QVariantMap)));
}

void GlobalShortcuts::Bound(uint response, const QVariantMap&) {
    WriteLog(
        response == 0
            ? QStringLiteral("Global shortcuts: start, stop and pause bound through the portal")
            : QStringLiteral("Global shortcuts: not bound (answer %1)").arg(response));
}

void GlobalShortcuts::Activated(const QDBusObjectPath& session, const QString& id, qulonglong,
                                const QVariantMap&) {
    if (session.path() != session_ || !onPress_) return;
    if (id == QLatin1String("start")) onPress_(platform::kVkF9);
    if (id == QLatin1String("stop")) onPress_(platform::kVkF10);
    if (id == QLatin1String("pause")) onPress_(platform::kVkF11);
}

}  // namespace velmora
