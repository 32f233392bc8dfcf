#pragma once
// The main window's status line: one line of text at the window's fixed
// width. A text too long for it keeps what happened and why, and gives up
// the middle; the whole text is in its tooltip.

#include <QFontMetrics>
#include <QLabel>
#include <QString>

namespace velmora {

// The text as it fits into width pixels. A text that fits is shown as it is.
// Else the reason (after the last ": ") stays whole, after as much of the
// beginning as fits (what happened, up to the first ". " or ": ", before the
// file or folder between); without a reason that fits, the end of the text.
// A state with a hint after " - " and no reason keeps its beginning.
QString ElidedStatusText(const QString& text, const QFontMetrics& metrics, int width);

// A label that shows its text as ElidedStatusText to its own width; text()
// keeps all of it. Plain text on one line.
class StatusLabel : public QLabel {
  public:
    explicit StatusLabel(QWidget* parent = nullptr);

    // What the label shows now.
    QString ShownText() const;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velmora
