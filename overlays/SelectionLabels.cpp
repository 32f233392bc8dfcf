#include "overlays/SelectionLabels.h"

#include <QRegion>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

namespace velmora {
namespace {

// One place to try for a text, and whether it must stay out of the
// rectangle there.
struct Try {
    QPoint at;
    bool outside = true;
};

// Places boxes one after the other, each where it is on a monitor and clear
// of what is placed already, as near as it can to the first place tried
// that allows that.
class Placer {
  public:
    Placer(const LabelRoom& room, const TRect& r, int outline, int gap) : room_(room), gap_(gap) {
        for (const QRect& m : room.monitors) {
            shown_ += m;
            screen_ |= m;
        }
        const int width = r.Right - r.Left, height = r.Bottom - r.Top;
        frame_ =
            QRect(r.Left - outline, r.Top - outline, width + 2 * outline, height + 2 * outline);
        strips_ = {QRect(frame_.left(), frame_.top(), frame_.width(), outline),
                   QRect(frame_.left(), r.Bottom, frame_.width(), outline),
                   QRect(frame_.left(), r.Top, outline, height),
                   QRect(r.Right, r.Top, outline, height)};
    }

    QPoint Place(QSize size, const std::vector<Try>& tries) {
        for (const Try& t : tries) {
            const std::optional<QRect> box = NearestFree(t, size);
            if (!box) continue;
            placed_.push_back(*box);
            return box->topLeft();
        }
        // No free place at all (a rectangle as large as the monitor and a
        // long word): the first place, on the monitor at least.
        const QRect box = OnMonitor(QRect(tries.front().at, size));
        placed_.push_back(box);
        return box.topLeft();
    }

  private:
    std::vector<QRect> Obstacles(bool outside) const {
        std::vector<QRect> all;
        for (const QRect& box : placed_) all.push_back(box.adjusted(-gap_, -gap_, gap_, gap_));
        if (!room_.keepClear.isEmpty())
            all.push_back(room_.keepClear.adjusted(-gap_, -gap_, gap_, gap_));
        if (outside)
            all.push_back(frame_);
        else
            all.insert(all.end(), strips_.begin(), strips_.end());
        return all;
    }

    // Wholly shown: on one monitor, or across monitors that meet.
    bool OnAMonitor(const QRect& box) const {
        return room_.monitors.empty() || QRegion(box).subtracted(shown_).isEmpty();
    }

    // Moved onto the monitor of its middle, as far as it fits; a text
    // longer than that monitor onto the whole screen.
    QRect OnMonitor(QRect box) const {
        QRect m = MonitorAt(box.center(), room_.monitors);
        if (m.isEmpty()) return box;
        if (box.width() > m.width() || box.height() > m.height()) m = screen_;
        box.moveLeft(std::max(m.left(), std::min(box.left(), m.right() + 1 - box.width())));
        box.moveTop(std::max(m.top(), std::min(box.top(), m.bottom() + 1 - box.height())));
        return box;
    }

    // The free place nearest to the try among the try itself and the places
    // beside whatever is in its way (twice over), each moved onto a monitor.
    std::optional<QRect> NearestFree(const Try& t, QSize size) const {
        const std::vector<QRect> obstacles = Obstacles(t.outside);
        const auto hits = [&](const QRect& box) {
            std::vector<QRect> in;
            for (const QRect& o : obstacles)
                if (o.intersects(box)) in.push_back(o);
            return in;
        };
        std::vector<QRect> level{OnMonitor(QRect(t.at, size))};
        std::optional<QRect> best;
        long bestDistance = std::numeric_limits<long>::max();
        for (int depth = 0; depth < 3 && !level.empty(); ++depth) {
            std::vector<QRect> next;
            for (const QRect& box : level) {
                const std::vector<QRect> in = hits(box);
                if (in.empty() && OnAMonitor(box)) {
                    const long distance = std::labs(long(box.left()) - t.at.x()) +
                                          std::labs(long(box.top()) - t.at.y());
                    if (distance < bestDistance) best = box, bestDistance = distance;
                    continue;
                }
                if (depth == 2) continue;
                for (const QRect& o : in) {
                    next.push_back(OnMonitor(box.translated(0, o.top() - box.bottom() - 1)));
                    next.push_back(OnMonitor(box.translated(0, o.bottom() + 1 - box.top())));
                    next.push_back(OnMonitor(box.translated(o.left() - box.right() - 1, 0)));
                    next.push_back(OnMonitor(box.translated(o.right() + 1 - box.left(), 0)));
                }
            }
            level = std::move(next);
        }
        return best;
    }

    const LabelRoom& room_;
    int gap_;
    QRegion shown_;  // every monitor's pixels
    QRect screen_;   // around all monitors
    QRect frame_;
    std::vector<QRect> strips_;
    std::vector<QRect> placed_;
};

}  // namespace

QRect MonitorAt(QPoint pixel, const std::vector<QRect>& monitors) {
    QRect nearest;
    long nearestDistance = std::numeric_limits<long>::max();
    for (const QRect& m : monitors) {
        if (m.contains(pixel)) return m;
        const long dx = std::max({m.left() - pixel.x(), pixel.x() - m.right(), 0});
        const long dy = std::max({m.top() - pixel.y(), pixel.y() - m.bottom(), 0});
        if (dx + dy < nearestDistance) nearest = m, nearestDistance = dx + dy;
    }
    return nearest;
}

std::vector<SelectionLabel> SelectionLabels(const TRect& r, const QString& acceptHint,
                                            const SelectionWords& words, const LabelRoom& room) {
    const auto d = [&](int pixels) { return static_cast<int>(std::lround(pixels * room.scale)); };
    const int midX = HalfRoundedToEven(r.Left + r.Right);
    const int midY = HalfRoundedToEven(r.Top + r.Bottom);
    const int line = d(30);  // from one line of a pair to the next
    const int lineHeight = room.lineHeight;
    const QString left = QString::number(r.Left);
    const QString width = QString::number(r.Right - r.Left);
    const QString top = words.top + u'=' + QString::number(r.Top);
    const QString height = words.height + u'=' + QString::number(r.Bottom - r.Top);
    const auto widest = [&](const QString& a, const QString& b) {
        return std::max(room.widthOf(a), room.widthOf(b));
    };
    const QSize leftSize(widest(words.left, left), line + lineHeight);
    const QSize widthSize(widest(words.width, width), line + lineHeight);
    const QSize topSize(room.widthOf(top), lineHeight);
    const QSize heightSize(room.widthOf(height), lineHeight);
    const QSize hintSize(room.widthOf(acceptHint), lineHeight);
    // The left pair ends before the outline however long the language's word is.
    const int leftGap = std::max(d(50), leftSize.width() + d(2));
    const int pairY = midY - line;
    const int lineX = midX - d(50);

    // The values first: the hint gives way to them.
    Placer placer(room, r, 2, d(4));
    const QPoint leftAt = placer.Place(
        leftSize,
        {{{r.Left - leftGap, pairY}}, {{r.Right + d(2), pairY}}, {{r.Left + d(4), pairY}, false}});
    const QPoint widthAt =
        placer.Place(widthSize, {{{r.Right + d(2), pairY}},
                                 {{r.Left - d(2) - widthSize.width(), pairY}},
                                 {{r.Right - d(4) - widthSize.width(), pairY}, false}});
    const QPoint topAt = placer.Place(
        topSize,
        {{{lineX, r.Top - d(27)}}, {{lineX, r.Bottom + d(2)}}, {{lineX, r.Top + d(4)}, false}});
    const QPoint heightAt =
        placer.Place(heightSize, {{{lineX, r.Bottom + d(2)}},
                                  {{lineX, r.Top - d(2) - lineHeight}},
                                  {{lineX, r.Bottom - d(4) - lineHeight}, false}});
    const QPoint hintAt = placer.Place(hintSize, {{{r.Left, r.Top - d(70)}},
                                                  {{r.Left, r.Bottom + d(2) + lineHeight}},
                                                  {{r.Left + d(4), r.Top + d(4)}, false}});
    return {
        {hintAt, acceptHint},
        {leftAt, words.left},
        {leftAt + QPoint(0, line), left},
        {widthAt, words.width},
        {widthAt + QPoint(0, line), width},
        {topAt, top},
        {heightAt, height},
    };
}

SelectionLabel HintLabel(QPoint mouse, const QString& hint, const LabelRoom& room) {
    QPoint at(mouse.x(), mouse.y() - static_cast<int>(std::lround(30 * room.scale)));
    const QRect m = MonitorAt(mouse, room.monitors);
    if (!m.isEmpty()) {
        const QSize size(room.widthOf(hint), room.lineHeight);
        at.setX(std::max(m.left(), std::min(at.x(), m.right() + 1 - size.width())));
        at.setY(std::max(m.top(), std::min(at.y(), m.bottom() + 1 - size.height())));
    }
    return {at, hint};
}

}  // namespace velmora
