#pragma once
// The seconds before a recording starts: a large translucent number over the
// middle of the area about to be recorded, one less each second from when it
// first shows. The number
// is off the screen a little before the time is up, so the recording's first
// frame never holds it. UI thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QRect>
#include <functional>
#include <memory>

class QEvent;
class QTimer;

namespace velmora {

class CountdownNumber;

class Countdown : public QObject {
  public:
    struct Events {
        // The number shown changed (seconds left, rounded up); also at Start.
        std::function<void(int seconds)> tick;
        // The time is up; the number has left the screen.
        std::function<void()> finished;
    };

    explicit Countdown(Events events, QObject* parent = nullptr);
    ~Countdown() override;

    // Counts seconds (>= 1) down over the middle of area (X screen pixels;
    // empty: the primary screen's middle). Where the compositor stacks
    // windows in the order they appear (Wayland), the number waits for
    // under, a window being shown, to be on the screen, so as to stand above
    // it; at most kWindowWaitMs.
    void Start(int seconds, const QRect& area, QWindow* under = nullptr);
    // Stops counting and takes the number away; nothing follows.
    void Cancel();
    bool Running() const { return running_; }
    // Seconds left, rounded up; 0 when not running.
    int SecondsLeft() const;

    // How long before the end the number leaves the screen: the X server
    // and the windows under it need that long to paint what it covered.
    static constexpr int kLeaveAheadMs = 60;
    static constexpr int kFirstPaintMs = 1500;
    static constexpr int kWindowWaitMs = 2000;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowNumber();
    void BeginCounting();
    void Step();

    Events events_;
    std::unique_ptr<CountdownNumber> number_;
    QTimer* timer_ = nullptr;
    QElapsedTimer clock_;
    qint64 totalMs_ = 0;
    int shown_ = 0;
    QPointer<QWindow> under_;  // waited for before the number shows
    bool running_ = false;
    bool numberUp_ = false;  // the number is shown (it may not be painted yet)
    bool counting_ = false;  // the number is up and the clock runs
};

}  // namespace velmora
