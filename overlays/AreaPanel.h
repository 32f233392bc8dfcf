#pragma once
// The companion panel at the main window's right side: the capture area as
// four numbers the user can change, and the live figures of the running
// recording.

#include <QWidget>
#include <optional>
#include <vector>

#include "platform/x11/WindowList.h"

class QGroupBox;
class QLabel;
class QSpinBox;

namespace velmora {

class AreaPanel : public QWidget {
    Q_OBJECT

  public:
    // A tool window of owner: it stays above it and out of the task bar.
    // Where windows cannot be placed (Wayland) a tool window would open
    // wherever the compositor likes, over the owner's buttons: there the
    // panel is a part of owner instead, hidden until shown.
    explicit AreaPanel(QWidget* owner, bool partOfOwner = false);
    ~AreaPanel() override;

    // The area edits: top, left, width, height. Each writes its value into
    // its region setting when the value it shows changes.
    QSpinBox* topEdit = nullptr;
    QSpinBox* leftEdit = nullptr;
    QSpinBox* widthEdit = nullptr;
    QSpinBox* heightEdit = nullptr;
    // The live figures of the running recording.
    QLabel* figuresLabel = nullptr;

    // The recorded window's title and size in place of the area's rows;
    // nothing: the rows again.
    QLabel* windowLabel = nullptr;
    void ShowCaptureWindow(const std::optional<platform::TopLevelWindow>& window);

    // Enables or disables the four area edits together.
    void SetAreaEditsEnabled(bool enabled);
    // Puts the region (X screen pixels) into the edits, each clamped to its
    // limits, which follow the screen as it is now.
    void ShowRegion(int left, int top, int width, int height);
    // Sets the edits' upper limits from the whole X screen as it is now: the
    // positions to its last pixel, the sizes to its size but never below
    // 5000 x 2500. A value beyond stays the limit until the user lowers it.
    void UpdateLimits();
    // Puts the panel, as a window of its own, right beside the window's
    // frame (the main window's right edge, its top).
    void DockBeside(const QWidget* window);

  signals:
    // The panel was closed by its own close button (or close()), not hidden
    // by the main window's strip.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void CreateControls();
    // The language, and the area and mode of the settings.
    void ShowSettings();
    void ShowValues(int left, int top, int width, int height);
    void TopEdited(int value);
    void LeftEdited(int value);
    void WidthEdited(int value);
    void HeightEdited(int value);

    QGroupBox* figuresGroup = nullptr;
    std::vector<QWidget*> areaRows_;  // the labels, edits and units of the area
};

}  // namespace velmora
