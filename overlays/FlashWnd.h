#pragma once
// The frame that marks the recorded area on the desktop: four red corner
// brackets and a caption above the top-left corner, in a shaped window that
// lets everything else through. Used from the UI thread only.

#include <QFont>
#include <QRegion>
#include <QString>
#include <QWidget>

namespace velmora {

class TFlashingWnd : public QWidget {
    Q_OBJECT
  public:
    explicit TFlashingWnd(QWidget* owner = nullptr);

    // Moves and shapes the window around the rectangle (screen pixels).
    void SetupRegion(int x, int y, int width, int height, bool cornersOnly, const QString& text);
    // Draws the caption and the red frame.
    void PaintFrame(const QString& text);
    // Shows the window without activating it and puts it above the others.
    void ShowOnTop();
    // Brings the window back when a minimise took it along.
    void Restore();

    QRect FrameRect;  // window coordinates of the red fill
    QRegion FRegion;  // the shape last given

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QFont captionFont() const;
    QString caption_;
};

}  // namespace velmora
