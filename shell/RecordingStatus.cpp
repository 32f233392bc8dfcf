#include "shell/RecordingStatus.h"

#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <cmath>

namespace velmora {

std::int64_t RecordedSeconds(std::int64_t frameIndex, unsigned framesPerSecond) {
    const std::int64_t fps = std::max(framesPerSecond, 1u);
    return (1000 * std::max<std::int64_t>(frameIndex, 0) / fps + 500) / 1000;
}

QString ElapsedClock(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString mm = QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0'));
    const QString ss = QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(mm, ss)
                 : QStringLiteral("%1:%2").arg(m).arg(ss);
}

QString RecordingTitle(std::int64_t seconds, bool paused, const QString& program) {
    const QString mark = paused ? QStringLiteral("\u275A\u275A") : QStringLiteral("\u25CF");
    return mark + u' ' + ElapsedClock(seconds) + QStringLiteral(" - ") + program;
}

QString DurationText(std::int64_t seconds, const QString& hoursMinutes,
                     const QString& minutesSeconds, const QString& secondsOnly) {
    seconds = std::max<std::int64_t>(seconds, 0);
    if (seconds >= 3600) return QString(hoursMinutes).arg(seconds / 3600).arg(seconds / 60 % 60);
    if (seconds >= 60) return QString(minutesSeconds).arg(seconds / 60).arg(seconds % 60);
    return QString(secondsOnly).arg(seconds);
}

QString FileSizeText(std::int64_t bytes, const QLocale& locale) {
    // Below 10 units one decimal tells 1.3 MB from 1 MB; above, it is noise.
    const auto below10 = [&](double unit) { return std::abs(bytes / unit) < 9.95; };
    const double unit = bytes >= 1000000000 ? 1e9 : bytes >= 1000000 ? 1e6 : 1e3;
    return locale.formattedDataSize(bytes, below10(unit) ? 1 : 0, QLocale::DataSizeSIFormat);
}

QString SavedFileLine(const QString& pattern, const QString& path, const QString& duration,
                      const QString& size, const QFontMetrics& metrics, int width) {
    QString name = QFileInfo(path).fileName();
    // The line as it reads, without the name: what the name may take.
    QString rest = pattern;
    rest.replace(QStringLiteral("%1"), QString()).replace(QStringLiteral("%2"), duration);
    rest.replace(QStringLiteral("%3"), size);
    const int room = width - metrics.horizontalAdvance(rest);
    if (metrics.horizontalAdvance(name) > room)
        name = metrics.elidedText(name, Qt::ElideMiddle, std::max(room, 0));
    const QString link =
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                 name.toHtmlEscaped());
    QString line = pattern.toHtmlEscaped();
    // One pass, so a %2 inside the file's name is never replaced.
    line.replace(QStringLiteral("%2"), duration.toHtmlEscaped());
    line.replace(QStringLiteral("%3"), size.toHtmlEscaped());
    return line.replace(QStringLiteral("%1"), link);
}

}  // namespace velmora
