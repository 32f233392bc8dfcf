#include "shell/RecordingTexts.h"

namespace velmora {

QString TargetFileName(const QDateTime& when) {
    return QStringLiteral("VideoRecord_") + when.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".avi");
}

QString UniqueTargetPath(const QString& workDir, const QString& name,
                         const std::function<bool(const QString&)>& exists) {
    QString path = workDir + name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    for (int n = 2; exists(path); ++n)
        path = workDir + stem + u'_' + QString::number(n) + extension;
    return path;
}

double DroppedPercentOf(std::int64_t written, std::int64_t dropped) {
    const std::int64_t frameSlots = written + dropped;
    if (frameSlots <= 0) return 0.0;
    // Whole numbers, so a half is exact.
    const std::int64_t scaled = dropped * 100;
    std::int64_t percent = scaled / frameSlots;
    const std::int64_t twiceRest = 2 * (scaled % frameSlots);
    if (twiceRest > frameSlots || (twiceRest == frameSlots && percent % 2 != 0)) ++percent;
    return static_cast<double>(percent);
}

double RecordedFrameRate(std::int64_t kept, std::int64_t frameSlots, unsigned framesPerSecond) {
    if (frameSlots <= 0) return 0.0;
    return static_cast<double>(kept) * framesPerSecond / static_cast<double>(frameSlots);
}

QString LiveFiguresText(const LiveFigures& f, const QStringList& titles, const QLocale& locale) {
    const auto title = [&](int i) { return i < titles.size() ? titles[i] : QString(); };
    // Joined, not formatted: a '%' in a language text stays a '%'.
    return QStringList{
        title(0) + QStringLiteral(": ") + f.compressorName,
        title(1) + QStringLiteral(": ") + f.elapsedText +
            (f.paused ? QStringLiteral(" (") + title(5) + u')' : QString()),
        title(2) + QStringLiteral(": ") + locale.toString(f.frameRate, 'f', 2),
        title(3) + QStringLiteral(": ") + QString::number(f.framesWritten),
        title(4) + QStringLiteral(": ") + QString::number(f.framesDropped),
    }
        .join(u'\n');
}

QString RealtimeGrabsStatus(const engine::TRealtimeGrabs& grabs, const QString& granted,
                            const QString& grantedByKit, const QString& refused) {
    const QString& text = !grabs.granted ? refused : grabs.byRealtimeKit ? grantedByKit : granted;
    if (text.isEmpty()) return QString::fromStdString(engine::RealtimeGrabsText(grabs));
    const QString value =
        grabs.granted ? QString::number(grabs.priority) : QString::fromStdString(grabs.reason);
    // Replaced, not formatted: the reason may hold a '%' of its own.
    QString status = text;
    return status.replace(QStringLiteral("%1"), value);
}

MergeProgress::Step MergeProgress::Report(int percent) {
    Step step;
    // The save itself reports 100 when it is done, and the engine reports 100
    // once more after it: the merge is finished already.
    if (percent == 100 && finished_.exchange(false) && !cancelRequested_) {
        step.cancelEnabled = cancelEnabled_;
        return step;
    }
    finished_ = false;
    if (!cancelRequested_) {
        if (!cancelEnabled_) {
            cancelEnabled_ = true;
            step.logTexts.append(2);
        }
        step.progress = percent;
        if (percent == 100) {
            cancelRequested_ = false;
            cancelEnabled_ = false;
            step.logTexts.append(3);
            step.progress = 0;
            finished_ = true;
        }
        step.proceed = true;
    } else {
        cancelRequested_ = false;
        cancelEnabled_ = false;
        step.logTexts.append(4);
        step.progress = 0;
        step.proceed = false;
    }
    step.cancelEnabled = cancelEnabled_;
    return step;
}

}  // namespace velmora
