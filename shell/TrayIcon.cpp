#include "shell/TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>

#include "common/ButtonImages.h"
#include "common/EventLog.h"
#include "common/Language.h"
#include "shell/DesktopTexts.h"

namespace velmora {
namespace {

// The program's icon with a mark in its lower right quarter for the state.
QIcon StateIcon(TrayIcon::State state, int countdown) {
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        // In pixels: the tray scales what it is given.
        QPixmap pixmap = ButtonImageIcon(kImageProgram).pixmap(QSize(side, side), 1.0);
        if (pixmap.isNull()) {
            pixmap = QPixmap(side, side);
            pixmap.fill(Qt::transparent);
        }
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal mark = side * 0.62;
        const QRectF place(side - mark, side - mark, mark, mark);
        switch (state) {
            case TrayIcon::State::Idle:
                break;
            case TrayIcon::State::Recording:
                p.setPen(QPen(Qt::white, side / 16.0));
                p.setBrush(QColor(220, 30, 30));
                p.drawEllipse(place.adjusted(1, 1, -1, -1));
                break;
            case TrayIcon::State::Paused: {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(40, 90, 200));
                const qreal bar = mark / 3.5;
                p.drawRect(QRectF(place.left() + bar * 0.5, place.top(), bar, mark));
                p.drawRect(QRectF(place.right() - bar * 1.5, place.top(), bar, mark));
                break;
            }
            case TrayIcon::State::Saving:
                p.setPen(QPen(Qt::white, side / 16.0));
                p.setBrush(QColor(40, 90, 200));
                p.drawEllipse(place.adjusted(1, 1, -1, -1));
                p.setPen(QPen(Qt::white, side / 10.0, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(place.center().x(), place.top() + mark * 0.25),
                           QPointF(place.center().x(), place.bottom() - mark * 0.3));
                p.drawLine(QPointF(place.center().x() - mark * 0.2, place.center().y()),
                           QPointF(place.center().x(), place.bottom() - mark * 0.25));
                p.drawLine(QPointF(place.center().x() + mark * 0.2, place.center().y()),
                           QPointF(place.center().x(), place.bottom() - mark * 0.25));
                break;
            case TrayIcon::State::Waiting: {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(230, 120, 0));
                p.drawEllipse(place);
                p.setBrush(Qt::white);
                const qreal dot = mark / 8;
                for (int i = -1; i <= 1; ++i)
                    p.drawEllipse(place.center() + QPointF(i * mark * 0.27, 0), dot, dot);
                break;
            }
            case TrayIcon::State::CountingDown: {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(230, 120, 0));
                p.drawEllipse(place);
                QFont font = p.font();
                font.setBold(true);
                font.setPixelSize(static_cast<int>(mark * (countdown > 9 ? 0.55 : 0.8)));
                p.setFont(font);
                p.setPen(Qt::white);
                p.drawText(place, Qt::AlignCenter, QString::number(countdown));
                break;
            }
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

TrayIcon::TrayIcon(Actions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)) {
    menu_ = new QMenu;
    menu_->setObjectName(QStringLiteral("TrayMenu"));
    record_ = menu_->addAction(QString());
    pause_ = menu_->addAction(QString());
    stop_ = menu_->addAction(QString());
    menu_->addSeparator();
    show_ = menu_->addAction(QString());
    exit_ = menu_->addAction(QString());
    // Run from the event loop, as a click on the window's button is: each
    // may open a question, which must not run inside the menu's own event.
    const auto later = [this](QAction* action, std::function<void()>& what) {
        connect(action, &QAction::triggered, this, [this, &what] {
            QTimer::singleShot(0, this, [this, &what] {
                if (what) what();
                Refresh();
            });
        });
    };
    later(record_, actions_.record);
    later(pause_, actions_.pauseOrResume);
    later(stop_, actions_.stop);
    later(show_, actions_.showWindow);
    later(exit_, actions_.exit);
    timer_ = new QTimer(this);
    timer_->setInterval(500);
    connect(timer_, &QTimer::timeout, this, &TrayIcon::Refresh);
    Refresh();
}

TrayIcon::~TrayIcon() {
    delete icon_;
    delete menu_;
}

bool TrayIcon::Show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (!noTrayLogged_) WriteLog(DesktopText(DesktopTextId::NoTray));
        noTrayLogged_ = true;
        return false;
    }
    if (!icon_) {
        icon_ = new QSystemTrayIcon(this);
        icon_->setObjectName(QStringLiteral("TrayIcon"));
        icon_->setContextMenu(menu_);
        connect(icon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // The second click of a double click only shows it.
                    if (reason == QSystemTrayIcon::Trigger && actions_.toggleWindow)
                        actions_.toggleWindow();
                    else if (reason == QSystemTrayIcon::DoubleClick && actions_.showWindow)
                        actions_.showWindow();
                });
    }
    shownKey_ = -1;
    shownTip_.clear();
    Refresh();
    icon_->show();
    timer_->start();
    return true;
}

void TrayIcon::Hide() {
    timer_->stop();
    if (icon_) icon_->hide();
}

bool TrayIcon::Shown() const {
    return icon_ && icon_->isVisible();
}

void TrayIcon::Refresh() {
    const Status status = actions_.status ? actions_.status() : Status{};
    const bool running = status.state == State::Recording || status.state == State::Paused;
    record_->setEnabled(status.state == State::Idle && status.canRecord);
    pause_->setEnabled(running);
    // In the language chosen now; an unchanged text changes nothing.
    record_->setText(MsgTexts(1));
    pause_->setText(MsgTexts(status.state == State::Paused ? 22 : 21));
    stop_->setText(MsgTexts(2));
    show_->setText(DesktopText(DesktopTextId::ShowWindow));
    exit_->setText(DesktopText(DesktopTextId::Exit));
    stop_->setEnabled(running || status.state == State::CountingDown ||
                      status.state == State::Waiting);
    if (!icon_) return;
    QString tip;
    switch (status.state) {
        case State::Idle:
            tip = DesktopText(DesktopTextId::TrayIdle);
            break;
        case State::CountingDown:
            tip = DesktopText(DesktopTextId::TrayCountdown).arg(status.countdown);
            break;
        case State::Waiting:
            tip = MsgTextOr(103, "waiting for the recordings' folder to answer");
            break;
        case State::Recording:
            tip = DesktopText(DesktopTextId::TrayRecording).arg(status.elapsed);
            break;
        case State::Paused:
            tip = DesktopText(DesktopTextId::TrayPaused).arg(status.elapsed);
            break;
        case State::Saving:
            tip = DesktopText(DesktopTextId::TraySaving);
            break;
    }
    tip = QStringLiteral("Velmora - ") + tip;
    if (tip != shownTip_) {
        shownTip_ = tip;
        icon_->setToolTip(tip);
    }
    const int key = static_cast<int>(status.state) * 1000 +
                    (status.state == State::CountingDown ? status.countdown : 0);
    if (key != shownKey_) {
        shownKey_ = key;
        auto found = icons_.find(key);
        if (found == icons_.end())
            found = icons_.emplace(key, StateIcon(status.state, status.countdown)).first;
        icon_->setIcon(found->second);
    }
}

}  // namespace velmora
