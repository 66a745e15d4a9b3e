// The agent's conversation with the keyring: the silent read at launch,
// "Unlock…", saving typed secrets, asking whether a key is stored, and
// following a keyring unlocked elsewhere. It holds the secrets it read or
// saved; every call runs off the main thread, since the keyring may prompt or
// not answer at all, and comes back here by value.
#pragma once

#include "store/Vault.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace quillo {

class KeyringWatcher;

class Keyring : public QObject {
    Q_OBJECT

public:
    // What a save kept of what was typed: the key first, a webhook only once the key is.
    struct Saved {
        bool key = false;
        bool webhook = false;
        std::optional<QString> failure;
    };

    explicit Keyring(QObject* parent = nullptr);

    [[nodiscard]] const std::optional<QString>& deliveryKey() const { return deliveryKey_; }
    [[nodiscard]] const std::optional<QString>& webhook() const { return webhook_; }

    // A read, an unlock or a save is out; a second one would open a second prompt.
    [[nodiscard]] bool working() const { return working_; }
    // Any call, a probe included, has not come back.
    [[nodiscard]] bool hasCallsOut() const { return callsOut_ > 0; }
    // The keyring's signals are followed since a read found it locked or silent.
    [[nodiscard]] bool following() const { return watcher_ != nullptr; }

    // Reads both secrets without a prompt; `readFinished` follows.
    void readSilently();
    // Reads both secrets, through the keyring's own unlock prompt when locked.
    void unlock();
    // Whether a key is stored, without reading it and without a prompt. The
    // answer is dropped when a key is held or another call began meanwhile.
    void probe(std::function<void(const VaultLookup&)> answered);
    // Stores what was typed (an empty text is left alone) and holds what was kept.
    void save(const QString& key, const QString& webhook, std::function<void(const Saved&)> done);
    // The keyring may have changed (its signal, or a check that found no key):
    // read again unless a key is held; a call out reads again when it is back.
    void recheck();

    // The status line for a read that found no key. `launch` is the silent
    // read of an authorized build, which asks the reader to authorize when no item is there.
    static QString line(const VaultLookup& found, bool launch);
    static QString connectedLine(bool automatic);
    // Whether the keyring still holds a key that a later read may get: locked,
    // its prompt dismissed, or the keyring not answering.
    static bool keyMayBeThere(KeyringProblem problem);

signals:
    // What a read found about the key; `interactive` for "Unlock…".
    void readFinished(const VaultLookup& key, bool interactive);
    void workingChanged();
    // A call came back, whatever it was.
    void settled();

private:
    struct Found {
        VaultLookup key;
        VaultLookup webhook;
    };
    template <typename Work, typename Done> void inBackground(Work work, Done done);
    void read(bool interactive);
    void finishRead(const Found& found, bool interactive);
    void setWorking(bool working);

    std::optional<QString> deliveryKey_;
    std::optional<QString> webhook_;
    bool working_ = false;
    int callsOut_ = 0;
    // Counts calls begun, so a probe that answers after another call began
    // does not overwrite what that call found.
    int callsBegun_ = 0;
    // The keyring changed while a read was out, which may have missed it.
    bool changedMeanwhile_ = false;
    KeyringWatcher* watcher_ = nullptr;
};

} // namespace quillo
