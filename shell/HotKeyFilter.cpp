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
    // The action may open windows or spin an event loop, which must not happen
    // inside Qt's event filter: it runs once the filter has returned. The
    // context object drops it if this filter is gone by then.
    if (press && onPress_)
        QMetaObject::invokeMethod(
            &context_, [this, key = press->virtualKey] { onPress_(key); }, Qt::QueuedConnection);
    return consumed;
}

}  // namespace velmora
