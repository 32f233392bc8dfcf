#pragma once
// The area selector's arithmetic as pure functions: the rectangle a drag
// gives, the smallest size it is raised to, and how the arrow keys move a
// drawn rectangle. All values are pixels of the selector's picture, which
// are X screen pixels.

#include <QPoint>
#include <QSize>

namespace velmora {

// Edges of a rectangle; Right and Bottom are the first pixels outside it.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TRect&) const = default;
};

// The capture region as the settings hold it.
struct TRegion {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TRegion&) const = default;
};

// Sizes are whole multiples of this many pixels, cut back toward the anchor.
inline constexpr int kSelectionStep = 8;
// An accepted side shorter than this becomes this long.
inline constexpr int kSmallestSelection = 16;

// The edge a drag reaches: position cut back toward the anchor so the
// distance is a multiple of 8 (the remainder keeps the sign of the distance).
int SnapTowardAnchor(int anchor, int position);

// The rectangle between the anchor and the mouse, whichever side of the
// anchor the mouse is on; Left <= Right and Top <= Bottom.
TRect DragRect(QPoint anchor, QPoint mouse);

// The rectangle with each side raised to 16 pixels where it is shorter:
// the right (bottom) edge moves out, or the left (top) one where the right
// would leave a picture of this size. What a drag shows and Enter stores.
TRect RaisedToSmallest(const TRect& rect, QSize picture);

// The rectangle as the settings hold a region.
TRegion RegionOf(const TRect& rect);

// Half of a sum rounded to the nearest integer, halves to even.
int HalfRoundedToEven(int sum);

// The rectangle moved by (dx, dy), but no further than keeps it on a picture
// of this size.
TRect MovedWithin(const TRect& rect, int dx, int dy, QSize picture);

}  // namespace velmora
