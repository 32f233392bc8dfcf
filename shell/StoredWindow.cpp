#include "shell/StoredWindow.h"

#include <cstdio>

#include "common/Language.h"

namespace velmora {
namespace {

std::string Hex(std::uint64_t id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(id));
    return text;
}

}  // namespace

bool IsStoredWindow(const TSettings& settings, const platform::TopLevelWindow& now) {
    return (settings.CaptureWindowTitle.empty() || settings.CaptureWindowTitle == now.title) &&
           (settings.CaptureWindowClass.empty() || settings.CaptureWindowClass == now.windowClass);
}

std::string WindowDescription(const std::string& title, const std::string& windowClass) {
    return "\"" + title + "\"" + (windowClass.empty() ? "" : " (" + windowClass + ")");
}

QString StoredWindowQuestion(const TSettings& settings, const platform::TopLevelWindow& now) {
    QString text = MsgTexts(45);
    if (text.isEmpty())
        text = QStringLiteral(
            "The window chosen for recording was %1.\nIts window id now belongs to %2, which may "
            "be another program's window.\n\nRecord %2?");
    return text
        .replace(QStringLiteral("%1"),
                 QString::fromStdString(
                     WindowDescription(settings.CaptureWindowTitle, settings.CaptureWindowClass)))
        .replace(QStringLiteral("%2"),
                 QString::fromStdString(WindowDescription(now.title, now.windowClass)));
}

QString NotRecordedText(const TSettings& settings, const platform::TopLevelWindow& now) {
    QString text = LogTexts(21);
    if (text.isEmpty())
        text = QStringLiteral("Not recorded: the window %1 is now %2, not %3 as chosen");
    return text.replace(QStringLiteral("%1"), QString::fromStdString(Hex(settings.CaptureWindow)))
        .replace(QStringLiteral("%2"),
                 QString::fromStdString(WindowDescription(now.title, now.windowClass)))
        .replace(QStringLiteral("%3"),
                 QString::fromStdString(
                     WindowDescription(settings.CaptureWindowTitle, settings.CaptureWindowClass)));
}

QString RecordedWindowText(const platform::TopLevelWindow& window) {
    QString text = LogTexts(20);
    if (text.isEmpty()) text = QStringLiteral("Recording the window %1, id %2");
    return text
        .replace(QStringLiteral("%1"),
                 QString::fromStdString(WindowDescription(window.title, window.windowClass)))
        .replace(QStringLiteral("%2"), QString::fromStdString(Hex(window.client)));
}

std::string StoredWindowRefusal(const TSettings& settings, const platform::TopLevelWindow& now) {
    return "the window " + Hex(settings.CaptureWindow) + " is now " +
           WindowDescription(now.title, now.windowClass) + ", not " +
           WindowDescription(settings.CaptureWindowTitle, settings.CaptureWindowClass) +
           " as chosen; choose the window again, or name it with window=";
}

}  // namespace velmora
