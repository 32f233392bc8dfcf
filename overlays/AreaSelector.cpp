#include "overlays/AreaSelector.h"

#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "overlays/Magnifier.h"
#include "overlays/ScreenPixels.h"
#include "platform/x11/HotKeys.h"
#include "platform/x11/PointerEvents.h"
#include "platform/x11/ScreenBackend.h"

namespace velmora {
namespace {

// Identifiers when there is no X server to name them (they are never
// registered then): the range Windows gives its global atoms.
constexpr int kEscapeFallbackId = 0xC000;
constexpr int kEnterFallbackId = 0xC001;

// A name's X atom, which every client of the server sees under that name:
// the hot keys' identifiers are named the same way for every program.
int HotKeyAtom(const char* name, int fallback) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return fallback;
    xcb_connection_t* c = x11->connection();
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply && reply->atom ? static_cast<int>(reply->atom) : fallback;
}

// The primary monitor in X screen pixels, as it is now.
QRect PrimaryMonitorPixels() {
    const ScreenRect r = GetPrimaryScreenRect();
    return {r.left, r.top, r.width, r.height};
}

// The font of the selector's texts: "ARIAL" at 16 points on a 96-dpi screen,
// that is a 21-pixel em, times the screen's scale. fontconfig maps Arial to
// the metric-compatible Liberation Sans where Arial itself is not installed.
QFont SelectionFont(qreal scale) {
    QFont font(QStringLiteral("ARIAL"));
    font.setPixelSize(qMax(1, qRound(21 * scale)));
    return font;
}

}  // namespace

AreaSelector::AreaSelector(AreaSelectorLinks links)
    // No parent: the frozen picture must not follow the main window down
    // when it is minimised.
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      links_(std::move(links)) {
    setObjectName(QStringLiteral("AreaSelector"));
    setWindowTitle(QStringLiteral("Area selection"));
    // Every pixel comes from WorkBitmap: nothing to clear first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);  // the hint follows the mouse with no button down
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        xinputOpcode_ = platform::XInputOpcode(x11->connection());
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    SetUpCanvas();
}

AreaSelector::~AreaSelector() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    ForgetHotKeys();
}

void AreaSelector::SetUpCanvas() {
    font_ = SelectionFont(1.0);
    textColor_ = QColor(0, 255, 0);
    penColor_ = QColor(255, 0, 0);
    penWidth_ = 2;
}

void AreaSelector::ForgetHotKeys() {
    UnregisterHotKeys();
    // X atoms live as long as the X server; forgetting them is all there is
    // to deleting them.
    escapeAtom_ = 0;
    enterAtom_ = 0;
}

void AreaSelector::UnregisterHotKeys() {
    if (!links_.UnregisterHotKey) return;
    if (escapeAtom_) links_.UnregisterHotKey(escapeAtom_);
    if (enterAtom_) links_.UnregisterHotKey(enterAtom_);
}

void AreaSelector::FreeBitmaps() {
    ScreenShot = QImage();
    WorkBitmap = QImage();
}

// ------------------------------------------------------------ opening

void AreaSelector::ShowAreaSelector() {
    screenArea_ = PrimaryMonitorPixels();
    ScreenShot = QImage(screenArea_.size(), QImage::Format_RGB32);
    ScreenShot.fill(Qt::black);

    // The selector of the last opening must not be in the new picture.
    if (isVisible()) {
        hide();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    QThread::msleep(10);
    TakeScreenShot();

    QScreen* screen = ScreenAtPixel(screenArea_.center());
    if (screen) {
        create();
        windowHandle()->setScreen(screen);
    }
    setGeometry(LogicalRectCovering(screenArea_, screen));
    // Full screen rather than maximised: a maximised window would leave the
    // panels of the desktop uncovered, and the picture must lie exactly over
    // the screen it shows.
    showFullScreen();
    raise();
    activateWindow();
    // The texts follow the scale of the screen the window is on.
    font_ = SelectionFont(devicePixelRatioF());

    WorkBitmap = ScreenShot.copy();
    RedrawSelection();
}

bool AreaSelector::TakeScreenShot() {
    if (screenArea_.isEmpty()) return false;
    std::unique_ptr<platform::Desktop> desktop = platform::OpenDesktop();
    if (!desktop) return false;
    // The screen layer fills bottom-up 32-bit DIB rows (B, G, R, 0), which
    // are RGB32 pixels in the other row order.
    platform::DibRows rows;
    rows.width = screenArea_.width();
    rows.height = screenArea_.height();
    rows.bitCount = 32;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(rows.stride() * rows.height));
    rows.bits = bits.data();
    if (!desktop->grab(screenArea_.x(), screenArea_.y(), rows)) return false;
    const auto rowBytes = static_cast<std::size_t>(rows.width) * 4;
    for (int y = 0; y < rows.height; ++y)
        std::memcpy(ScreenShot.scanLine(y), rows.row(y), rowBytes);
    return true;
}

void AreaSelector::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    StartSelecting();
}

void AreaSelector::StartSelecting() {
    Dragging = false;
    HasRect = false;
    escapeAtom_ = HotKeyAtom("RectScr_Escape", kEscapeFallbackId);
    enterAtom_ = HotKeyAtom("RectScr_Enter", kEnterFallbackId);
    // Another program may hold either key; the selector then goes without it.
    if (links_.RegisterHotKey) {
        links_.RegisterHotKey(escapeAtom_, platform::kVkEscape);
        links_.RegisterHotKey(enterAtom_, platform::kVkReturn);
    }
    SelRect = {};
}

void AreaSelector::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    StopSelecting();
}

void AreaSelector::StopSelecting() {
    UnregisterHotKeys();
    Dragging = false;
    HasRect = false;
    // The region settings stay as they were: Escape keeps the previous area.
    SelRect = {};
}

// ------------------------------------------------------------ accepting

void AreaSelector::AcceptSelection() {
    UnregisterHotKeys();
    const TRegion region = AcceptedRegion(SelRect);
    // The picture starts at the monitor's corner on the screen.
    Settings.RegionTopPos = region.Top + screenArea_.top();
    Settings.RegionHeightPos = region.Height;
    Settings.RegionLeftPos = region.Left + screenArea_.left();
    Settings.RegionWidthPos = region.Width;
    // Each edit clamps to its limits and writes what it shows back.
    if (links_.Panel)
        links_.Panel->ShowRegion(Settings.RegionLeftPos, Settings.RegionTopPos,
                                 Settings.RegionWidthPos, Settings.RegionHeightPos);
    if (links_.Accepted) links_.Accepted();
    if (links_.SaveSettings) links_.SaveSettings();
    close();
}

// ------------------------------------------------------------ mouse and keys

QPoint AreaSelector::PicturePixel(QPoint screenPixel) const {
    const QPoint pixel = screenPixel - screenArea_.topLeft();
    // A drag may go on beyond the window (onto another monitor).
    return {std::clamp(pixel.x(), 0, std::max(0, ScreenShot.width() - 1)),
            std::clamp(pixel.y(), 0, std::max(0, ScreenShot.height() - 1))};
}

QPoint AreaSelector::PicturePixel(QPointF global) const {
    const QPointF pixel = LogicalToPixel(global, screen());
    return PicturePixel(QPoint(qRound(pixel.x()), qRound(pixel.y())));
}

bool AreaSelector::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !isVisible()) return false;
    const auto event =
        platform::PointerEventOf(static_cast<const xcb_generic_event_t*>(message), xinputOpcode_);
    if (!event || event->window != winId()) return false;
    nativePointer_ = true;
    const QPoint at = PicturePixel(QPoint(event->rootX, event->rootY));
    switch (event->kind) {
        case platform::PointerEvent::Press:
            ButtonPressed(at);
            break;
        case platform::PointerEvent::Motion:
            PointerMoved(at);
            break;
        case platform::PointerEvent::Release:
            ButtonReleased();
            break;
    }
    return false;  // Qt still sees the event (cursor shape, focus)
}

void AreaSelector::mousePressEvent(QMouseEvent* event) {
    if (!nativePointer_) ButtonPressed(PicturePixel(event->globalPosition()));
}

void AreaSelector::mouseMoveEvent(QMouseEvent* event) {
    if (!nativePointer_) PointerMoved(PicturePixel(event->globalPosition()));
}

void AreaSelector::mouseReleaseEvent(QMouseEvent*) {
    if (!nativePointer_) ButtonReleased();
}

void AreaSelector::ButtonPressed(QPoint at) {
    Dragging = true;
    HasRect = false;
    Anchor = at;
    SelRect = {at.x(), at.y(), at.x(), at.y()};
}

void AreaSelector::PointerMoved(QPoint at) {
    if (Dragging) {
        HasRect = true;
        SelRect = DragRect(Anchor, at);
    }
    RedrawSelection();
}

void AreaSelector::ButtonReleased() {
    Dragging = false;
    RedrawSelection();
}

void AreaSelector::keyPressEvent(QKeyEvent* event) {
    const int step = event->modifiers() & Qt::ShiftModifier ? 1 : kSelectionStep;
    int dx = 0, dy = 0;
    switch (event->key()) {
        case Qt::Key_Left:
            dx = -step;
            break;
        case Qt::Key_Right:
            dx = step;
            break;
        case Qt::Key_Up:
            dy = -step;
            break;
        case Qt::Key_Down:
            dy = step;
            break;
        // Enter and Escape come as hot keys; they reach the window only when
        // they could not be grabbed, and then still do their work.
        case Qt::Key_Return:
        case Qt::Key_Enter:
            AcceptSelection();
            return;
        case Qt::Key_Escape:
            close();
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    if (!HasRect || Dragging) return;
    SelRect = MovedWithin(SelRect, dx, dy, ScreenShot.size());
    RedrawSelection();
}

// ------------------------------------------------------------ drawing

SelectionWords AreaSelector::LabelWords() {
    SelectionWords words;
    for (auto [n, word] : {std::pair{14, &words.left}, std::pair{15, &words.top},
                           std::pair{16, &words.width}, std::pair{17, &words.height}})
        if (const QString text = MsgTexts(n); !text.isEmpty()) *word = text;
    return words;
}

void AreaSelector::RedrawSelection() {
    if (ScreenShot.isNull()) return;
    if (WorkBitmap.size() != ScreenShot.size() || WorkBitmap.format() != ScreenShot.format())
        WorkBitmap = ScreenShot.copy();
    else
        std::memcpy(WorkBitmap.bits(), ScreenShot.constBits(),
                    static_cast<std::size_t>(ScreenShot.sizeInBytes()));

    QPainter canvas(&WorkBitmap);
    if (HasRect) {
        // The 2-pixel outline lies just outside the rectangle: every pixel
        // inside the red line is recorded, and none of the line is.
        const TRect& r = SelRect;
        const int w = penWidth_;
        const int width = r.Right - r.Left, height = r.Bottom - r.Top;
        canvas.fillRect(r.Left - w, r.Top - w, width + 2 * w, w, penColor_);
        canvas.fillRect(r.Left - w, r.Bottom, width + 2 * w, w, penColor_);
        canvas.fillRect(r.Left - w, r.Top, w, height, penColor_);
        canvas.fillRect(r.Right, r.Top, w, height, penColor_);
    }

    platform::ForeignCursor cursor =
        links_.QueryForeignCursor ? links_.QueryForeignCursor() : platform::ForeignCursor{};
    if (platform::CurrentScreenBackend() == platform::ScreenBackend::Portal && windowHandle()) {
        // Wayland tells a client where the pointer is only over its own
        // windows; this one covers the screen.
        const QPointF pixel =
            LogicalToPixel(QCursor::pos(windowHandle()->screen()), windowHandle()->screen());
        cursor.x = qRound(pixel.x());
        cursor.y = qRound(pixel.y());
    }
    const QPoint mouse(cursor.x - screenArea_.left(), cursor.y - screenArea_.top());

    // The picture is in screen pixels, the texts are as large as the
    // desktop's other texts.
    const qreal scale = devicePixelRatioF();
    // Texts lime on an opaque black box.
    canvas.setFont(font_);
    canvas.setPen(textColor_);
    const QFontMetrics metrics(font_, &WorkBitmap);
    const auto drawLabel = [&](const SelectionLabel& label) {
        canvas.fillRect(
            QRect(label.at, QSize(metrics.horizontalAdvance(label.text), metrics.height())),
            Qt::black);
        canvas.drawText(label.at + QPoint(0, metrics.ascent()), label.text);
    };
    if (!HasRect) drawLabel({HintPosition(mouse, scale), MsgTexts(10)});
    if (HasRect)
        for (const SelectionLabel& label :
             SelectionLabels(SelRect, MsgTexts(9), scale, LabelWords(),
                             [&](const QString& text) { return metrics.horizontalAdvance(text); }))
            drawLabel(label);

    DrawMagnifier(canvas, ScreenShot, mouse,
                  QStringLiteral("%1, %2")
                      .arg(mouse.x() + screenArea_.left())
                      .arg(mouse.y() + screenArea_.top()),
                  qMax(1, qRound(scale)));
    canvas.end();

    update();  // the window takes the whole of WorkBitmap in its next paint
}

void AreaSelector::paintEvent(QPaintEvent*) {
    // Whatever asks for the paint (a redraw, or a window that uncovered the
    // selector), the window shows WorkBitmap, one picture pixel to one
    // device pixel.
    QPainter painter(this);
    if (WorkBitmap.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(WorkBitmap.size()) / ratio), WorkBitmap);
}

}  // namespace velmora
