#pragma once
// X screen pixels and Qt's logical coordinates. The engine, the settings, the
// panel's numbers and the area selector's result are X pixels; Qt places and
// paints windows in logical coordinates, which it scales by each screen's
// device pixel ratio around that screen's top-left corner (QT_SCALE_FACTOR,
// Xft.dpi). Windows that must stand on given pixels convert here and nowhere
// else. UI thread only (it asks QGuiApplication for its screens).

#include <QPoint>
#include <QPointF>
#include <QRect>

class QScreen;
class QWidget;

namespace velmora {

// Whether this program can put its windows at screen positions: not on
// Wayland, where the compositor places every window (Qt 6 here has no
// binding for the layer-shell protocol).
bool WindowsPlaceable();

// The screen's rectangle in X pixels.
QRect ScreenPixelRect(const QScreen* screen);

// The Qt screen showing the X pixel; the primary screen when none does.
QScreen* ScreenAtPixel(QPoint pixel);

// A global position: X pixels to Qt's logical coordinates on that screen and
// back (exact, not rounded).
QPointF PixelToLogical(QPointF pixel, const QScreen* screen);
QPointF LogicalToPixel(QPointF logical, const QScreen* screen);

// The X pixels Qt gives a top-level window of that logical geometry on the
// screen (Qt rounds position and size separately).
QRect WindowPixelRect(const QRect& logical, const QScreen* screen);

// The logical geometry of the smallest top-level window on the screen that
// covers the X pixel rectangle. At fractional ratios Qt can place a window
// only on some pixels, so it may begin a pixel or two before the rectangle
// and end after it; WindowPixelRect of the result tells where exactly.
QRect LogicalRectCovering(const QRect& pixels, const QScreen* screen);

// A point in a widget's own logical coordinates (a mouse event's position,
// a place to paint) as an X pixel, and back. The widget's window must be on
// the screen it reports.
QPoint WidgetPointToPixel(const QWidget* widget, QPointF local);
QPointF PixelToWidgetPoint(const QWidget* widget, QPoint pixel);

}  // namespace velmora
