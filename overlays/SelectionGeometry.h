#pragma once
// The area selector's arithmetic as pure functions: the rectangle a drag
// gives, the region an accepted rectangle stores, where the labels go, and
// how the arrow keys move a drawn rectangle. All values are pixels of the
// selector's picture.

#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

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

// What accepting the rectangle stores: its position, and its size raised to
// 16 pixels where it is smaller.
TRegion AcceptedRegion(const TRect& rect);

// Half of a sum rounded to the nearest integer, halves to even.
int HalfRoundedToEven(int sum);

// A text drawn at its top-left corner.
struct SelectionLabel {
    QPoint at;
    QString text;
};

// The words of the labels, in the language shown.
struct SelectionWords {
    QString left = QStringLiteral("Left");
    QString top = QStringLiteral("Top");
    QString width = QStringLiteral("Width");
    QString height = QStringLiteral("Height");
};

// The texts around a drawn rectangle, in drawing order: the accept hint
// above it, "Left" and its value left of it, "Width" and its value right of
// it, "Top=" above and "Height=" below. Labels may start off the picture.
// scale multiplies the distances, for texts drawn larger on a scaled screen.
// Given widthOf (a text's width in pixels), the labels left of the rectangle
// end before its edge, however long the language's word is.
std::vector<SelectionLabel> SelectionLabels(const TRect& rect, const QString& acceptHint,
                                            double scale = 1.0, const SelectionWords& words = {},
                                            const std::function<int(const QString&)>& widthOf = {});

// Where the hint is drawn while no rectangle is: just above the mouse.
QPoint HintPosition(QPoint mouse, double scale = 1.0);

// The rectangle moved by (dx, dy), but no further than keeps it on a picture
// of this size.
TRect MovedWithin(const TRect& rect, int dx, int dy, QSize picture);

}  // namespace velmora
