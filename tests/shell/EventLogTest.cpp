// The event log with a set clock and locale, writing into a temporary folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <thread>
#include <vector>

#include "common/EventLog.h"

using velmora::EventLog;

namespace {

class EventLogTest : public testing::Test {
  protected:
    void SetUp() override {
        log_.SetClock([this] { return now_; });
        log_.SetLocale(QLocale(QLocale::German, QLocale::Germany));
        log_.SetStatusSink([this](const QString& text) { status_.push_back(text); });
    }
    QString FileText(const QString& name) {
        QFile f(dir_.filePath(QStringLiteral("Logs/") + name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                           : QStringLiteral("<none>");
    }

    QTemporaryDir dir_;
    EventLog log_{dir_.path() + u'/'};
    QDateTime now_{QDate(2024, 1, 31), QTime(14, 25, 3)};
    std::vector<QString> status_;
};

TEST_F(EventLogTest, LineUsesTheLocaleSeparatorsAndStatusShowsTheBareText) {
    log_.Write(QStringLiteral("Hello"));
    log_.Write(QString());
    log_.Write(QStringLiteral("For the log"), false);  // never in the status line
    EXPECT_EQ(FileText(QStringLiteral("Log_2024-01-31.log")),
              QStringLiteral("31.01.2024 14:25:03 - Hello\n31.01.2024 14:25:03 - \n"
                             "31.01.2024 14:25:03 - For the log\n"));
    EXPECT_EQ(status_, (std::vector<QString>{QStringLiteral("Hello"), QString()}));

    const QDateTime t(QDate(2024, 1, 31), QTime(9, 5, 7));
    EXPECT_EQ(EventLog::LineFor(t, QLocale(QLocale::English, QLocale::UnitedStates), "x"),
              QStringLiteral("31/01/2024 09:05:07 - x"));
    EXPECT_EQ(EventLog::LineFor(t, QLocale(QLocale::Swedish, QLocale::Sweden), "x"),
              QStringLiteral("31-01-2024 09:05:07 - x"));
}

TEST_F(EventLogTest, EntryAfterMidnightGoesToTheNextDaysFile) {
    now_ = QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59));
    log_.Write(QStringLiteral("late"));
    now_ = QDateTime(QDate(2024, 2, 1), QTime(0, 0, 1));
    log_.Write(QStringLiteral("early"));
    EXPECT_EQ(FileText(QStringLiteral("Log_2024-01-31.log")),
              QStringLiteral("31.01.2024 23:59:59 - late\n"));
    EXPECT_EQ(FileText(QStringLiteral("Log_2024-02-01.log")),
              QStringLiteral("01.02.2024 00:00:01 - early\n"));
}

// It names files and folders of the user's: not for everyone, whatever the umask.
TEST_F(EventLogTest, LogFileIsTheUsersAlone) {
    const mode_t umask = ::umask(022);
    log_.Write(QStringLiteral("one"));
    ::umask(umask);
    struct stat st {};
    ASSERT_EQ(
        ::stat(
            QFile::encodeName(dir_.filePath(QStringLiteral("Logs/Log_2024-01-31.log"))).constData(),
            &st),
        0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The day's file as a link: followed when it is the user's own; another
// user's link, or another user's file, gets no line, and the log goes on in
// a file of our own beside it, which says so once.
TEST_F(EventLogTest, ADaysFileThatIsNotOursIsLeftAloneForOneOfOurOwn) {
    const QString logs = dir_.filePath(QStringLiteral("Logs"));
    QDir().mkpath(logs);
    const QByteArray day = QFile::encodeName(logs + QStringLiteral("/Log_2024-01-31.log"));
    const QByteArray target = QFile::encodeName(dir_.filePath(QStringLiteral("target")));
    QFile(QString::fromUtf8(target)).open(QIODevice::WriteOnly);
    ASSERT_EQ(::symlink(target.constData(), day.constData()), 0);
    log_.Write(QStringLiteral("through our own link"));
    EXPECT_TRUE(FileText(QStringLiteral("../target")).endsWith(u"through our own link\n"))
        << FileText(QStringLiteral("../target")).toStdString();

    if (::geteuid() != 0) GTEST_SKIP() << "other users' files need root";
    ASSERT_EQ(::lchown(day.constData(), 65534, 65534), 0);
    log_.Write(QStringLiteral("one"));
    log_.Write(QStringLiteral("two"));
    EXPECT_EQ(FileText(QStringLiteral("../target")).count(u'\n'), 1);
    const QString own = FileText(QStringLiteral("Log_2024-01-31-1.log"));
    EXPECT_EQ(own.count(QStringLiteral("Log_2024-01-31.log is not used (")), 1)
        << own.toStdString();
    EXPECT_TRUE(own.contains(QStringLiteral("belongs to"))) << own.toStdString();
    EXPECT_TRUE(own.endsWith(u"one\n31.01.2024 14:25:03 - two\n")) << own.toStdString();

    // A plain file of another user, and the first file beside it taken too.
    ASSERT_EQ(::unlink(day.constData()), 0);
    QFile(QString::fromUtf8(day)).open(QIODevice::WriteOnly);
    ASSERT_EQ(::chown(day.constData(), 65534, 65534), 0);
    const QByteArray first = QFile::encodeName(logs + QStringLiteral("/Log_2024-01-31-1.log"));
    ASSERT_EQ(::chown(first.constData(), 65534, 65534), 0);
    EventLog again(dir_.path() + u'/');
    again.SetClock([this] { return now_; });
    again.Write(QStringLiteral("three"));
    EXPECT_TRUE(FileText(QStringLiteral("Log_2024-01-31.log")).isEmpty());
    EXPECT_FALSE(FileText(QStringLiteral("Log_2024-01-31-1.log")).contains(u"three"));
    EXPECT_TRUE(FileText(QStringLiteral("Log_2024-01-31-2.log")).endsWith(u"three\n"))
        << FileText(QStringLiteral("Log_2024-01-31-2.log")).toStdString();
}

TEST_F(EventLogTest, DeletedFolderIsMadeAgainAndFailuresAreShownOnce) {
    log_.Write(QStringLiteral("one"));
    ASSERT_TRUE(QDir(dir_.filePath(QStringLiteral("Logs"))).removeRecursively());
    log_.Write(QStringLiteral("two"));
    EXPECT_EQ(FileText(QStringLiteral("Log_2024-01-31.log")),
              QStringLiteral("31.01.2024 14:25:03 - two\n"));

    // A file where the folder should be: nothing can be written.
    ASSERT_TRUE(QDir(dir_.filePath(QStringLiteral("Logs"))).removeRecursively());
    QFile blocker(dir_.filePath(QStringLiteral("Logs")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    status_.clear();
    log_.Write(QStringLiteral("a"));
    log_.Write(QStringLiteral("b"));
    ASSERT_EQ(status_.size(), 3u);
    EXPECT_TRUE(status_[1].startsWith(QStringLiteral("a  (Unable to write to ")));
    EXPECT_EQ(status_[2], QStringLiteral("b"));

    // Once writing works again, a later failure is shown again.
    ASSERT_TRUE(blocker.remove());
    log_.Write(QStringLiteral("c"));
    ASSERT_TRUE(QDir(dir_.filePath(QStringLiteral("Logs"))).removeRecursively());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    status_.clear();
    log_.Write(QStringLiteral("d"));
    EXPECT_EQ(status_.size(), 2u);
}

TEST_F(EventLogTest, AppendsFromSeveralThreadsStayWholeLines) {
    log_.SetStatusSink(nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i)
                log_.Write(QStringLiteral("thread %1 entry %2").arg(t).arg(i));
        });
    for (auto& t : threads) t.join();
    const QStringList lines =
        FileText(QStringLiteral("Log_2024-01-31.log")).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 800);
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith(QStringLiteral("31.01.2024 14:25:03 - thread ")))
            << line.toStdString();
}

}  // namespace

// A Logs folder that is a link not the user's own (another user's link, or
// one leading to a folder of another user's) is not followed: the log goes
// to the user's state folder, and its first line there says why, once. The
// user's own link to a folder of the user's is followed.
TEST_F(EventLogTest, ALogsFolderThatIsALinkNotOursIsNotFollowed) {
    QTemporaryDir own, state;
    const QByteArray logs = QFile::encodeName(dir_.filePath(QStringLiteral("Logs")));
    ASSERT_EQ(::symlink(QFile::encodeName(own.path()).constData(), logs.constData()), 0);
    EventLog log(dir_.path() + u'/', state.path() + u'/');
    log.SetClock([this] { return now_; });
    log.Write(QStringLiteral("through our own link"));
    EXPECT_TRUE(QFile::exists(own.filePath(QStringLiteral("Log_2024-01-31.log"))));

    // As root the link is given to another user; otherwise it leads to the
    // root folder, which is root's.
    ASSERT_EQ(::unlink(logs.constData()), 0);
    const bool root = ::geteuid() == 0;
    ASSERT_EQ(::symlink(root ? QFile::encodeName(own.path()).constData() : "/", logs.constData()),
              0);
    if (root) {
        ASSERT_EQ(::lchown(logs.constData(), 65534, 65534), 0);
    }
    EventLog refused(dir_.path() + u'/', state.path() + u'/');
    refused.SetClock([this] { return now_; });
    refused.SetLocale(QLocale(QLocale::German, QLocale::Germany));
    refused.Write(QStringLiteral("one"));
    refused.Write(QStringLiteral("two"));
    QFile file(state.filePath(QStringLiteral("Logs/Log_2024-01-31.log")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("31.01.2024 14:25:03 - ") + dir_.path() +
                                    QStringLiteral("/Logs is a link not followed (")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(root ? QStringLiteral("belongs to nobody")
                                       : QStringLiteral("belongs to root")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("): the log is kept in ") + state.path() +
                                  QStringLiteral("/Logs/")))
        << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("31.01.2024 14:25:03 - one"));
    EXPECT_EQ(lines[2], QStringLiteral("31.01.2024 14:25:03 - two"));
    // Nothing more where the link leads.
    EXPECT_EQ(QDir(own.path()).entryList(QDir::Files).size(), 1);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(state.filePath(QStringLiteral("Logs"))).constData(), &st),
              0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
