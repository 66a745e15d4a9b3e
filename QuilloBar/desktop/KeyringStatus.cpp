#include "QuilloBar/desktop/KeyringStatus.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

namespace quillo {
namespace {

const QString secretService = QStringLiteral("org.freedesktop.secrets");

} // namespace

QString keyringLine(const VaultLookup& found, bool launch) {
    const QString keyring = found.keyring.isEmpty()
                                ? QStringLiteral("Your keyring")
                                : QStringLiteral("Keyring \u201C%1\u201D").arg(found.keyring);
    switch (found.problem) {
    case KeyringProblem::none:
    case KeyringProblem::missing:
        return launch ? QStringLiteral("Authorize your connection in Settings")
                      : QStringLiteral("Add your delivery key");
    case KeyringProblem::locked:
        return keyring + QStringLiteral(" is locked \u00B7 choose Unlock\u2026 in Settings");
    case KeyringProblem::dismissed:
        return keyring + QStringLiteral(" stays locked \u00B7 choose Unlock\u2026 to try again");
    case KeyringProblem::noService:
        return QStringLiteral("Could not read your key: No keyring service is running on this "
                              "desktop");
    case KeyringProblem::timedOut:
        return QStringLiteral("Could not read your key: The keyring did not answer in time");
    case KeyringProblem::refused:
        break;
    }
    return QStringLiteral("Could not read your key: ") + found.detail;
}

bool keyMayBeThere(KeyringProblem problem) {
    return problem != KeyringProblem::none && problem != KeyringProblem::missing;
}

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
