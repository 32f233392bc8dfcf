#pragma once
// One monitor's window of the area selector: borderless and full screen on
// its monitor, it shows that monitor's part of the selector's picture, one
// picture pixel to one device pixel at every scale factor, and hands the
// mouse, the keys and its closing to the selector. UI thread only.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

class QEnterEvent;
class QScreen;
class QSinglePointEvent;

namespace velmora {

namespace platform {
class Desktop;
}

// What the window hands on; pointer positions in X screen pixels.
struct SelectorWindowEvents {
    std::function<void(QPoint)> Pressed;
    std::function<void(QPoint)> Moved;
    // Where the pointer came into the window, before it moves.
    std::function<void(QPoint)> Entered;
    std::function<void()> Released;
    // Whether the selector took the key.
    std::function<bool(QKeyEvent*)> KeyPressed;
    // The window manager, or the user through it, closed the window.
    std::function<void()> Closed;
};

// Fills the picture (already made at the whole X screen's size) with the
// screen as it is now, from a desktop whose use has begun (without the
// pointer: the selectors show their own), and ends that use. False when the
// screen cannot be read.
bool GrabScreenPicture(QImage& picture, platform::Desktop& screen);

// The monitors, in X screen pixels, that a picture of the whole screen is
// shown on, each with its Qt screen; the primary screen for all of it when
// none overlaps it.
std::vector<std::pair<QScreen*, QRect>> PictureMonitors(const QRect& picture);

class SelectorWindow : public QWidget {
    Q_OBJECT

  public:
    // picture: the selector's picture of the whole X screen, which outlives
    // the window.
    SelectorWindow(const QImage& picture, SelectorWindowEvents events);

    // Shows the window full screen over the monitor (X screen pixels) of
    // that Qt screen.
    void ShowOn(QScreen* screen, const QRect& monitor);
    QRect Monitor() const { return monitor_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QPoint PixelOf(const QSinglePointEvent* event) const;

    const QImage& picture_;
    SelectorWindowEvents events_;
    QRect monitor_;
};

}  // namespace velmora
