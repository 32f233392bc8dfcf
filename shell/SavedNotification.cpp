#include "shell/SavedNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QUrl>

#include "common/EventLog.h"
#include "shell/DesktopTexts.h"

namespace velmora {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kFileManager = QStringLiteral("org.freedesktop.FileManager1");
// The action keys the service hands back.
const QString kOpen = QStringLiteral("open");
const QString kFolder = QStringLiteral("folder");

// The merge writes the file under another extension when the codec does not
// go into the kind of file asked for.
QString ExistingTarget(const QString& target) {
    if (QFileInfo::exists(target)) return target;
    const QFileInfo info(target);
    for (const char* extension : {".avi", ".mp4", ".mkv"}) {
        const QString other =
            info.dir().filePath(info.completeBaseName() + QLatin1String(extension));
        if (QFileInfo::exists(other)) return other;
    }
    return {};
}

// The first of a list of paths joined by ", " (a path may hold ", " itself).
QString FirstExistingPath(const QString& list) {
    const QStringList parts = list.split(QStringLiteral(", "));
    QString path;
    for (const QString& part : parts) {
        path += (path.isEmpty() ? QString() : QStringLiteral(", ")) + part;
        if (QFileInfo::exists(path)) return path;
    }
    return {};
}

}  // namespace

std::optional<SavedRecording> SavedRecordingOf(const QString& line, const QString& savedPrefix,
                                               const QString& target, const QString& length) {
    SavedRecording recording;
    static const QString recovered = QStringLiteral("The interrupted recording is saved: ");
    static const QString kept = QStringLiteral(" Recording kept in: ");
    static const QString left = QStringLiteral(" Recording left in: ");
    if (line.startsWith(recovered)) {
        recording.kind = SavedRecording::Kind::Recovered;
        recording.file = ExistingTarget(line.mid(recovered.size()));
    } else if (!savedPrefix.isEmpty() && line.startsWith(savedPrefix)) {
        recording.kind = SavedRecording::Kind::Saved;
        recording.file = ExistingTarget(target);
        recording.length = length;
    } else if (const qsizetype at = line.indexOf(kept); at >= 0) {
        recording.kind = SavedRecording::Kind::Kept;
        QString files = line.mid(at + kept.size());
        if (const qsizetype end = files.indexOf(left); end >= 0) files.truncate(end);
        recording.file = FirstExistingPath(files);
    }
    if (recording.file.isEmpty()) return std::nullopt;
    recording.size = QFileInfo(recording.file).size();
    return recording;
}

SavedNotification::SavedNotification(QObject* parent) : QObject(parent) {}

QString SavedNotification::Summary(const SavedRecording& recording) {
    switch (recording.kind) {
        case SavedRecording::Kind::Saved:
            return DesktopText(DesktopTextId::Saved);
        case SavedRecording::Kind::Recovered:
            return DesktopText(DesktopTextId::Recovered);
        case SavedRecording::Kind::Kept:
            return DesktopText(DesktopTextId::Kept);
    }
    return {};
}

QString SavedNotification::Body(const SavedRecording& recording) {
    const QString name = QFileInfo(recording.file).fileName();
    QString figures = QLocale().formattedDataSize(recording.size, 1, QLocale::DataSizeSIFormat);
    if (!recording.length.isEmpty()) figures = recording.length + QStringLiteral(", ") + figures;
    const QString first = recording.kind == SavedRecording::Kind::Kept
                              ? DesktopText(DesktopTextId::KeptAs).arg(name)
                              : name;
    return first + u'\n' + figures;
}

void SavedNotification::Notify(const SavedRecording& recording) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!connected_ && bus.isConnected()) {
        connected_ = true;
        bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                    SLOT(ActionInvoked(uint, QString)));
        bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("org.velmora.velmora")},
        {QStringLiteral("category"), QStringLiteral("transfer.complete")}};
    call << QStringLiteral("Velmora") << uint(0) << QStringLiteral("velmora") << Summary(recording)
         << Body(recording)
         << QStringList{kOpen, DesktopText(DesktopTextId::Open), kFolder,
                        DesktopText(DesktopTextId::ShowInFolder)}
         << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, file = recording.file](QDBusPendingCallWatcher* w) { Sent(w, file); });
}

void SavedNotification::Sent(QDBusPendingCallWatcher* call, const QString& file) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        // Said once: a desktop without the service has it missing each time.
        if (!missingLogged_)
            WriteLog(DesktopText(DesktopTextId::NoNotifications).arg(reply.error().message()));
        missingLogged_ = true;
        return;
    }
    files_[reply.value()] = file;
}

void SavedNotification::ActionInvoked(uint id, const QString& action) {
    const auto found = files_.find(id);
    if (found == files_.end()) return;
    if (action == kOpen)
        QDesktopServices::openUrl(QUrl::fromLocalFile(found->second));
    else if (action == kFolder)
        ShowInFolder(found->second);
}

void SavedNotification::NotificationClosed(uint id, uint) {
    files_.erase(id);
}

void SavedNotification::ShowInFolder(const QString& file) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kFileManager, QStringLiteral("/org/freedesktop/FileManager1"), kFileManager,
        QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    // No file manager that shows items: the folder opens in whatever opens folders.
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [file](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (QDBusPendingReply<>(*w).isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
    });
}

}  // namespace velmora
