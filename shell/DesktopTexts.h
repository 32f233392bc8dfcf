#pragma once
// The texts of the countdown, the tray icon, the notifications and the folder
// menu: [Messages] TextMsg entries of the language file, in English where a
// file lacks them.

#include <QString>

namespace velmora {

enum class DesktopTextId {
    CountdownStatus = 81,
    TrayIdle,
    TrayCountdown,
    TrayRecording,
    TrayPaused,
    TraySaving,
    ShowWindow,
    Exit,
    Saved,
    Kept,
    KeptAs,
    Recovered,
    Open,
    ShowInFolder,
    OpenFolder,
    ChooseFolder,
    CountdownStarted,
    CountdownCancelled,
    NoTray,
    NoNotifications,
};

QString DesktopText(DesktopTextId id);

}  // namespace velmora
