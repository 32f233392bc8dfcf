#pragma once
// For the tests that run the program's windows in this process: waiting with
// the event loop running, and reading the program folder's log.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QThread>
#include <functional>

namespace velmora::shelltest {

// Runs the event loop until condition holds or ms have passed; the last answer.
inline bool Until(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        if (condition()) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return condition();
}

// Every log file of a program folder, one after another.
inline QString LogsOf(const QDir& programFolder) {
    QString text;
    for (const QFileInfo& f :
         QDir(programFolder.filePath(QStringLiteral("Logs"))).entryInfoList(QDir::Files)) {
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll());
    }
    return text;
}

}  // namespace velmora::shelltest
