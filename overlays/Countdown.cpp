#include "overlays/Countdown.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <utility>

#include "overlays/ScreenPixels.h"

namespace velmora {

// A disc with the number in it, above every window, taking no clicks and no
// focus. The disc is the window's shape, so it needs no compositor to leave
// the rest of the area visible; with one it is translucent too.
class CountdownNumber : public QWidget {
  public:
    CountdownNumber()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                               Qt::X11BypassWindowManagerHint) {
        setObjectName(QStringLiteral("CountdownNumber"));
        setWindowTitle(QStringLiteral("Velmora countdown"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        if (WindowsPlaceable()) {
            setWindowOpacity(0.8);
        } else {
            // A Wayland compositor takes neither a window's opacity nor its
            // shape, but blends what the window paints: the disc is painted
            // translucent on a clear window.
            setAttribute(Qt::WA_TranslucentBackground);
        }
    }

    void Place(const QRect& area) {
        QScreen* screen =
            area.isEmpty() ? QGuiApplication::primaryScreen() : ScreenAtPixel(area.center());
        if (!screen) return;
        QRect logical = area.isEmpty() ? screen->geometry()
                                       : LogicalRectCovering(area, screen) & screen->geometry();
        if (logical.isEmpty()) logical = screen->geometry();
        // Large, yet leaving most of a small area visible.
        const int side = std::clamp(std::min(logical.width(), logical.height()) * 3 / 5, 64, 320);
        const QRect disc(logical.center() - QPoint(side / 2, side / 2), QSize(side, side));
        if (WindowsPlaceable()) {
            setGeometry(disc);
            setMask(QRegion(rect(), QRegion::Ellipse));
        } else {
            // The compositor places it: a window of one fixed size is a
            // dialog to tiling ones, which float it in the middle of the
            // output instead of giving it a tile of the screen.
            setFixedSize(disc.size());
        }
    }

    // Called once after the number's first painting.
    std::function<void()> painted;

    void Show(int seconds) {
        seconds_ = seconds;
        update();
        if (!isVisible()) show();
        raise();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const int ring = std::max(3, width() / 24);
        if (WindowsPlaceable()) {
            painter.fillRect(rect(), QColor(24, 24, 24));  // the mask makes it a disc
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(rect(), Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(24, 24, 24, 204));
            painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
            painter.setBrush(Qt::NoBrush);
        }
        painter.setPen(QPen(QColor(220, 40, 40), ring));
        painter.drawEllipse(QRectF(rect()).adjusted(2, 2, -2, -2));
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(height() * 3 / 5);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(seconds_));
        // Painted is not shown yet: a Wayland compositor puts the buffer on
        // the screen at its next frame, which on a busy desktop comes a
        // good while later. The window's next update request is delivered
        // when the compositor has presented this one.
        if (painted && windowHandle()) {
            awaitingFrame_ = true;
            windowHandle()->installEventFilter(this);
            windowHandle()->requestUpdate();
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (awaitingFrame_ && event->type() == QEvent::UpdateRequest &&
            watched == windowHandle()) {
            awaitingFrame_ = false;
            watched->removeEventFilter(this);
            if (painted) std::exchange(painted, nullptr)();
        }
        return QWidget::eventFilter(watched, event);
    }

  private:
    int seconds_ = 0;
    bool awaitingFrame_ = false;
};

Countdown::Countdown(Events events, QObject* parent)
    : QObject(parent), events_(std::move(events)), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { Step(); });
}

Countdown::~Countdown() = default;

void Countdown::Start(int seconds, const QRect& area, QWindow* under) {
    if (!number_) number_ = std::make_unique<CountdownNumber>();
    number_->Place(area);
    totalMs_ = 1000 * qint64{std::max(1, seconds)};
    running_ = true;
    numberUp_ = false;
    counting_ = false;
    shown_ = std::max(1, seconds);
    if (events_.tick) events_.tick(shown_);
    if (under && !under->isExposed() && !WindowsPlaceable()) {
        under_ = under;
        under->installEventFilter(this);
        timer_->start(kWindowWaitMs);
        return;
    }
    ShowNumber();
}

bool Countdown::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == under_ && under_->isExposed() &&
        running_ && !numberUp_)
        ShowNumber();
    return QObject::eventFilter(watched, event);
}

void Countdown::ShowNumber() {
    if (under_) under_->removeEventFilter(this);
    under_ = nullptr;
    numberUp_ = true;
    // The seconds count from when the number is on the screen: making the
    // window and its first painting take a while on a busy desktop. A
    // screen that never paints it (no compositor answer) waits no longer
    // than kFirstPaintMs.
    number_->painted = [this] { BeginCounting(); };
    number_->Show(shown_);
    timer_->start(kFirstPaintMs);
}

void Countdown::BeginCounting() {
    if (!running_ || counting_) return;
    counting_ = true;
    clock_.start();
    Step();
}

void Countdown::Cancel() {
    running_ = false;
    if (under_) under_->removeEventFilter(this);
    under_ = nullptr;
    if (number_) number_->painted = nullptr;
    timer_->stop();
    if (number_) number_->hide();
}

int Countdown::SecondsLeft() const {
    if (!running_) return 0;
    if (!counting_) return shown_;
    const qint64 left = std::max<qint64>(0, totalMs_ - clock_.elapsed());
    return static_cast<int>((left + 999) / 1000);
}

void Countdown::Step() {
    if (!running_) return;
    if (!numberUp_) return ShowNumber();
    if (!counting_) return BeginCounting();
    const qint64 left = totalMs_ - clock_.elapsed();
    if (left <= 0) {
        running_ = false;
        number_->hide();
        if (events_.finished) events_.finished();
        return;
    }
    if (left <= kLeaveAheadMs) {
        number_->hide();
        timer_->start(static_cast<int>(left));
        return;
    }
    const int seconds = SecondsLeft();
    if (seconds != shown_) {
        shown_ = seconds;
        number_->Show(seconds);
        if (events_.tick) events_.tick(seconds);
    }
    // Next: the number's change, or the moment the number leaves.
    const qint64 nextChange = left - 1000 * (seconds - 1);
    const qint64 toLeave = left - kLeaveAheadMs;
    timer_->start(static_cast<int>(std::max<qint64>(1, std::min(nextChange, toLeave))));
}

}  // namespace velmora
