#include "overlays/FlashWnd.h"

#include <QFontMetrics>
#include <QPainter>

#include "overlays/FrameGeometry.h"

namespace velmora {

TFlashingWnd::TFlashingWnd(QWidget* owner)
    // No parent window: a minimised main window must not take the frame
    // along, and a tool window stays out of the task bar.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                           Qt::NoDropShadowWindowHint) {
    Q_UNUSED(owner);
    setObjectName(QStringLiteral("FlashingWnd"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground, false);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 16, 300, 300);
    hide();
}

QFont TFlashingWnd::captionFont() const {
    // Arial where installed; fontconfig maps it to the metric-compatible
    // Liberation Sans elsewhere, so the caption measures the same.
    QFont font(QStringLiteral("Arial"), 14);
    return font;
}

void TFlashingWnd::SetupRegion(int x, int y, int width, int height, bool cornersOnly,
                               const QString& text) {
    const QFontMetrics metrics(captionFont());
    const FrameGeometry g = ComputeFrameGeometry(x, y, width, height, cornersOnly,
                                                 metrics.horizontalAdvance(text), metrics.height());
    if (geometry() != g.window) setGeometry(g.window);
    FrameRect = g.frameRect;
    if (g.shape != FRegion) {
        FRegion = g.shape;
        setMask(FRegion);
    }
}

void TFlashingWnd::PaintFrame(const QString& text) {
    if (FrameRect.isEmpty()) return;
    caption_ = text;
    update();  // Qt folds repeated requests into one paint
}

void TFlashingWnd::paintEvent(QPaintEvent*) {
    if (FrameRect.isEmpty()) return;
    QPainter painter(this);
    const QFont font = captionFont();
    const QFontMetrics metrics(font);
    painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(caption_), metrics.height()), Qt::white);
    painter.setFont(font);
    painter.setPen(QColor(0, 0, 255));
    painter.drawText(QPoint(0, metrics.ascent()), caption_);
    painter.fillRect(FrameRect, QColor(255, 0, 0));
}

void TFlashingWnd::ShowOnTop() {
    if (!isVisible()) show();
    raise();
}

void TFlashingWnd::Restore() {
    if (isMinimized()) showNormal();
}

}  // namespace velmora
