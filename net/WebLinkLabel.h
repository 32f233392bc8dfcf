#pragma once
// A label that is a link: pressing the left mouse button on it opens Url in
// the default web browser at once; releasing the button over it then counts
// as a click. Its text is plain, whatever a server put into it.

#include <QLabel>
#include <QUrl>

namespace velmora {

class TWebLinkLabel : public QLabel {
    Q_OBJECT

  public:
    explicit TWebLinkLabel(QWidget* parent = nullptr);

    QUrl Url;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace velmora
