#pragma once
// Where the area selector's texts go: the size labels around a drawn
// rectangle and the hint above the mouse. Each text keeps its usual place
// beside the rectangle where that place is on a monitor and clear of the
// other texts; otherwise it goes to the nearest free place, on the other
// side of the rectangle, or inside it. All values are X screen pixels.

#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

#include "overlays/SelectionGeometry.h"

namespace velmora {

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

// What the placing needs to know of the screen and the font.
struct LabelRoom {
    // The monitors: a text lies wholly on them. None: anywhere.
    std::vector<QRect> monitors;
    // A text's width, and the height of a line, in pixels.
    std::function<int(const QString&)> widthOf = [](const QString& text) {
        return 10 * static_cast<int>(text.size());
    };
    int lineHeight = 24;
    // Multiplies the distances, for texts drawn larger on a scaled screen.
    double scale = 1.0;
    // Kept free of texts too (the magnifier).
    QRect keepClear;
};

// The texts around a drawn rectangle, in drawing order: the accept hint
// above it, "Left" and its value left of it, "Width" and its value right of
// it, "Top=" above and "Height=" below.
std::vector<SelectionLabel> SelectionLabels(const TRect& rect, const QString& acceptHint,
                                            const SelectionWords& words, const LabelRoom& room);

// The hint while no rectangle is drawn: just above the mouse, on its monitor.
SelectionLabel HintLabel(QPoint mouse, const QString& hint, const LabelRoom& room);

// The monitor holding the pixel; the nearest one when none does. An empty
// rectangle when there are none.
QRect MonitorAt(QPoint pixel, const std::vector<QRect>& monitors);

}  // namespace velmora
