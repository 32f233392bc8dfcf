#include "shell/OutputSize.h"

#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <cmath>

#include "platform/x11/ScreenBackend.h"

namespace velmora {
namespace {

// In pixels, as the stream will deliver them: Qt's geometry is in logical
// units.
void Take(const QScreen* screen) {
    if (!screen) return platform::SetOutputSize({});
    const QRect logical = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    platform::SetOutputSize({0, 0, static_cast<int>(std::lround(logical.width() * ratio)),
                             static_cast<int>(std::lround(logical.height() * ratio))});
}

void Watch(QScreen* screen) {
    if (!screen) return;
    const auto retake = [screen] {
        if (screen == QGuiApplication::primaryScreen()) Take(screen);
    };
    QObject::connect(screen, &QScreen::geometryChanged, screen, retake);
    QObject::connect(screen, &QScreen::physicalDotsPerInchChanged, screen, retake);
}

}  // namespace

void FollowOutputSize() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return;
    for (QScreen* screen : QGuiApplication::screens()) Watch(screen);
    QObject::connect(app, &QGuiApplication::screenAdded, app, Watch);
    QObject::connect(app, &QGuiApplication::primaryScreenChanged, app, Take);
    Take(QGuiApplication::primaryScreen());
}

}  // namespace velmora
