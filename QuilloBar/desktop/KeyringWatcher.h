// A watch on the keyring's own signals for the moment it is unlocked
// elsewhere (a login manager, another application's prompt).
#pragma once

#include <QObject>

namespace quillo {

// Reports any change of a keyring collection (one unlocked or locked, created
// or removed) and a keyring service coming up on the bus. Signals only, no polling.
class KeyringWatcher : public QObject {
    Q_OBJECT

public:
    explicit KeyringWatcher(QObject* parent = nullptr);

signals:
    void changed();

private:
    Q_SLOT void collectionChanged();
};

} // namespace quillo
