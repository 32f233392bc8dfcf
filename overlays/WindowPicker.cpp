#include "overlays/WindowPicker.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include "common/Language.h"
#include "common/ScreenSize.h"
#include "overlays/ScreenPixels.h"
#include "overlays/SelectorWindow.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora {

WindowPicker::WindowPicker(std::function<void(const platform::TopLevelWindow&)> picked)
    : picked_(std::move(picked)) {}

WindowPicker::~WindowPicker() = default;

bool WindowPicker::ShowPicker() {
    if (showing_) ClosePicker();
    // Before anything of ours stands over the windows.
    std::string error;
    list_ = platform::listX11Windows(&error);
    if (!error.empty()) return false;
    const ScreenRect desktop = GetDesktopRect();
    screenShot_ =
        QImage(std::max(0, desktop.width), std::max(0, desktop.height), QImage::Format_RGB32);
    screenShot_.fill(Qt::black);
    // X11 only: the screen is read at once, no desktop's question to await.
    std::unique_ptr<platform::Desktop> screen = platform::OpenDesktop();
    if (!screen) return false;
    screen->beginCapture(false);
    if (!GrabScreenPicture(screenShot_, *screen)) return false;
    workBitmap_ = screenShot_.copy();

    SelectorWindowEvents events;
    events.Moved = [this](QPoint at) { PointerAt(at); };
    events.Entered = [this](QPoint at) { PointerAt(at); };
    events.Pressed = [this](QPoint at) {
        PointerAt(at);
        const auto chosen = hovered_;
        ClosePicker();
        if (chosen && picked_) picked_(*chosen);
    };
    events.KeyPressed = [this](QKeyEvent* event) {
        if (event->key() != Qt::Key_Escape) return false;
        ClosePicker();
        return true;
    };
    events.Closed = [this] { ClosePicker(); };
    windows_.clear();
    const QPoint mouse = QCursor::pos();
    SelectorWindow* underMouse = nullptr;
    for (const auto& [screen, monitor] : PictureMonitors(screenShot_.rect())) {
        auto& window = windows_.emplace_back(std::make_unique<SelectorWindow>(workBitmap_, events));
        window->setObjectName(QStringLiteral("WindowPicker"));
        window->setWindowTitle(QStringLiteral("Window selection"));
        window->ShowOn(screen, monitor);
        if (!underMouse || window->geometry().contains(mouse)) underMouse = window.get();
    }
    showing_ = true;
    if (underMouse) underMouse->activateWindow();  // for Escape
    hovered_.reset();
    Redraw();
    return true;
}

void WindowPicker::ClosePicker() {
    if (!showing_) return;
    showing_ = false;
    for (const auto& window : windows_) window->hide();
    hovered_.reset();
}

std::vector<SelectorWindow*> WindowPicker::Windows() const {
    std::vector<SelectorWindow*> all;
    for (const auto& window : windows_) all.push_back(window.get());
    return all;
}

void WindowPicker::PointerAt(QPoint at) {
    if (!showing_) return;
    const auto under = platform::windowAt(list_, at.x(), at.y());
    if (under.has_value() == hovered_.has_value() && (!under || under->frame == hovered_->frame))
        return;
    hovered_ = under;
    Redraw();
}

void WindowPicker::Redraw() {
    workBitmap_ = screenShot_.copy();
    QPainter painter(&workBitmap_);
    // Picture pixels are device pixels: the caption grows with the scale.
    const qreal scale = windows_.empty() ? 1.0 : windows_.front()->devicePixelRatioF();
    QFont font = painter.font();
    font.setPixelSize(qMax(1, qRound(16 * scale)));
    painter.setFont(font);
    const QFontMetrics metrics(font);
    QString caption = MsgTexts(26);
    if (hovered_) {
        // What the recording holds: the client, without the frame around it.
        const ScreenRect& r = hovered_->area;
        const QRect outline(r.left, r.top, r.width, r.height);
        painter.setPen(QPen(QColor(255, 0, 0), 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        // Inside the window's edge, so a window filling the screen shows it too.
        painter.drawRect(outline.adjusted(2, 2, -2, -2));
        caption = QStringLiteral("%1  %2 x %3")
                      .arg(QString::fromStdString(hovered_->title))
                      .arg(r.width)
                      .arg(r.height);
    }
    // The caption at the top of the screen, on a dark band to be read on
    // any picture.
    const QRect band(0, 0, workBitmap_.width(), metrics.height() + 8);
    painter.fillRect(band, QColor(0, 0, 0, 170));
    painter.setPen(QColor(0, 255, 0));
    painter.drawText(band.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(caption, Qt::ElideMiddle, band.width() - 16));
    painter.end();
    for (const auto& window : windows_) window->update();
}

}  // namespace velmora
