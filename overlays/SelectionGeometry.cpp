#include "overlays/SelectionGeometry.h"

#include <algorithm>
#include <cmath>

namespace velmora {

int SnapTowardAnchor(int anchor, int position) {
    // C++'s % truncates toward zero, so the cut always goes toward the anchor.
    return position - (position - anchor) % kSelectionStep;
}

TRect DragRect(QPoint anchor, QPoint mouse) {
    TRect r;
    if (mouse.x() >= anchor.x()) {
        r.Left = anchor.x();
        r.Right = SnapTowardAnchor(anchor.x(), mouse.x());
    } else {
        r.Right = anchor.x();
        r.Left = SnapTowardAnchor(anchor.x(), mouse.x());
    }
    if (mouse.y() >= anchor.y()) {
        r.Top = anchor.y();
        r.Bottom = SnapTowardAnchor(anchor.y(), mouse.y());
    } else {
        r.Bottom = anchor.y();
        r.Top = SnapTowardAnchor(anchor.y(), mouse.y());
    }
    return r;
}

TRegion AcceptedRegion(const TRect& rect) {
    TRegion region{rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top};
    if (region.Height < kSmallestSelection) region.Height = kSmallestSelection;
    if (region.Width < kSmallestSelection) region.Width = kSmallestSelection;
    return region;
}

int HalfRoundedToEven(int sum) {
    // Floor division, then an odd sum's half goes to the even neighbour.
    const int down = sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
    if (sum % 2 == 0) return down;
    return down % 2 == 0 ? down : down + 1;
}

std::vector<SelectionLabel> SelectionLabels(const TRect& r, const QString& acceptHint, double scale,
                                            const SelectionWords& words,
                                            const std::function<int(const QString&)>& widthOf) {
    const auto d = [scale](int pixels) { return static_cast<int>(std::lround(pixels * scale)); };
    const int midX = HalfRoundedToEven(r.Left + r.Right);
    const int midY = HalfRoundedToEven(r.Top + r.Bottom);
    const QString left = QString::number(r.Left);
    int leftGap = d(50);
    if (widthOf) leftGap = std::max({leftGap, widthOf(words.left) + d(2), widthOf(left) + d(2)});
    return {
        {{r.Left, r.Top - d(70)}, acceptHint},
        {{r.Left - leftGap, midY - d(30)}, words.left},
        {{r.Left - leftGap, midY}, left},
        {{r.Right + d(2), midY - d(30)}, words.width},
        {{r.Right + d(2), midY}, QString::number(r.Right - r.Left)},
        {{midX - d(50), r.Top - d(27)}, words.top + u'=' + QString::number(r.Top)},
        {{midX - d(50), r.Bottom}, words.height + u'=' + QString::number(r.Bottom - r.Top)},
    };
}

QPoint HintPosition(QPoint mouse, double scale) {
    return {mouse.x(), mouse.y() - static_cast<int>(std::lround(30 * scale))};
}

TRect MovedWithin(const TRect& r, int dx, int dy, QSize picture) {
    // low..high is how far the rectangle can go; a rectangle already beyond
    // an edge stays where it is on that axis.
    const auto shift = [](int d, int low, int high) {
        return low > 0 || high < 0 ? 0 : std::clamp(d, low, high);
    };
    dx = shift(dx, -r.Left, picture.width() - r.Right);
    dy = shift(dy, -r.Top, picture.height() - r.Bottom);
    return {r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

}  // namespace velmora
