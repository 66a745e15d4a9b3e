#include "QuilloBar/desktop/KeyringWatcher.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

namespace quillo {
namespace {

const QString secretService = QStringLiteral("org.freedesktop.secrets");

} // namespace

KeyringWatcher::KeyringWatcher(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // A keyring daemon that was restarted (by D-Bus activation, after a crash)
    // comes up with its collections locked; its own signals follow.
    auto* services = new QDBusServiceWatcher(secretService, bus,
                                             QDBusServiceWatcher::WatchForRegistration, this);
    connect(services, &QDBusServiceWatcher::serviceRegistered, this, &KeyringWatcher::changed);
    bus.connect(secretService, QStringLiteral("/org/freedesktop/secrets"),
                QStringLiteral("org.freedesktop.Secret.Service"),
                QStringLiteral("CollectionChanged"), this, SLOT(collectionChanged()));
    // Some keyrings announce an unlock only as the collection's Locked property.
    bus.connect(secretService, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this, SLOT(collectionChanged()));
}

void KeyringWatcher::collectionChanged() {
    emit changed();
}

} // namespace quillo
