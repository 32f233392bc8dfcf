#include "shell/DesktopTexts.h"

#include <array>

#include "common/Language.h"

namespace velmora {

QString DesktopText(DesktopTextId id) {
    static constexpr std::array<const char*, 20> kEnglish = {
        "Recording starts in %1 s - F10 or Esc cancels",
        "ready to record",
        "recording starts in %1 s",
        "recording, %1",
        "paused at %1",
        "saving the recording",
        "Show Velmora",
        "Exit",
        "Recording saved",
        "Recording kept after a failure",
        "The recording was kept as %1",
        "Interrupted recording saved",
        "Open",
        "Show in folder",
        "Open folder",
        "Choose folder...",
        "Countdown: the recording starts in %1 s",
        "Countdown cancelled: nothing was recorded",
        "The desktop has no system tray: no status icon is shown",
        "No desktop notification service, recordings are announced here only: %1",
    };
    const int n = static_cast<int>(id);
    const QString text = MsgTexts(n);
    if (!text.isEmpty()) return text;
    const int i = n - static_cast<int>(DesktopTextId::CountdownStatus);
    return i >= 0 && i < static_cast<int>(kEnglish.size()) ? QString::fromUtf8(kEnglish[i])
                                                           : QString();
}

}  // namespace velmora
