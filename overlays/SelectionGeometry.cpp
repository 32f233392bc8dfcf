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

namespace {

// One axis of RaisedToSmallest: the low and high edges and the picture's length.
void Raise(int& low, int& high, int length) {
    if (high - low >= kSmallestSelection) return;
    high = low + kSmallestSelection;
    // Not past the picture's end, where nothing could be recorded.
    if (high > length && length >= kSmallestSelection) {
        high = length;
        low = length - kSmallestSelection;
    }
}

}  // namespace

TRect RaisedToSmallest(const TRect& rect, QSize picture) {
    TRect r = rect;
    Raise(r.Left, r.Right, picture.width());
    Raise(r.Top, r.Bottom, picture.height());
    return r;
}

TRegion RegionOf(const TRect& rect) {
    return {rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top};
}

int HalfRoundedToEven(int sum) {
    // Floor division, then an odd sum's half goes to the even neighbour.
    const int down = sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
    if (sum % 2 == 0) return down;
    return down % 2 == 0 ? down : down + 1;
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
