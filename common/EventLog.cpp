#include "common/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>

#include "common/SettingsLocation.h"

namespace velmora {
namespace {

// The first character between two fields of the locale's short format, e.g.
// "." in "dd.MM.yyyy" and ":" in "HH:mm".
QString SeparatorIn(const QString& format, const QString& fallback) {
    bool inField = false, inQuote = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            inQuote = !inQuote;
            continue;
        }
        if (inQuote) continue;
        if (c.isLetter()) {
            inField = true;
        } else if (inField && !c.isSpace()) {
            return QString(c);
        }
    }
    return fallback;
}

QString TwoDigits(int n) {
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

}  // namespace

EventLog::EventLog(QString folder) : folder_(std::move(folder)), locale_(QLocale::system()) {
    clock_ = [] { return QDateTime::currentDateTime(); };
}

void EventLog::SetStatusSink(std::function<void(const QString&)> sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

void EventLog::SetClock(std::function<QDateTime()> clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

void EventLog::SetLocale(const QLocale& locale) {
    std::lock_guard lock(mutex_);
    locale_ = locale;
}

QString EventLog::LogFolder() const {
    const QString base =
        folder_.isEmpty() ? QString::fromStdString(CurrentSettingsLocation().stateFolder) : folder_;
    return base + QStringLiteral("Logs/");
}

QString EventLog::DateSeparator(const QLocale& locale) {
    return SeparatorIn(locale.dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
}

QString EventLog::TimeSeparator(const QLocale& locale) {
    return SeparatorIn(locale.timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
}

QString EventLog::FileNameFor(const QDate& date) {
    return QStringLiteral("Log_") + date.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".log");
}

QString EventLog::LineFor(const QDateTime& when, const QLocale& locale, const QString& text) {
    const QString d = DateSeparator(locale), t = TimeSeparator(locale);
    const QDate date = when.date();
    const QTime time = when.time();
    return TwoDigits(date.day()) + d + TwoDigits(date.month()) + d +
           QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')) + u' ' +
           TwoDigits(time.hour()) + t + TwoDigits(time.minute()) + t + TwoDigits(time.second()) +
           QStringLiteral(" - ") + text;
}

bool EventLog::Append(const QString& path, const QByteArray& line) {
    // A pipe, a device or a folder in the log's place is refused at once,
    // never waited on. The user's alone: it names files and folders.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    const char* data = line.constData();
    auto left = static_cast<std::size_t>(line.size());
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) {
            data += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    return (::close(fd) == 0) && ok;
}

void EventLog::Write(const QString& text) {
    std::lock_guard lock(mutex_);
    if (sink_) sink_(text);
    const QDateTime now = clock_();
    const QString folder = LogFolder();
    if (!QDir(folder).exists()) QDir().mkdir(folder);
    const QString path = folder + FileNameFor(now.date());
    if (Append(path, (LineFor(now, locale_, text) + u'\n').toUtf8())) {
        failureShown_ = false;
        return;
    }
    // Once until a write succeeds again, so a full disk does not hide every
    // later message behind this one.
    if (failureShown_ || !sink_) return;
    failureShown_ = true;
    sink_(text + QStringLiteral("  (Unable to write to ") + path + u')');
}

EventLog& ProgramLog() {
    static EventLog log;
    return log;
}

void WriteLog(const QString& text) {
    ProgramLog().Write(text);
}

}  // namespace velmora
