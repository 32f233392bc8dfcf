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
#include <thread>
#include <vector>

#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "overlays/Magnifier.h"
#include "overlays/ScreenPixels.h"
#include "overlays/SelectorWindow.h"
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

// The font of the selector's texts: "ARIAL" at 16 points on a 96-dpi screen,
// that is a 21-pixel em, times the screen's scale. fontconfig maps Arial to
// the metric-compatible Liberation Sans where Arial itself is not installed.
QFont SelectionFont(qreal scale) {
    QFont font(QStringLiteral("ARIAL"));
    font.setPixelSize(qMax(1, qRound(21 * scale)));
    return font;
}

}  // namespace

AreaSelector::AreaSelector(AreaSelectorLinks links) : links_(std::move(links)) {
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
    // The desktop's sharing question is still open: its answer opens it.
    if (asking_) return;
    const ScreenRect desktop = GetDesktopRect();
    ScreenShot =
        QImage(std::max(0, desktop.width), std::max(0, desktop.height), QImage::Format_RGB32);
    ScreenShot.fill(Qt::black);

    // The selector of the last opening must not be in the new picture.
    if (showing_) {
        CloseSelector();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    QThread::msleep(10);
    std::shared_ptr<platform::Desktop> screen = platform::OpenDesktop();
    // One picture, without the pointer (the selector shows its own): on
    // Wayland the sharing ends with it.
    if (screen) screen->beginCapture(false);
    if (screen && platform::CurrentScreenBackend() == platform::ScreenBackend::Portal) {
        AwaitScreen(std::move(screen));
        return;
    }
    if (screen) TakeScreenShot(*screen);
    OpenOnPicture();
}

void AreaSelector::AwaitScreen(std::shared_ptr<platform::Desktop> screen) {
    // The desktop may ask the user whether to share the screen, and the user
    // may take minutes: the answer is awaited on a thread of its own, so the
    // program's windows go on running meanwhile.
    asking_ = true;
    std::thread([screen, alive = std::weak_ptr<AreaSelector*>(alive_)] {
        screen->prepareCapture();
        // The picture is taken on the UI thread, by a selector still there.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [screen, alive] {
                const std::shared_ptr<AreaSelector*> selector = alive.lock();
                if (!selector) {
                    screen->endCapture();
                    return;
                }
                (*selector)->asking_ = false;
                (*selector)->TakeScreenShot(*screen);
                (*selector)->OpenOnPicture();
            },
            Qt::QueuedConnection);
    }).detach();
}

void AreaSelector::OpenOnPicture() {
    WorkBitmap = ScreenShot.copy();
    ShowWindows();
    showing_ = true;
    StartSelecting();
    RedrawSelection();
}

void AreaSelector::ShowWindows() {
    // Made anew at each opening: monitors come and go.
    windows_.clear();
    const auto monitors = PictureMonitors(ScreenShot.rect());

    SelectorWindowEvents events;
    // Qt's mouse events count only where no X server tells the exact pixels.
    events.Pressed = [this](QPoint at) {
        if (!nativePointer_) ButtonPressed(PicturePixel(at));
    };
    seenPointer_.reset();
    events.Moved = [this](QPoint at) {
        seenPointer_ = at;
        if (!nativePointer_) PointerMoved(PicturePixel(at));
    };
    events.Entered = [this](QPoint at) {
        seenPointer_ = at;
        RedrawSelection();
    };
    events.Released = [this] {
        if (!nativePointer_) ButtonReleased();
    };
    events.KeyPressed = [this](QKeyEvent* event) { return KeyPressed(event); };
    events.Closed = [this] { CloseSelector(); };

    const QPoint mouse = Mouse();
    SelectorWindow* underMouse = nullptr;
    SelectorWindow* primary = nullptr;
    for (const auto& [screen, monitor] : monitors) {
        auto& window = windows_.emplace_back(std::make_unique<SelectorWindow>(WorkBitmap, events));
        window->ShowOn(screen, monitor);
        if (monitor.contains(mouse)) underMouse = window.get();
        if (screen == QGuiApplication::primaryScreen() || !primary) primary = window.get();
    }
    // The keys go to the monitor the user looks at.
    (underMouse ? underMouse : primary)->activateWindow();
    // The texts follow the scale of the primary monitor's window.
    scale_ = primary->devicePixelRatioF();
    font_ = SelectionFont(scale_);
}

bool AreaSelector::TakeScreenShot(platform::Desktop& screen) {
    return GrabScreenPicture(ScreenShot, screen);
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

void AreaSelector::CloseSelector() {
    if (!showing_) return;
    showing_ = false;
    for (const auto& window : windows_) window->hide();
    StopSelecting();
}

void AreaSelector::StopSelecting() {
    UnregisterHotKeys();
    Dragging = false;
    HasRect = false;
    // The region settings stay as they were: Escape keeps the previous area.
    SelRect = {};
}

bool AreaSelector::IsActive() const {
    return std::any_of(windows_.begin(), windows_.end(),
                       [](const auto& window) { return window->isActiveWindow(); });
}

std::vector<SelectorWindow*> AreaSelector::Windows() const {
    std::vector<SelectorWindow*> all;
    for (const auto& window : windows_) all.push_back(window.get());
    return all;
}

std::vector<QRect> AreaSelector::Monitors() const {
    std::vector<QRect> all;
    for (const auto& window : windows_) all.push_back(window->Monitor());
    return all;
}

// ------------------------------------------------------------ accepting

void AreaSelector::AcceptSelection() {
    UnregisterHotKeys();
    // The picture's pixels are the X screen's: stored as they are.
    const TRegion region = RegionOf(RaisedToSmallest(SelRect, ScreenShot.size()));
    Settings.RegionTopPos = region.Top;
    Settings.RegionHeightPos = region.Height;
    Settings.RegionLeftPos = region.Left;
    Settings.RegionWidthPos = region.Width;
    // Each edit clamps to its limits and writes what it shows back.
    if (links_.Panel)
        links_.Panel->ShowRegion(Settings.RegionLeftPos, Settings.RegionTopPos,
                                 Settings.RegionWidthPos, Settings.RegionHeightPos);
    if (links_.Accepted) links_.Accepted();
    if (links_.SaveSettings) links_.SaveSettings();
    CloseSelector();
}

// ------------------------------------------------------------ mouse and keys

QPoint AreaSelector::PicturePixel(QPoint screenPixel) const {
    return {std::clamp(screenPixel.x(), 0, std::max(0, ScreenShot.width() - 1)),
            std::clamp(screenPixel.y(), 0, std::max(0, ScreenShot.height() - 1))};
}

bool AreaSelector::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !showing_) return false;
    const auto event =
        platform::PointerEventOf(static_cast<const xcb_generic_event_t*>(message), xinputOpcode_);
    if (!event || std::none_of(windows_.begin(), windows_.end(), [&](const auto& window) {
            return window->internalWinId() == event->window;
        }))
        return false;
    nativePointer_ = true;
    // A drag goes on over the other monitors' windows: the positions are the
    // root window's.
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

void AreaSelector::ButtonPressed(QPoint at) {
    Dragging = true;
    HasRect = false;
    Anchor = at;
    SelRect = RaisedToSmallest({at.x(), at.y(), at.x(), at.y()}, ScreenShot.size());
}

void AreaSelector::PointerMoved(QPoint at) {
    if (Dragging) {
        HasRect = true;
        // Shown as Enter would store it, raised to the smallest size.
        SelRect = RaisedToSmallest(DragRect(Anchor, at), ScreenShot.size());
    }
    RedrawSelection();
}

void AreaSelector::ButtonReleased() {
    Dragging = false;
    RedrawSelection();
}

bool AreaSelector::KeyPressed(QKeyEvent* event) {
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
            return true;
        case Qt::Key_Escape:
            CloseSelector();
            return true;
        default:
            return false;
    }
    if (!HasRect || Dragging) return true;
    SelRect = MovedWithin(SelRect, dx, dy, ScreenShot.size());
    RedrawSelection();
    return true;
}

// ------------------------------------------------------------ drawing

SelectionWords AreaSelector::LabelWords() {
    SelectionWords words;
    for (auto [n, word] : {std::pair{14, &words.left}, std::pair{15, &words.top},
                           std::pair{16, &words.width}, std::pair{17, &words.height}})
        if (const QString text = MsgTexts(n); !text.isEmpty()) *word = text;
    return words;
}

QPoint AreaSelector::Mouse() const {
    if (platform::CurrentScreenBackend() == platform::ScreenBackend::Portal) {
        // Wayland tells a client where the pointer is only over its own
        // windows; these cover the screen. The toolkit's own idea of it is
        // stale until the pointer moves, so what they saw comes first.
        if (seenPointer_) return *seenPointer_;
        const QPoint logical = QCursor::pos();
        const QPointF pixel = LogicalToPixel(logical, QGuiApplication::screenAt(logical));
        return {qRound(pixel.x()), qRound(pixel.y())};
    }
    const platform::ForeignCursor cursor =
        links_.QueryForeignCursor ? links_.QueryForeignCursor() : platform::ForeignCursor{};
    return {cursor.x, cursor.y};
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

    const QPoint mouse = Mouse();
    const std::vector<QRect> monitors = Monitors();
    const QRect monitor = monitors.empty() ? ScreenShot.rect() : MonitorAt(mouse, monitors);
    // The picture is in screen pixels, the texts are as large as the
    // desktop's other texts.
    const int magnifierScale = qMax(1, qRound(scale_));

    // Texts lime on an opaque black box.
    canvas.setFont(font_);
    canvas.setPen(textColor_);
    const QFontMetrics metrics(font_, &WorkBitmap);
    LabelRoom room;
    room.monitors = monitors;
    room.widthOf = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    room.lineHeight = metrics.height();
    room.scale = scale_;
    room.keepClear = MagnifierRect(mouse, monitor, magnifierScale);
    const auto drawLabel = [&](const SelectionLabel& label) {
        canvas.fillRect(
            QRect(label.at, QSize(metrics.horizontalAdvance(label.text), metrics.height())),
            Qt::black);
        canvas.drawText(label.at + QPoint(0, metrics.ascent()), label.text);
    };
    if (HasRect)
        for (const SelectionLabel& label :
             SelectionLabels(SelRect, MsgTexts(9), LabelWords(), room))
            drawLabel(label);
    else
        drawLabel(HintLabel(mouse, MsgTexts(10), room));

    DrawMagnifier(canvas, ScreenShot, mouse, monitor,
                  QStringLiteral("%1, %2").arg(mouse.x()).arg(mouse.y()), magnifierScale);
    canvas.end();

    // The windows take their parts of WorkBitmap in their next paints.
    for (const auto& window : windows_) window->update();
}

}  // namespace velmora
