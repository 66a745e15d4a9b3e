// The keyring as the agent sees it: the reader's line for each reason a read
// found no key, and a watch on the keyring's own signals for the moment it is
// unlocked elsewhere (a login manager, another application's prompt).
#pragma once

#include "store/Vault.h"

#include <QObject>
#include <QString>

namespace quillo {

// The status line for a read that found no key. `launch` is the silent read
// of an authorized build, which asks the reader to authorize when no item is there.
QString keyringLine(const VaultLookup& found, bool launch);

// Whether the keyring still holds a key that a later read may get: locked,
// its prompt dismissed, or the keyring not answering.
bool keyMayBeThere(KeyringProblem problem);

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
