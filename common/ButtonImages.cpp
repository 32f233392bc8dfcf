#include "common/ButtonImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>
#include <map>

namespace velmora {
namespace {

const QColor kOutline(0x33, 0x3a, 0x45);
const QColor kScreenBlue(0x3d, 0x7e, 0xc9);
const QColor kRed(0xd9, 0x2b, 0x2b);

void Monitor(QPainter& p) {
    // Stand and foot, then the bezel.
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawRect(QRectF(13, 24, 6, 3));
    p.drawRoundedRect(QRectF(9, 27, 14, 2.5), 1, 1);
    p.setBrush(QColor(0x4a, 0x52, 0x5e));
    p.drawRoundedRect(QRectF(1.5, 4, 29, 20.5), 2, 2);
}

void DrawArea(QPainter& p) {
    Monitor(p);
    p.setBrush(QColor(0xdd, 0xe6, 0xf0));
    p.drawRect(QRectF(3.5, 6, 25, 16.5));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRed, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(QRectF(9, 9.5, 14, 9.5));
}

void DrawFull(QPainter& p) {
    Monitor(p);
    // A landscape fills the whole screen: sky, sun, hills.
    const QRectF screen(3.5, 6, 25, 16.5);
    QLinearGradient sky(screen.topLeft(), screen.bottomLeft());
    sky.setColorAt(0, QColor(0x5a, 0xa9, 0xf0));
    sky.setColorAt(1, QColor(0xb8, 0xdc, 0xfa));
    p.setBrush(sky);
    p.drawRect(screen);
    p.setBrush(QColor(0xf6, 0xc3, 0x2e));
    p.drawEllipse(QPointF(23, 10.5), 2.5, 2.5);
    QPainterPath hills;
    hills.moveTo(3.5, 22.5);
    hills.lineTo(3.5, 18);
    hills.quadTo(9, 12.5, 15, 17.5);
    hills.quadTo(21, 14, 28.5, 18.5);
    hills.lineTo(28.5, 22.5);
    hills.closeSubpath();
    p.setBrush(QColor(0x3f, 0x9b, 0x4c));
    p.drawPath(hills);
}

void DrawWindow(QPainter& p) {
    Monitor(p);
    p.setBrush(QColor(0xdd, 0xe6, 0xf0));
    p.drawRect(QRectF(3.5, 6, 25, 16.5));
    // A grey window half under the recorded one, which keeps its title bar.
    p.setBrush(QColor(0x9a, 0xa4, 0xb0));
    p.drawRect(QRectF(16, 8, 11, 8));
    p.setBrush(QColor(0xff, 0xff, 0xff));
    p.drawRect(QRectF(6, 10, 14, 10));
    p.setBrush(QColor(0x2f, 0x6f, 0xc0));
    p.drawRect(QRectF(6, 10, 14, 2.5));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRed, 1.5, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(QRectF(6, 10, 14, 10));
}

void DrawRecord(QPainter& p) {
    QRadialGradient glow(QPointF(13, 12), 14);
    glow.setColorAt(0, QColor(0xff, 0x6b, 0x6b));
    glow.setColorAt(1, QColor(0xc4, 0x12, 0x12));
    p.setPen(QPen(QColor(0x8e, 0x0b, 0x0b), 1.2));
    p.setBrush(glow);
    p.drawEllipse(QPointF(16, 16), 11, 11);
}

// The stop square's blue, so the three recording controls look alike.
QLinearGradient StopBlue() {
    QLinearGradient fill(QPointF(0, 6), QPointF(0, 26));
    fill.setColorAt(0, QColor(0x4f, 0x8f, 0xe8));
    fill.setColorAt(1, QColor(0x1f, 0x57, 0xb8));
    return fill;
}

void DrawStop(QPainter& p) {
    p.setPen(QPen(QColor(0x15, 0x3d, 0x85), 1.2));
    p.setBrush(StopBlue());
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 2.5, 2.5);
}

void DrawPause(QPainter& p) {
    p.setPen(QPen(QColor(0x15, 0x3d, 0x85), 1.2));
    p.setBrush(StopBlue());
    p.drawRoundedRect(QRectF(7, 6, 7, 20), 1.5, 1.5);
    p.drawRoundedRect(QRectF(18, 6, 7, 20), 1.5, 1.5);
}

void DrawResume(QPainter& p) {
    QPainterPath triangle;
    triangle.moveTo(8, 5);
    triangle.lineTo(27, 16);
    triangle.lineTo(8, 27);
    triangle.closeSubpath();
    p.setPen(QPen(QColor(0x15, 0x3d, 0x85), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(StopBlue());
    p.drawPath(triangle);
}

void DrawExit(QPainter& p) {
    // Door frame, the open door, and an arrow leaving through it.
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(QColor(0xe9, 0xed, 0xf2));
    p.drawRect(QRectF(4, 3, 15, 26));
    QPainterPath door;
    door.moveTo(4, 3);
    door.lineTo(13, 6);
    door.lineTo(13, 31);
    door.lineTo(4, 29);
    door.closeSubpath();
    p.setBrush(QColor(0x9c, 0x6b, 0x3f));
    p.drawPath(door);
    p.setBrush(QColor(0xf6, 0xc3, 0x2e));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(11, 18), 1.2, 1.2);
    const QColor green(0x2e, 0x9e, 0x48);
    p.setPen(QPen(green, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(16, 16), QPointF(25, 16));
    QPainterPath head;
    head.moveTo(31, 16);
    head.lineTo(24, 10);
    head.lineTo(24, 22);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    p.drawPath(head);
}

QPainterPath Gear(QPointF centre, double outer, double inner, double hole, int teeth) {
    QPainterPath path;
    const double step = 2 * M_PI / teeth;
    bool first = true;
    for (int i = 0; i < teeth; ++i) {
        const double a = i * step;
        const QPointF points[] = {
            centre + QPointF(inner * qCos(a - step * 0.5), inner * qSin(a - step * 0.5)),
            centre + QPointF(outer * qCos(a - step * 0.22), outer * qSin(a - step * 0.22)),
            centre + QPointF(outer * qCos(a + step * 0.22), outer * qSin(a + step * 0.22)),
            centre + QPointF(inner * qCos(a + step * 0.5), inner * qSin(a + step * 0.5)),
        };
        for (const QPointF& point : points) {
            if (first)
                path.moveTo(point);
            else
                path.lineTo(point);
            first = false;
        }
    }
    path.closeSubpath();
    path.addEllipse(centre, hole, hole);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

void DrawOptions(QPainter& p) {
    p.setPen(QPen(QColor(0x3b, 0x42, 0x4c), 1));
    p.setBrush(QColor(0x8d, 0x99, 0xa8));
    p.drawPath(Gear(QPointF(12.5, 13), 10.5, 7.5, 3.2, 9));
    p.setBrush(QColor(0xe0, 0xa1, 0x2b));
    p.drawPath(Gear(QPointF(23.5, 23.5), 7.5, 5.2, 2.2, 7));
}

void DrawAbout(QPainter& p) {
    QPainterPath bubble;
    bubble.addEllipse(QPointF(16, 14), 13, 12);
    QPainterPath tail;
    tail.moveTo(9, 23);
    tail.lineTo(6, 31);
    tail.lineTo(16, 25);
    tail.closeSubpath();
    p.setPen(QPen(QColor(0x1f, 0x57, 0xb8), 1.2));
    p.setBrush(kScreenBlue);
    p.drawPath(bubble.united(tail));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 7.8), 2, 2);
    p.drawRoundedRect(QRectF(14.2, 11.5, 3.6, 10.5), 1, 1);
}

void DrawFolder(QPainter& p) {
    p.setPen(QPen(QColor(0xa8, 0x74, 0x10), 1));
    p.setBrush(QColor(0xe8, 0xad, 0x34));
    QPainterPath back;
    back.moveTo(2, 7);
    back.lineTo(11, 7);
    back.lineTo(13.5, 9.5);
    back.lineTo(27, 9.5);
    back.lineTo(27, 26);
    back.lineTo(2, 26);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0xf7, 0xcc, 0x5a));
    p.drawRect(QRectF(2, 12.5, 25, 13.5));
    // The magnifier over the folder's corner.
    p.setPen(QPen(kOutline, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(25.5, 25.5), QPointF(30, 30));
    p.setPen(QPen(kOutline, 2));
    p.setBrush(QColor(0xd6, 0xec, 0xff, 220));
    p.drawEllipse(QPointF(21, 21), 5.5, 5.5);
}

void DrawProgram(QPainter& p) {
    DrawArea(p);
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QPointF(16, 14.2), 3, 3);
}

void DrawSpare(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawRoundedRect(QRectF(2, 7, 28, 18), 2, 2);
    p.setBrush(Qt::white);
    for (int i = 0; i < 6; ++i) {
        p.drawRect(QRectF(4 + i * 4.5, 8.5, 2.2, 2));
        p.drawRect(QRectF(4 + i * 4.5, 21.5, 2.2, 2));
    }
    p.setBrush(QColor(0x8c, 0xc4, 0xf5));
    p.drawRect(QRectF(5, 12, 10, 8));
    p.drawRect(QRectF(17, 12, 10, 8));
}

void Draw(int index, QPainter& p) {
    switch (index) {
        case kImageProgram:
            DrawProgram(p);
            break;
        case kImageSpare:
            DrawSpare(p);
            break;
        case kImageExit:
            DrawExit(p);
            break;
        case kImageOptions:
            DrawOptions(p);
            break;
        case kImageRecord:
            DrawRecord(p);
            break;
        case kImageAbout:
            DrawAbout(p);
            break;
        case kImageFolder:
            DrawFolder(p);
            break;
        case kImageStop:
            DrawStop(p);
            break;
        case kImageArea:
            DrawArea(p);
            break;
        case kImagePause:
            DrawPause(p);
            break;
        case kImageResume:
            DrawResume(p);
            break;
        case kImageFull:
            DrawFull(p);
            break;
        case kImageWindow:
            DrawWindow(p);
            break;
        default:
            break;  // kImageEmpty and anything unknown: transparent
    }
}

}  // namespace

QIcon ButtonImageIcon(int index) {
    // Drawn once per image: the Record button blinks three times a second,
    // and the toolkit's pixmap cache keeps the renderings of every new icon.
    // Never freed, so no pixmap outlives the application object.
    static auto* const drawn = new std::map<int, QIcon>;
    if (const auto found = drawn->find(index); found != drawn->end()) return found->second;
    QIcon& icon = (*drawn)[index];
    for (const qreal scale : {1.0, 1.5, 2.0, 3.0}) {
        const int side = qRound(32 * scale);
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        {
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            Draw(index, p);
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velmora
