#pragma once
// The window chooser: a frozen picture of the X screen over every monitor,
// as the area selector shows it, on which the window under the pointer is
// outlined with its title and size; a click picks it, Escape (or closing)
// cancels. The windows are those shown when it opened, in their stacking
// order, so the chooser's own windows are never among them. X11 only; UI
// thread only.

#include <QImage>
#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/x11/WindowList.h"

namespace velmora {

class SelectorWindow;

class WindowPicker : public QObject {
    Q_OBJECT

  public:
    // picked hears the window clicked; nothing is said on a cancel.
    explicit WindowPicker(std::function<void(const platform::TopLevelWindow&)> picked);
    ~WindowPicker() override;

    // Lists the windows, takes the picture and shows it. False (nothing
    // shown) when the screen or its windows cannot be read.
    bool ShowPicker();
    void ClosePicker();
    bool IsShowing() const { return showing_; }

    // The window outlined now, if any; and the picture the windows show.
    const std::optional<platform::TopLevelWindow>& Hovered() const { return hovered_; }
    const QImage& Picture() const { return workBitmap_; }
    std::vector<SelectorWindow*> Windows() const;

  private:
    void PointerAt(QPoint at);
    void Redraw();

    std::function<void(const platform::TopLevelWindow&)> picked_;
    std::vector<platform::TopLevelWindow> list_;
    std::optional<platform::TopLevelWindow> hovered_;
    QImage screenShot_, workBitmap_;
    std::vector<std::unique_ptr<SelectorWindow>> windows_;
    bool showing_ = false;
};

}  // namespace velmora
