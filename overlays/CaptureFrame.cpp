#include "overlays/CaptureFrame.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <vector>

#include "common/EventLog.h"
#include "overlays/FrameGeometry.h"
#include "overlays/ScreenPixels.h"
#include "platform/x11/WindowShape.h"

namespace velmora {
namespace {

// A rectangle of device pixels in the logical coordinates that paint exactly it.
QRectF Logical(const QRect& pixels, qreal ratio) {
    return QRectF(pixels.x() / ratio, pixels.y() / ratio, pixels.width() / ratio,
                  pixels.height() / ratio);
}

Display* X11Display() {
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        return x11->display();
    return nullptr;
}

}  // namespace

CaptureFrame::CaptureFrame(QWidget* owner)
    // No parent window: a minimised main window must not take the frame
    // along, and a tool window stays out of the task bar. Past the window
    // manager: under Qt's scaling it asks for even sizes only (a resize
    // increment of 2 at 1.5), which would cut the frame's right and bottom
    // strips. The engine raises it on every tick.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint) {
    Q_UNUSED(owner);
    setObjectName(QStringLiteral("CaptureFrame"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, false);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 16, 300, 300);
    hide();
}

QFont CaptureFrame::captionFont() const {
    // Arial where installed; fontconfig maps it to the metric-compatible
    // Liberation Sans elsewhere, so the caption measures the same.
    QFont font(QStringLiteral("Arial"), 14);
    return font;
}

void CaptureFrame::SetupRegion(int x, int y, int width, int height, bool cornersOnly,
                               const QString& text) {
    // The frame is worked out in X pixels; only the window's place goes
    // through Qt's scaling. The caption is as large as the program's other
    // texts at this scale.
    const QRect area(x, y, std::max(width, 1), std::max(height, 1));
    const QScreen* screen = ScreenAtPixel(area.center());
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const QFontMetricsF metrics(captionFont());
    const QSize caption(static_cast<int>(std::ceil(metrics.horizontalAdvance(text) * ratio)),
                        static_cast<int>(std::ceil(metrics.height() * ratio)));
    const FrameGeometry g =
        ComputeFrameGeometry(x, y, width, height, cornersOnly, caption.width(), caption.height());

    const QRect logical = LogicalRectCovering(g.window, screen);
    const QPoint inset = g.window.topLeft() - WindowPixelRect(logical, screen).topLeft();
    if (geometry() != logical) setGeometry(logical);
    FrameRect = g.frameRect;
    captionSize_ = caption;
    if (g.shape != FRegion || inset != inset_ || ratio != ratio_) {
        FRegion = g.shape;
        inset_ = inset;
        ratio_ = ratio;
        applyShape();
        update();
    }
}

void CaptureFrame::applyShape() {
    const QRegion shape = FRegion.translated(inset_);
    Display* display = X11Display();
    if (display) {
        // Qt would scale a mask with rounding; the X server takes the pixels.
        std::vector<platform::ScreenRect> rects;
        for (const QRect& r : shape) rects.push_back({r.x(), r.y(), r.width(), r.height()});
        if (platform::SetWindowShape(display, winId(), rects)) return;
    }
    QRegion logical;  // no X server (offscreen): Qt's own mask, as near as it gets
    for (const QRect& r : shape) logical += Logical(r, ratio_).toAlignedRect();
    setMask(logical);
}

void CaptureFrame::PaintFrame(const QString& text) {
    if (FrameRect.isEmpty()) return;
    caption_ = text;
    update();  // Qt folds repeated requests into one paint
}

void CaptureFrame::paintEvent(QPaintEvent*) {
    if (FrameRect.isEmpty()) return;
    const qreal ratio = devicePixelRatioF();
    QPainter painter(this);
    const QFont font = captionFont();
    const QRectF caption = Logical(QRect(inset_, captionSize_), ratio);
    painter.fillRect(caption, Qt::white);
    painter.setFont(font);
    painter.setPen(QColor(0, 0, 255));
    painter.drawText(caption.topLeft() + QPointF(0, QFontMetricsF(font).ascent()), caption_);
    painter.fillRect(Logical(FrameRect.translated(inset_), ratio), QColor(255, 0, 0));
}

void CaptureFrame::ShowOnTop() {
    // A Wayland client cannot put a window at a screen position (that needs
    // the layer-shell protocol, which Qt 6 here has no binding for): a frame
    // placed wherever the compositor likes would mark the wrong area.
    if (!WindowsPlaceable()) {
        static bool told = false;
        if (!told)
            WriteLog(QStringLiteral(
                "No frame around the recorded area on Wayland: windows cannot be placed there."));
        told = true;
        return;
    }
    // One of the program's own questions is open (the exit question during
    // a recording): the caption must not cover it. The frame passes the
    // window manager, which cannot stack the question above it: it is away
    // until the question is answered.
    if (QApplication::activeModalWidget()) {
        hide();
        return;
    }
    if (!isVisible()) show();
    raise();
}

void CaptureFrame::Restore() {
    if (WindowsPlaceable() && isMinimized()) showNormal();
}

}  // namespace velmora
