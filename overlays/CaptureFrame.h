#pragma once
// The frame that marks the recorded area on the desktop: four red corner
// brackets and a caption above the top-left corner, in a shaped window that
// lets everything else through. Used from the UI thread only.

#include <QFont>
#include <QPoint>
#include <QRegion>
#include <QString>
#include <QWidget>

namespace velmora {

class CaptureFrame : public QWidget {
    Q_OBJECT
  public:
    explicit CaptureFrame(QWidget* owner = nullptr);

    // Moves and shapes the window around the rectangle (X screen pixels, at
    // any scale factor).
    void SetupRegion(int x, int y, int width, int height, bool cornersOnly, const QString& text);
    // Draws the caption and the red frame.
    void PaintFrame(const QString& text);
    // Shows the window without activating it and puts it above the others.
    // Not on Wayland, where no window can be placed at screen positions:
    // there it stays hidden and says so once.
    void ShowOnTop();
    // Brings the window back when a minimise took it along.
    void Restore();

    // Both in X pixels, relative to the frame's top-left corner (the
    // recorded rectangle's left - 4, top - caption height - 4).
    QRect FrameRect;  // the red fill
    QRegion FRegion;  // the shape last given

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QFont captionFont() const;
    void applyShape();

    QString caption_;
    QSize captionSize_;  // X pixels
    // Where the frame's top-left corner lies in the window, in X pixels: Qt
    // can put a window only on some pixels at fractional scale factors.
    QPoint inset_;
    qreal ratio_ = 1.0;  // the device pixel ratio the pixels above were made for
};

}  // namespace velmora
