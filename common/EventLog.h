#pragma once
// The event log: every notice of the program goes to the main window's
// status bar and, with the local date and time, to Logs/Log_yyyy-mm-dd.log in
// the state folder (the program folder of a portable copy). Callable from any
// thread: appends are serialised, and the status text reaches the window
// through the sink, which the window makes hand over to its own thread. A
// write that fails is reported once in the status bar and never stops the
// caller. A day's file that is another user's, or a link not the user's own
// (see platform/profile/OwnFiles.h), is left alone: the lines go to a file of
// our own beside it. A Logs folder that is such a link is not used either:
// the log goes to the user's state folder, and its first line there says why.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>
#include <mutex>

namespace velmora {

class EventLog {
  public:
    // folder: where Logs/ goes, ending with '/'; empty: the run's state
    // folder (beside the program or the user's, see SettingsLocation.h) as
    // it is at each write. fallbackFolder: where Logs/ goes instead when
    // folder's is refused; empty: the user's state folder.
    explicit EventLog(QString folder = {}, QString fallbackFolder = {});

    // Set before the first Write, from the UI thread. The sink runs under the
    // log's lock and must not wait for another thread.
    void SetStatusSink(std::function<void(const QString&)> sink);
    void SetClock(std::function<QDateTime()> clock);
    void SetLocale(const QLocale& locale);

    // status false: the log file only, for what the user need not read.
    void Write(const QString& text, bool status = true);

    QString LogFolder() const;
    // "Log_2024-01-31.log"
    static QString FileNameFor(const QDate& date);
    // "31.01.2024 14:25:03 - text" with the locale's date and time separators.
    static QString LineFor(const QDateTime& when, const QLocale& locale, const QString& text);
    static QString DateSeparator(const QLocale& locale);
    static QString TimeSeparator(const QLocale& locale);

  private:
    bool Append(const QString& path, const QByteArray& line);

    const QString folder_, fallbackFolder_;
    std::function<void(const QString&)> sink_;
    std::function<QDateTime()> clock_;
    QLocale locale_;
    std::mutex mutex_;
    bool failureShown_ = false;
    QString redirectSaid_;  // the day's file whose replacement the log has named
    QString refusedSaid_;   // the Logs folder whose refusal the log has told
};

// The program's log, in the run's state folder.
EventLog& ProgramLog();

// Writes through the program's log.
void WriteLog(const QString& text);
// The same into the log file only, not the status line.
void WriteLogOnly(const QString& text);

}  // namespace velmora
