#pragma once
// Tells the desktop's notification service (org.freedesktop.Notifications)
// that a recording is saved, or kept after a failure, with the file's name,
// length and size and two actions: "Open" in the desktop's player and "Show
// in folder" through the file manager (org.freedesktop.FileManager1), or the
// folder opened where no file manager answers. Without a service, one line in
// the log says so and nothing else happens. UI thread only.

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace velmora {

// What a finished merge left, read from its result line (the engine's text
// for the log) and the file it was to write.
struct SavedRecording {
    enum class Kind { Saved, Recovered, Kept };
    Kind kind = Kind::Saved;
    QString file;    // the file to open and show
    QString length;  // "1m 2s"; empty when not known
    qint64 size = 0;
};

// The recording a merge's result line tells of: Saved when it starts with
// savedPrefix (the summary's "Recorded with"), Recovered for an interrupted
// recording saved, Kept when the line names files kept after a failure (the
// first of them); target: the file the merge wrote, or the first of its kind
// beside it when the merge changed its extension. Nothing when the line tells
// of no file (a cancel, a failure that kept nothing). It looks at the files:
// called on the worker that wrote them, never on the UI thread.
std::optional<SavedRecording> SavedRecordingOf(const QString& resultLine,
                                               const QString& savedPrefix, const QString& target,
                                               const QString& length);

class SavedNotification : public QObject {
    Q_OBJECT

  public:
    explicit SavedNotification(QObject* parent = nullptr);

    void Notify(const SavedRecording& recording);

    // The notification's texts, as sent: its summary and its body.
    static QString Summary(const SavedRecording& recording);
    static QString Body(const SavedRecording& recording);

  private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

  private:
    void Sent(QDBusPendingCallWatcher* call, const QString& file);
    void ShowInFolder(const QString& file);

    bool connected_ = false;
    bool missingLogged_ = false;
    std::map<uint, QString> files_;  // notification id -> its file
};

}  // namespace velmora
