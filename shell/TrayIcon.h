#pragma once
// The program's status icon in the desktop's tray (a StatusNotifierItem where
// the desktop runs a watcher, the XEmbed tray elsewhere): what the program is
// doing and for how long, even with its window minimised or covered, and a
// menu with the main window's controls. UI thread only.

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace velmora {

class TrayIcon : public QObject {
  public:
    // Waiting: a recording started in a folder that does not answer yet.
    enum class State { Idle, CountingDown, Waiting, Recording, Paused, Saving };
    struct Status {
        State state = State::Idle;
        int countdown = 0;  // seconds left, while counting down
        QString elapsed;    // recorded time, while recording or paused
        bool canRecord = true;
    };
    // What the menu's items do: each the same as the main window's control.
    struct Actions {
        std::function<Status()> status;  // asked twice a second while shown
        std::function<void()> record, pauseOrResume, stop, toggleWindow, showWindow, exit;
    };

    explicit TrayIcon(Actions actions, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Shows the icon; false, with one line in the log, where the desktop has
    // no tray.
    bool Show();
    void Hide();
    bool Shown() const;
    // Follows the program's state and language now (also done by itself
    // twice a second while shown).
    void Refresh();

  private:
    QIcon IconFor(const Status& status);

    Actions actions_;
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* record_ = nullptr;
    QAction* pause_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* show_ = nullptr;
    QAction* exit_ = nullptr;
    QTimer* timer_ = nullptr;
    // Made once each: a new icon at every refresh would grow the toolkit's
    // pixmap cache and send the whole picture over D-Bus each time.
    std::map<int, QIcon> icons_;
    int shownKey_ = -1;
    QString shownTip_;
    bool noTrayLogged_ = false;
};

}  // namespace velmora
