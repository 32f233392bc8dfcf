// Which monitor Full Screen records: a menu on its button where there is
// more than one, kept in the settings by RandR's name for the monitor.

#include <QActionGroup>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QToolButton>

#include "common/EventLog.h"
#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/AreaPanel.h"
#include "shell/MainWindow.h"

namespace velmora {
namespace {

constexpr int kMonitorArrowWidth = 14;

QString SizeText(const ScreenRect& r) {
    return QStringLiteral("%1x%2").arg(r.width).arg(r.height);
}

QString MonitorList(const std::vector<platform::Monitor>& monitors) {
    QStringList names;
    for (const platform::Monitor& m : monitors)
        names << QStringLiteral("%1 (%2)").arg(QString::fromStdString(m.name), SizeText(m.rect));
    names << QStringLiteral("all");
    return names.join(QStringLiteral(", "));
}

}  // namespace

QToolButton* MainWindow::CreateMonitorButton() {
    // A flat arrow of its own at Full Screen's right edge, so that the
    // button keeps its look and the mode's mark shows through both.
    auto* arrow = new QToolButton(fullScreenButton->parentWidget());
    arrow->setObjectName(QStringLiteral("monitorButton"));
    arrow->setAutoRaise(true);
    arrow->setArrowType(Qt::DownArrow);
    arrow->setPopupMode(QToolButton::InstantPopup);
    arrow->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    arrow->setToolTip(QStringLiteral("Choose the monitor Full Screen records"));
    const QRect full = fullScreenButton->geometry();
    arrow->setGeometry(full.right() - kMonitorArrowWidth + 1, full.top(), kMonitorArrowWidth,
                       full.height());
    arrow->hide();
    fullWidth_ = full.width();
    monitorMenu_ = new QMenu(arrow);
    monitorMenu_->setObjectName(QStringLiteral("monitorMenu"));
    arrow->setMenu(monitorMenu_);
    connect(monitorMenu_, &QMenu::aboutToShow, this, &MainWindow::FillMonitorMenu);
    // Monitors plugged in or out while the program runs.
    for (auto signal : {&QGuiApplication::screenAdded, &QGuiApplication::screenRemoved})
        connect(qApp, signal, this, [this] { ShowMonitorChoice(); });
    return arrow;
}

void MainWindow::ShowMonitorChoice() {
    const bool several = GetMonitors().size() > 1;
    qobject_cast<QWidget*>(monitorMenu_->parent())->setVisible(several);
    fullScreenButton->resize(several ? fullWidth_ - kMonitorArrowWidth : fullWidth_,
                             fullScreenButton->height());
}

void MainWindow::FillMonitorMenu() {
    monitorMenu_->clear();
    auto* group = new QActionGroup(monitorMenu_);
    const std::vector<platform::Monitor> monitors = GetMonitors();
    // The stored one, or the one Full Screen falls back on where it is gone.
    std::string current = Settings.FullScreenMonitor;
    if (current.empty() || !GetFullScreenRect(current)) {
        const ScreenRect primary = GetPrimaryScreenRect();
        for (const platform::Monitor& m : monitors)
            if (m.rect == primary) current = m.name;
    }
    const auto add = [&](const QString& text, const std::string& monitor, bool checked) {
        QAction* action = monitorMenu_->addAction(text);
        action->setCheckable(true);
        action->setChecked(checked);
        action->setData(QString::fromStdString(monitor));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, monitor] { MonitorChosen(monitor); });
    };
    for (const platform::Monitor& m : monitors)
        add(QStringLiteral("%1 (%2)").arg(QString::fromStdString(m.name), SizeText(m.rect)), m.name,
            m.name == current);
    monitorMenu_->addSeparator();
    add(MsgTexts(80).arg(SizeText(GetDesktopRect())), "all", current == "all");
}

void MainWindow::MonitorChosen(const std::string& monitor) {
    Settings.FullScreenMonitor = monitor;
    Settings.TypeCapture = 1;
    ShowCaptureMode();
    ShowFullScreenArea();
    SaveSettings();
}

QString MainWindow::MissingMonitorText(const std::string& monitor, bool run) const {
    if (monitor.empty() || GetFullScreenRect(monitor)) return {};
    const QString list = MonitorList(GetMonitors());
    return run ? LogTexts(60).arg(QString::fromStdString(monitor), list)
               : LogTexts(61).arg(QString::fromStdString(monitor), list);
}

}  // namespace velmora
