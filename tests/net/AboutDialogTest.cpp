// The about box: what it shows, and which clicks close it.

#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>

#include "net/AboutDialog.h"
#include "net/WebLinkLabel.h"
#include "tests/net/OpenedPages.h"
#include "tests/support/WindowTestSupport.h"

using namespace velmora;
using test::LeftClick;

namespace {

TEST(AboutDialog, ShowsNameVersionAndSiteAndClosesOnAClickOutsideTheLinkPanel) {
    test::OpenedPages pages;
    const QUrl site(QStringLiteral("http://www.velmora.example"));
    AboutDialog about(site);
    EXPECT_EQ(TheAboutDialog, &about);
    about.show();
    EXPECT_EQ(about.ProductName->text(), QStringLiteral("Velmora"));
    EXPECT_EQ(about.Version->text(), QStringLiteral("Version:"));
    EXPECT_EQ(about.VersionLabel->text(), QStringLiteral("1.0.4"));
    EXPECT_EQ(about.WebSiteLink->text(), QStringLiteral("www.velmora.example"));

    // The link and its panel keep the box open; the link opens the site.
    LeftClick(about.WebSiteLink);
    LeftClick(about.linkPanel);
    EXPECT_TRUE(about.isVisible());
    EXPECT_EQ(pages.urls, QList<QUrl>{site});

    // Anywhere else, labels included, closes it.
    LeftClick(about.ProductName);
    EXPECT_FALSE(about.isVisible());
    about.show();
    LeftClick(&about);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(pages.urls.size(), 1);
}

TEST(AboutDialog, ABuildWithoutAServerShowsNoLink) {
    AboutDialog about{QUrl()};
    about.show();
    EXPECT_FALSE(about.linkPanel->isVisible());
    EXPECT_TRUE(about.VersionLabel->isVisible());
}

}  // namespace
