#pragma once
// Helpers of the network tests: waiting with the test's own event loop
// running (as the program's does), a program folder, the day's log, and
// mouse clicks.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QThread>
#include <QWidget>
#include <functional>
#include <initializer_list>

#include "common/ProgramFolder.h"
#include "common/Settings.h"

namespace velmora::test {

// Makes folder the program folder, with the named files of the shipped
// Language/ folder, and starts from the default settings.
inline void UseProgramFolder(const QString& folder, const QString& shippedLanguages,
                             std::initializer_list<const char*> languages) {
    QDir(folder).mkdir(QStringLiteral("Language"));
    for (const char* name : languages)
        QFile::copy(
            shippedLanguages + u'/' + QLatin1String(name) + QStringLiteral(".lng"),
            folder + QStringLiteral("/Language/") + QLatin1String(name) + QStringLiteral(".lng"));
    SetProgramFolder(folder.toStdString() + "/");
    Settings = TSettings{};
}

inline bool Until(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (condition()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return condition();
}

inline void Pause(int ms) {
    Until([] { return false; }, ms);
}

// Everything in the Logs folder of a program folder.
inline QString LogsIn(const QString& programFolder) {
    QString text;
    for (const QFileInfo& f :
         QDir(programFolder + QStringLiteral("/Logs")).entryInfoList(QDir::Files)) {
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll());
    }
    return text;
}

// A left-button press or release delivered at once, near the top-left corner.
inline void SendLeftButton(QWidget* widget, QEvent::Type type) {
    const QPointF at(2, 2);
    QMouseEvent event(type, at, at, widget->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

inline void LeftClick(QWidget* widget) {
    SendLeftButton(widget, QEvent::MouseButtonPress);
    SendLeftButton(widget, QEvent::MouseButtonRelease);
}

}  // namespace velmora::test
