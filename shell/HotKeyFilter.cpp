#include "shell/HotKeyFilter.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include "platform/x11/HotKeys.h"

namespace velmora {

HotKeyFilter::HotKeyFilter(std::function<void(int)> onPress) : onPress_(std::move(onPress)) {
    xcb_connection_t* connection = nullptr;
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        connection = x11->connection();
    keys_ = std::make_unique<platform::HotKeys>(connection);
    if (connection) QCoreApplication::instance()->installNativeEventFilter(this);
}

HotKeyFilter::~HotKeyFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    keys_->UnregisterAll();
}

bool HotKeyFilter::Register(int id, int virtualKey) {
    return keys_->Register(id, virtualKey);
}

bool HotKeyFilter::Unregister(int id) {
    return keys_->Unregister(id);
}

bool HotKeyFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    bool consumed = false;
    const auto press = keys_->Filter(static_cast<const xcb_generic_event_t*>(message), &consumed);
    if (press && onPress_) onPress_(press->virtualKey);
    return consumed;
}

}  // namespace velmora
