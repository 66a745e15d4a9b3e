#include "QuilloBar/desktop/TrayHostWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace quillo {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

TrayHostWatcher::TrayHostWatcher(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    auto* services = new QDBusServiceWatcher(watcherService, bus,
                                             QDBusServiceWatcher::WatchForRegistration, this);
    connect(services, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayHostWatcher::checkForHost);
    bus.connect(watcherService, watcherPath, watcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(checkForHost()));
}

// A watcher may come up before any host has registered with it.
void TrayHostWatcher::checkForHost() {
    if (reported_) {
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<QDBusVariant> reply = *done;
        done->deleteLater();
        if (!reported_ && reply.isValid() && reply.value().variant().toBool()) {
            reported_ = true;
            emit hostAppeared();
        }
    });
}

} // namespace quillo
