#pragma once
// F9, F10 and F11 through the desktop's GlobalShortcuts portal, for Wayland
// sessions, where no program can grab keys itself. Desktops whose portal
// lacks it (xdg-desktop-portal-wlr) get one log line; `velmora --start` and
// `--stop` bound in the desktop's settings are then the way.

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

namespace velmora {

class GlobalShortcuts : public QObject {
    Q_OBJECT
  public:
    // onPress gets kVkF9 for "start", kVkF10 for "stop" and kVkF11 for
    // "pause", on the UI thread.
    explicit GlobalShortcuts(std::function<void(int virtualKey)> onPress,
                             QObject* parent = nullptr);
    // Asks the portal on the session bus; answers come later, logged.
    void Start();
    // Whether the session is a Wayland one (global X grabs see only X windows).
    static bool WaylandSession();

  private slots:
    void SessionCreated(uint response, const QVariantMap& results);
    void Bound(uint response, const QVariantMap& results);
    void Activated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                   const QVariantMap& options);

  private:
    // Calls method with options given a handle_token; slot gets the Response.
    bool Request(const QString& method, const QVariantList& args, QVariantMap options,
                 const char* slot);

    std::function<void(int)> onPress_;
    QString session_;
    int serial_ = 0;
};

}  // namespace velmora
