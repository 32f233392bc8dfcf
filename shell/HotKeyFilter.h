#pragma once
// Global hot keys for a Qt program: grabs keys on the X connection Qt opened
// and hands their presses to a callback on the UI thread. Without an X11
// display (offscreen, Wayland) every registration fails quietly.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <functional>
#include <memory>

namespace velmora {
namespace platform {
class HotKeys;
}

class HotKeyFilter : public QAbstractNativeEventFilter {
  public:
    // onPress receives the virtual-key code of each press of a registered key,
    // from the event loop after the X event has been filtered.
    explicit HotKeyFilter(std::function<void(int virtualKey)> onPress);
    ~HotKeyFilter() override;

    bool Register(int id, int virtualKey);
    bool Unregister(int id);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::function<void(int)> onPress_;
    QObject context_;  // pending presses go with it
    std::unique_ptr<platform::HotKeys> keys_;
};

}  // namespace velmora
