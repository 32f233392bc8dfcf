#pragma once
// The about box: the program's name, its version and a link to the web site.
// The main window's about button shows it modally; a left click anywhere on
// it closes it, except on the panel that holds the link.

#include <QDialog>
#include <QUrl>

class QFrame;
class QLabel;

namespace velmora {

class TWebLinkLabel;

class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    // site: the home page the link opens.
    explicit AboutDialog(const QUrl& site, QWidget* parent = nullptr);
    ~AboutDialog() override;

    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;       // "Version:"
    QLabel* VersionLabel = nullptr;  // AppVersion, filled on every show
    QFrame* linkPanel = nullptr;
    TWebLinkLabel* WebSiteLink = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

// The program's about box while it exists (set by its constructor).
extern AboutDialog* TheAboutDialog;

}  // namespace velmora
