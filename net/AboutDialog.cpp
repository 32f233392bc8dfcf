#include "net/AboutDialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "common/ButtonImages.h"
#include "common/Language.h"
#include "common/Settings.h"
#include "net/WebLinkLabel.h"

namespace velmora {
namespace {

// Presses on the link's panel stay there: they must not close the box.
class LinkPanel : public QFrame {
  public:
    using QFrame::QFrame;

  protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
};

}  // namespace

AboutDialog* TheAboutDialog = nullptr;

AboutDialog::AboutDialog(const QUrl& site, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    TheAboutDialog = this;
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("About"));

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(ButtonImageIcon(kImageProgram).pixmap(64, 64));
    ProductName = new QLabel(QStringLiteral("Velmora"), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont big = ProductName->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    ProductName->setFont(big);
    Version = new QLabel(QStringLiteral("Version:"), this);
    Version->setObjectName(QStringLiteral("Version"));
    VersionLabel = new QLabel(this);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    auto* description =
        new QLabel(QStringLiteral("Screen recorder for the Linux desktop (X11 and Wayland)"), this);
    description->setObjectName(QStringLiteral("Comments"));

    linkPanel = new LinkPanel(this);
    linkPanel->setObjectName(QStringLiteral("linkPanel"));
    linkPanel->setFrameShape(QFrame::StyledPanel);
    WebSiteLink = new TWebLinkLabel(linkPanel);
    WebSiteLink->setObjectName(QStringLiteral("WebSiteLink"));
    WebSiteLink->Url = site;
    WebSiteLink->setText(site.host());
    QPalette palette = WebSiteLink->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    WebSiteLink->setPalette(palette);
    auto* panelLayout = new QHBoxLayout(linkPanel);
    panelLayout->addWidget(WebSiteLink, 0, Qt::AlignCenter);
    // A build without a vendor server has no site to link to.
    if (site.isEmpty()) linkPanel->hide();

    auto* version = new QHBoxLayout;
    version->addWidget(Version);
    version->addWidget(VersionLabel);
    version->addStretch();
    auto* texts = new QVBoxLayout;
    texts->addWidget(ProductName);
    texts->addLayout(version);
    texts->addWidget(description);
    auto* top = new QHBoxLayout;
    top->addWidget(ProgramIcon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(linkPanel);

    // Translated by every ApplyLanguage from here on, and now.
    SetLanguageWindow(LanguageWindow::About, this, {{"Label1", Version}, {"Label2", description}});
    ApplyLanguage();
}

AboutDialog::~AboutDialog() {
    SetLanguageWindow(LanguageWindow::About, nullptr);
    if (TheAboutDialog == this) TheAboutDialog = nullptr;
}

void AboutDialog::showEvent(QShowEvent* event) {
    VersionLabel->setText(QString::fromLatin1(AppVersion));
    QDialog::showEvent(event);
}

void AboutDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

}  // namespace velmora
