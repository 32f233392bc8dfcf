#include "overlays/SelectorWindow.h"

#include <QCloseEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <cstring>
#include <vector>

#include "overlays/ScreenPixels.h"
#include "platform/x11/Desktop.h"

namespace velmora {

bool GrabScreenPicture(QImage& picture, platform::Desktop& screen) {
    // The screen layer fills bottom-up 32-bit DIB rows (B, G, R, 0), which
    // are RGB32 pixels in the other row order.
    platform::DibRows rows;
    rows.width = picture.width();
    rows.height = picture.height();
    rows.bitCount = 32;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(rows.stride()) * rows.height);
    rows.bits = bits.data();
    const bool grabbed = !picture.isNull() && screen.grab(0, 0, rows);
    screen.endCapture();
    if (!grabbed) return false;
    const auto rowBytes = static_cast<std::size_t>(rows.width) * 4;
    for (int y = 0; y < rows.height; ++y) std::memcpy(picture.scanLine(y), rows.row(y), rowBytes);
    return true;
}

std::vector<std::pair<QScreen*, QRect>> PictureMonitors(const QRect& picture) {
    std::vector<std::pair<QScreen*, QRect>> monitors;
    for (QScreen* screen : QGuiApplication::screens())
        if (const QRect m = ScreenPixelRect(screen).intersected(picture); !m.isEmpty())
            monitors.emplace_back(screen, m);
    if (monitors.empty()) monitors.emplace_back(QGuiApplication::primaryScreen(), picture);
    return monitors;
}

SelectorWindow::SelectorWindow(const QImage& picture, SelectorWindowEvents events)
    // No parent: the frozen picture must not follow the main window down
    // when it is minimised.
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      picture_(picture),
      events_(std::move(events)) {
    setObjectName(QStringLiteral("AreaSelector"));
    setWindowTitle(QStringLiteral("Area selection"));
    // Every pixel comes from the picture: nothing to clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);  // the hint follows the mouse with no button down
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
}

void SelectorWindow::ShowOn(QScreen* screen, const QRect& monitor) {
    monitor_ = monitor;
    if (screen) {
        create();
        windowHandle()->setScreen(screen);
    }
    setGeometry(LogicalRectCovering(monitor, screen));
    // Full screen rather than maximised: a maximised window would leave the
    // panels of the desktop uncovered, and the picture must lie exactly over
    // the monitor it shows.
    showFullScreen();
    raise();
}

void SelectorWindow::paintEvent(QPaintEvent*) {
    // Whatever asks for the paint (a redraw, or a window that uncovered this
    // one), the window shows its pixels of the picture, one picture pixel to
    // one device pixel.
    QPainter painter(this);
    if (picture_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QRect pixels(WidgetPointToPixel(this, QPointF(0, 0)), (QSizeF(size()) * ratio).toSize());
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(pixels.size()) / ratio), picture_, pixels);
}

QPoint SelectorWindow::PixelOf(const QSinglePointEvent* event) const {
    const QPointF pixel = LogicalToPixel(event->globalPosition(), windowHandle()->screen());
    return {qRound(pixel.x()), qRound(pixel.y())};
}

void SelectorWindow::mousePressEvent(QMouseEvent* event) {
    if (events_.Pressed) events_.Pressed(PixelOf(event));
}

void SelectorWindow::mouseMoveEvent(QMouseEvent* event) {
    if (events_.Moved) events_.Moved(PixelOf(event));
}

void SelectorWindow::enterEvent(QEnterEvent* event) {
    // On Wayland this is the first the program hears of the pointer, which
    // may not move for a while.
    if (events_.Entered) events_.Entered(PixelOf(event));
}

void SelectorWindow::mouseReleaseEvent(QMouseEvent*) {
    if (events_.Released) events_.Released();
}

void SelectorWindow::keyPressEvent(QKeyEvent* event) {
    if (!events_.KeyPressed || !events_.KeyPressed(event)) QWidget::keyPressEvent(event);
}

void SelectorWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (events_.Closed) events_.Closed();
}

}  // namespace velmora
