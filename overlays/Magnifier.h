#pragma once
// A magnified patch of the frozen picture beside the mouse, so a user can
// put an edge on an exact pixel: 15 x 15 pixels at 8 times their size, the
// pixel under the mouse marked, and its position written below.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;

namespace velmora {

inline constexpr int kMagnifierPatch = 15;  // pixels across, the mouse's in the middle
inline constexpr int kMagnifierZoom = 8;    // screen pixels per picture pixel
inline constexpr int kMagnifierBorder = 2;
// Gap between the mouse and the magnifier, so the cursor does not cover it.
inline constexpr int kMagnifierGap = 24;

// The magnifier's outer rectangle (border included) for the mouse on that
// monitor: below right of the mouse, on the other side where it would leave
// the monitor. scale multiplies every size.
QRect MagnifierRect(QPoint mouse, const QRect& monitor, int scale = 1);

// The picture's pixels shown by the magnifier: the patch around the mouse,
// black where it leaves the picture.
QImage MagnifiedPatch(const QImage& picture, QPoint mouse);

// Draws the magnifier for the mouse on that monitor into the painter's
// picture. caption is written under the patch (the position the user would
// pick).
void DrawMagnifier(QPainter& painter, const QImage& picture, QPoint mouse, const QRect& monitor,
                   const QString& caption, int scale = 1);

}  // namespace velmora
