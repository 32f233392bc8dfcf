#include "overlays/Magnifier.h"

#include <QFont>
#include <QPainter>

namespace velmora {
namespace {

constexpr int kCaptionHeight = 18;

QSize OuterSize(int scale) {
    const int side = kMagnifierPatch * kMagnifierZoom * scale + 2 * kMagnifierBorder;
    return {side, side + kCaptionHeight * scale};
}

}  // namespace

QRect MagnifierRect(QPoint mouse, const QRect& monitor, int scale) {
    const QSize size = OuterSize(scale);
    const int gap = kMagnifierGap * scale;
    int x = mouse.x() + gap;
    int y = mouse.y() + gap;
    if (x + size.width() > monitor.right() + 1) x = mouse.x() - gap - size.width();
    if (y + size.height() > monitor.bottom() + 1) y = mouse.y() - gap - size.height();
    return {QPoint(x, y), size};
}

QImage MagnifiedPatch(const QImage& picture, QPoint mouse) {
    constexpr int half = kMagnifierPatch / 2;
    // QImage::copy fills what lies outside the picture with zeros: black.
    return picture.copy(mouse.x() - half, mouse.y() - half, kMagnifierPatch, kMagnifierPatch);
}

void DrawMagnifier(QPainter& painter, const QImage& picture, QPoint mouse, const QRect& monitor,
                   const QString& caption, int scale) {
    const QRect outer = MagnifierRect(mouse, monitor, scale);
    const int cell = kMagnifierZoom * scale;
    const QRect patch(outer.topLeft() + QPoint(kMagnifierBorder, kMagnifierBorder),
                      QSize(kMagnifierPatch * cell, kMagnifierPatch * cell));
    painter.save();
    painter.fillRect(outer, Qt::black);
    // Without smoothing every picture pixel becomes a plain square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(patch, MagnifiedPatch(picture, mouse));

    // The pixel under the mouse: a white ring inside a black one, visible on
    // any colour, around its square.
    const QRect centre(patch.topLeft() + QPoint(kMagnifierPatch / 2, kMagnifierPatch / 2) * cell,
                       QSize(cell, cell));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(centre.adjusted(-2, -2, 1, 1));
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(centre.adjusted(-1, -1, 0, 0));

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12 * scale);
    painter.setFont(font);
    painter.setPen(QColor(0, 255, 0));
    const QRect captionRect(outer.left(), patch.bottom() + 1, outer.width(),
                            outer.bottom() - patch.bottom());
    painter.drawText(captionRect, Qt::AlignCenter, caption);
    painter.restore();
}

}  // namespace velmora
