#include "QuilloBar/desktop/WindowActivation.h"

#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

namespace quillo {

void takeActivationToken(const QByteArray& token) {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) {
        qputenv("XDG_ACTIVATION_TOKEN", token);
        return;
    }
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (platform != QLatin1String("xcb") || native == nullptr) {
        return;
    }
    using SetStartupId = void (*)(const char*);
    using SetTime = void (*)(QScreen*, quint32);
    if (auto set = reinterpret_cast<SetStartupId>(
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

} // namespace quillo
