#include "overlays/ScreenPixels.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

namespace velmora {

bool WindowsPlaceable() {
    return QGuiApplication::platformName() != QLatin1String("wayland");
}

namespace {

qreal Ratio(const QScreen* screen) {
    return screen ? screen->devicePixelRatio() : 1.0;
}

// Qt keeps a screen's top-left corner at its X pixel position.
QPoint Origin(const QScreen* screen) {
    return screen ? screen->geometry().topLeft() : QPoint();
}

// Where Qt puts a window's left (top) edge and how wide (high) it makes it,
// with Qt's own rounding (QPoint and QSize times a factor round each value).
int PixelStart(int logical, int origin, qreal ratio) {
    return (QPoint(logical - origin, 0) * ratio).x() + origin;
}
int PixelLength(int logical, qreal ratio) {
    return (QSize(logical, 0) * ratio).width();
}

// One axis of LogicalRectCovering: the start at or before the pixel start,
// then the length that reaches at least to its end.
void Cover(int pixelStart, int pixelLength, int origin, qreal ratio, int& start, int& length) {
    start = origin + static_cast<int>(std::floor((pixelStart - origin) / ratio));
    while (PixelStart(start, origin, ratio) > pixelStart) --start;
    const int placed = PixelStart(start, origin, ratio);
    const int end = pixelStart + pixelLength;
    length = std::max(1, static_cast<int>(std::ceil((end - placed) / ratio)));
    while (placed + PixelLength(length, ratio) < end) ++length;
}

const QScreen* ScreenOf(const QWidget* widget) {
    const QWidget* window = widget->window();
    if (const QWindow* handle = window->windowHandle()) return handle->screen();
    return window->screen();
}

}  // namespace

QRect ScreenPixelRect(const QScreen* screen) {
    if (!screen) return {};
    const QRect logical = screen->geometry();
    return QRect(logical.topLeft(), logical.size() * Ratio(screen));
}

QScreen* ScreenAtPixel(QPoint pixel) {
    for (QScreen* screen : QGuiApplication::screens())
        if (ScreenPixelRect(screen).contains(pixel)) return screen;
    return QGuiApplication::primaryScreen();
}

QPointF PixelToLogical(QPointF pixel, const QScreen* screen) {
    const QPointF origin = Origin(screen);
    return (pixel - origin) / Ratio(screen) + origin;
}

QPointF LogicalToPixel(QPointF logical, const QScreen* screen) {
    const QPointF origin = Origin(screen);
    return (logical - origin) * Ratio(screen) + origin;
}

QRect WindowPixelRect(const QRect& logical, const QScreen* screen) {
    const qreal ratio = Ratio(screen);
    const QPoint origin = Origin(screen);
    return QRect(PixelStart(logical.x(), origin.x(), ratio),
                 PixelStart(logical.y(), origin.y(), ratio), PixelLength(logical.width(), ratio),
                 PixelLength(logical.height(), ratio));
}

QRect LogicalRectCovering(const QRect& pixels, const QScreen* screen) {
    const qreal ratio = Ratio(screen);
    const QPoint origin = Origin(screen);
    int x, y, width, height;
    Cover(pixels.x(), pixels.width(), origin.x(), ratio, x, width);
    Cover(pixels.y(), pixels.height(), origin.y(), ratio, y, height);
    return QRect(x, y, width, height);
}

QPoint WidgetPointToPixel(const QWidget* widget, QPointF local) {
    const QWidget* window = widget->window();
    const QScreen* screen = ScreenOf(widget);
    const QPointF inWindow = widget->mapTo(window, local);
    const QPoint corner = WindowPixelRect(window->geometry(), screen).topLeft();
    return corner + (inWindow * Ratio(screen)).toPoint();
}

QPointF PixelToWidgetPoint(const QWidget* widget, QPoint pixel) {
    const QWidget* window = widget->window();
    const QScreen* screen = ScreenOf(widget);
    const QPoint corner = WindowPixelRect(window->geometry(), screen).topLeft();
    const QPointF inWindow = QPointF(pixel - corner) / Ratio(screen);
    return widget->mapFrom(window, inWindow);
}

}  // namespace velmora
