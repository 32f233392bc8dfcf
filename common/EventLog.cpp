#include "common/EventLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <optional>

#include "common/SettingsLocation.h"
#include "platform/profile/OwnFiles.h"

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

// Where lines for path may go: path itself (or the end of the user's own
// link), or nothing when it is a link of another's or another user's file,
// which why then names.
std::optional<QString> UsableLogFile(const QString& path, QString& why) {
    const std::string name = QFile::encodeName(path).toStdString();
    const platform::LinkCheck link = platform::CheckLink(name);
    if (link.kind == platform::LinkCheck::Own) return QFile::decodeName(link.target.c_str());
    if (link.kind == platform::LinkCheck::Foreign) {
        why = QStringLiteral("it is a link not followed: ") + QString::fromStdString(link.why);
        return std::nullopt;
    }
    struct stat info {};
    if (::lstat(name.c_str(), &info) == 0 && info.st_uid != ::geteuid()) {
        why = QStringLiteral("it belongs to ") +
              QString::fromStdString(platform::UserName(info.st_uid));
        return std::nullopt;
    }
    return path;
}

// Why the Logs folder may not be used: a link of another user's, or one
// leading to what is not a folder of the user's; empty when it may.
QString RefusedLogFolder(const QString& folder) {
    const platform::LinkCheck link =
        platform::CheckLink(QFile::encodeName(folder.chopped(1)).toStdString(), true);
    return link.kind == platform::LinkCheck::Foreign ? QString::fromStdString(link.why) : QString();
}

// mkdir -p with the user's alone: the log names files and folders.
void MakeFolders(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype slash = path.indexOf('/', 1); slash >= 0; slash = path.indexOf('/', slash + 1))
        ::mkdir(path.left(slash).constData(), 0700);
}

}  // namespace

EventLog::EventLog(QString folder, QString fallbackFolder)
    : folder_(std::move(folder)),
      fallbackFolder_(std::move(fallbackFolder)),
      locale_(QLocale::system()) {
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
    // Links were looked at before: one that has come since is not followed.
    const int fd = ::open(
        QFile::encodeName(path).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0600);
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

void EventLog::Write(const QString& text, bool status) {
    std::lock_guard lock(mutex_);
    if (sink_ && status) sink_(text);
    const QDateTime now = clock_();
    QString folder = LogFolder();
    QString refusal;  // why the Logs folder is not used, for the first line
    if (const QString why = RefusedLogFolder(folder); !why.isEmpty()) {
        // Followed, a planted link would have our files made where it leads.
        const QString base =
            fallbackFolder_.isEmpty() ? QString::fromStdString(UserStateFolder()) : fallbackFolder_;
        const QString refused = folder;
        folder = base + QStringLiteral("Logs/");
        if (folder == refused) folder = base;
        MakeFolders(folder);
        if (refusedSaid_ != refused)
            refusal = refused.chopped(1) + QStringLiteral(" is a link not followed (") + why +
                      QStringLiteral("): the log is kept in ") + folder;
        refusedSaid_ = refused;
    } else if (!QDir(folder).exists()) {
        QDir().mkdir(folder);
    }
    const QString dayFile = folder + FileNameFor(now.date());
    QString path, why;  // stays empty when no file of ours can be had
    if (const auto usable = UsableLogFile(dayFile, why)) {
        path = *usable;
    } else {
        // Someone else's name in our folder: the log goes on in a file of
        // our own beside it, and says so there once.
        const QString stem = dayFile.chopped(4);
        for (int n = 1; n <= 9; ++n) {
            QString ignored;
            if (const auto own = UsableLogFile(stem + QStringLiteral("-%1.log").arg(n), ignored)) {
                path = *own;
                break;
            }
        }
        if (!path.isEmpty() && redirectSaid_ != dayFile &&
            Append(path, (LineFor(now, locale_,
                                  QFileInfo(dayFile).fileName() + QStringLiteral(" is not used (") +
                                      why + QStringLiteral("): the log is ") + path) +
                          u'\n')
                             .toUtf8()))
            redirectSaid_ = dayFile;
    }
    if (!refusal.isEmpty()) Append(path, (LineFor(now, locale_, refusal) + u'\n').toUtf8());
    if (Append(path, (LineFor(now, locale_, text) + u'\n').toUtf8())) {
        failureShown_ = false;
        return;
    }
    // Once until a write succeeds again, so a full disk does not hide every
    // later message behind this one.
    if (failureShown_ || !sink_) return;
    failureShown_ = true;
    sink_(text + QStringLiteral("  (Unable to write to ") + dayFile + u')');
}

EventLog& ProgramLog() {
    static EventLog log;
    return log;
}

void WriteLog(const QString& text) {
    ProgramLog().Write(text);
}

void WriteLogOnly(const QString& text) {
    ProgramLog().Write(text, false);
}

}  // namespace velmora
