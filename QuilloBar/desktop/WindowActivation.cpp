#include "QuilloBar/desktop/WindowActivation.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <memory>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>
#include <xcb/xcb.h>
#include <xdg-activation-v1-client-protocol.h>

namespace quillo {
namespace {

template <typename Handle, void (*release)(Handle*)> struct Release {
    void operator()(Handle* handle) const { release(handle); }
};
template <typename Handle, void (*release)(Handle*)>
using Owned = std::unique_ptr<Handle, Release<Handle, release>>;

void releaseWrapper(wl_display* wrapper) {
    wl_proxy_wrapper_destroy(wrapper);
}

struct TokenRequest {
    Owned<xdg_activation_v1, xdg_activation_v1_destroy> activation;
    QByteArray token;
    bool done = false;
};

void announced(void* data, wl_registry* registry, uint32_t name, const char* interface,
               uint32_t /*version*/) {
    auto* request = static_cast<TokenRequest*>(data);
    if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 && !request->activation) {
        request->activation.reset(static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1)));
    }
}

void withdrawn(void* /*data*/, wl_registry* /*registry*/, uint32_t /*name*/) {}

const wl_registry_listener registryListener{announced, withdrawn};

void tokenDone(void* data, xdg_activation_token_v1* /*token*/, const char* token) {
    auto* request = static_cast<TokenRequest*>(data);
    request->token = token;
    request->done = true;
}

const xdg_activation_token_v1_listener tokenListener{tokenDone};

// Tells the launcher that the launch with this startup id is over, as a
// window that maps for it would.
void endStartupFeedback(const QByteArray& startupId) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr || startupId.isEmpty()) {
        return;
    }
    auto* connection =
        static_cast<xcb_connection_t*>(native->nativeResourceForIntegration("connection"));
    if (connection == nullptr) {
        return;
    }
    const auto atom = [connection](const char* name) {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection,
                                  xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // The startup-notification message, NUL included, in pieces of 20 bytes:
    // the first under _NET_STARTUP_INFO_BEGIN, the rest under _NET_STARTUP_INFO.
    const QByteArray message = "remove: ID=" + startupId;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 8;
    event.window = root;
    event.type = atom("_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t following = atom("_NET_STARTUP_INFO");
    const qsizetype length = message.size() + 1;
    for (qsizetype sent = 0; sent < length; sent += 20) {
        std::memset(event.data.data8, 0, sizeof event.data.data8);
        std::memcpy(event.data.data8, message.constData() + sent,
                    static_cast<size_t>(std::min<qsizetype>(length - sent, 20)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
        event.type = following;
    }
    xcb_flush(connection);
}

bool activateOnWayland(const QWindow& window, const QByteArray& launchToken) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr || window.handle() == nullptr) {
        return false;
    }
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    auto* surface = static_cast<wl_surface*>(
        native->nativeResourceForWindow("surface", const_cast<QWindow*>(&window)));
    if (display == nullptr || surface == nullptr) {
        return false;
    }
    // A queue of our own, so that Qt's event thread dispatches none of it.
    Owned<wl_event_queue, wl_event_queue_destroy> queue(wl_display_create_queue(display));
    Owned<wl_display, releaseWrapper> wrapper(
        static_cast<wl_display*>(wl_proxy_create_wrapper(display)));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper.get()), queue.get());
    Owned<wl_registry, wl_registry_destroy> registry(wl_display_get_registry(wrapper.get()));
    TokenRequest request;
    wl_registry_add_listener(registry.get(), &registryListener, &request);
    if (wl_display_roundtrip_queue(display, queue.get()) < 0 || !request.activation) {
        return false;
    }
    request.token = launchToken;
    if (request.token.isEmpty()) {
        // No serial, as no input asked for it: the compositor weighs the rest.
        Owned<xdg_activation_token_v1, xdg_activation_token_v1_destroy> token(
            xdg_activation_v1_get_activation_token(request.activation.get()));
        xdg_activation_token_v1_add_listener(token.get(), &tokenListener, &request);
        xdg_activation_token_v1_set_app_id(token.get(),
                                           QGuiApplication::desktopFileName().toUtf8().constData());
        xdg_activation_token_v1_set_surface(token.get(), surface);
        xdg_activation_token_v1_commit(token.get());
        while (!request.done && wl_display_dispatch_queue(display, queue.get()) >= 0) {
        }
    }
    if (request.token.isEmpty()) {
        return false;
    }
    xdg_activation_v1_activate(request.activation.get(), request.token.constData(), surface);
    return wl_display_roundtrip_queue(display, queue.get()) >= 0;
}

} // namespace

void takeActivationToken(const QByteArray& token, bool windowShown) {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || native == nullptr) {
        return;
    }
    using SetStartupId = void (*)(const char*);
    using SetTime = void (*)(QScreen*, quint32);
    if (windowShown) {
        endStartupFeedback(token);
    } else if (auto set = reinterpret_cast<SetStartupId>(
                   native->nativeResourceFunctionForIntegration("setstartupid"))) {
        set(token.constData());
    }
    const qsizetype mark = token.lastIndexOf("_TIME");
    bool valid = false;
    const quint32 time = mark < 0 ? 0 : token.mid(mark + 5).toUInt(&valid);
    if (!valid || time == 0) {
        return;
    }
    for (const char* name : {"setapptime", "setappusertime"}) {
        if (auto set = reinterpret_cast<SetTime>(native->nativeResourceFunctionForScreen(name))) {
            set(QGuiApplication::primaryScreen(), time);
        }
    }
}

// The compositor ignores an activation of a surface it does not show yet:
// the window is looked at every 50 ms, for five seconds at most.
void activateWhenShown(QWidget& window, const QByteArray& launchToken) {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return;
    }
    auto* timer = new QTimer(&window);
    timer->setInterval(50);
    const auto check = [timer, &window, launchToken, deadline = QDeadlineTimer(5000)] {
        const QWindow* handle = window.windowHandle();
        if (handle != nullptr && handle->isExposed()) {
            activateOnWayland(*handle, launchToken);
        } else if (!deadline.hasExpired()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
    };
    QObject::connect(timer, &QTimer::timeout, &window, check);
    timer->start();
    check();
}

} // namespace quillo
