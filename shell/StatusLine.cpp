#include "shell/StatusLine.h"

#include <QPainter>
#include <QStyle>

namespace velmora {

QString ElidedStatusText(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const QString ellipsis(QChar(0x2026));
    // "Error on create AVI file. /home/me/Videos/: Permission denied": the
    // reason after the last ": " stays whole, then as much of the beginning
    // as fits; the folder between goes first.
    const qsizetype colon = text.lastIndexOf(QStringLiteral(": "));
    const QString reason = colon > 0 ? text.mid(colon + 2) : QString();
    // "Recording starts in 3 s - F10 or Esc cancels": the state comes first
    // and matters most; the keys' hint after the dash goes.
    if (reason.isEmpty() && text.contains(QStringLiteral(" - ")))
        return metrics.elidedText(text, Qt::ElideRight, width);
    if (reason.isEmpty() || metrics.horizontalAdvance(ellipsis + reason) > width)
        return metrics.elidedText(text, Qt::ElideLeft, width);
    qsizetype headEnd = -1;  // after the first ". " or ": "
    for (const QString& mark : {QStringLiteral(". "), QStringLiteral(": ")}) {
        const qsizetype at = text.indexOf(mark);
        if (at > 0 && (headEnd < 0 || at + mark.size() < headEnd)) headEnd = at + mark.size();
    }
    const QString head = text.left(headEnd);
    const int room = width - metrics.horizontalAdvance(ellipsis + reason);
    if (metrics.horizontalAdvance(head) <= room) {
        // The whole beginning, and the end of the middle before the reason.
        const QString rest = text.mid(headEnd);
        const QString tail =
            metrics.elidedText(rest, Qt::ElideLeft, width - metrics.horizontalAdvance(head));
        return head + (tail.startsWith(ellipsis) ? tail : ellipsis + tail);
    }
    // The beginning cut at the right, then the reason.
    const QString cut = metrics.elidedText(text.left(colon + 2), Qt::ElideRight,
                                           room + metrics.horizontalAdvance(ellipsis));
    return (cut.endsWith(ellipsis) ? cut : cut + ellipsis) + reason;
}

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

QString StatusLabel::ShownText() const {
    return ElidedStatusText(text(), fontMetrics(), contentsRect().width());
}

QSize StatusLabel::minimumSizeHint() const {
    // Any width: the text is fitted to what the line has.
    return {0, QLabel::minimumSizeHint().height()};
}

QSize StatusLabel::sizeHint() const {
    return {0, QLabel::sizeHint().height()};
}

void StatusLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), ShownText(), foregroundRole());
}

}  // namespace velmora
