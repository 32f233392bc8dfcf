#include "net/WebLinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>

namespace velmora {

TWebLinkLabel::TWebLinkLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

void TWebLinkLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    event->accept();
    pressed_ = true;
    // The page opens on the press, before whatever the click does.
    if (Url.isValid()) QDesktopServices::openUrl(Url);
}

void TWebLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    pressed_ = false;
    if (rect().contains(event->position().toPoint())) emit clicked();
}

}  // namespace velmora
