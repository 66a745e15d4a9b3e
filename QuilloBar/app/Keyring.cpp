#include "QuilloBar/app/Keyring.h"

#include "QuilloBar/app/Background.h"
#include "QuilloBar/desktop/KeyringWatcher.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <utility>

namespace quillo {

Keyring::Keyring(QObject* parent) : QObject(parent) {}

// A call counts as out until its result is handed back.
template <typename Work, typename Done> void Keyring::inBackground(Work work, Done done) {
    ++callsOut_;
    quillo::inBackground(this, std::move(work), [this, done = std::move(done)](const auto& result) {
        --callsOut_;
        done(result);
        emit settled();
    });
}

void Keyring::setWorking(bool working) {
    working_ = working;
    emit workingChanged();
}

void Keyring::readSilently() {
    read(false);
}

void Keyring::unlock() {
    read(true);
}

void Keyring::read(bool interactive) {
    setWorking(true);
    ++callsBegun_;
    inBackground(
        [interactive] {
            Found found{Vault::lookup(SecretAccount::deliveryKey, interactive), {}};
            // After a dismissed prompt or a keyring that does not answer, a
            // second read would only prompt or wait again.
            if (keyMayBeThere(found.key.problem) && found.key.problem != KeyringProblem::locked) {
                found.webhook = found.key;
            } else {
                found.webhook = Vault::lookup(SecretAccount::einkWebhook, interactive);
            }
            return found;
        },
        [this, interactive](const Found& found) { finishRead(found, interactive); });
}

// A keyring that could not answer changes nothing held: only a conclusive
// read replaces the secrets. The silent read takes the webhook with the key.
void Keyring::finishRead(const Found& found, bool interactive) {
    working_ = false;
    if (!keyMayBeThere(found.key.problem)) {
        deliveryKey_ = found.key.value;
        if (!interactive) {
            webhook_ = found.webhook.value;
        }
    }
    if (interactive && !keyMayBeThere(found.webhook.problem)) {
        webhook_ = found.webhook.value;
    }
    if (!interactive && !found.key.value && keyMayBeThere(found.key.problem)) {
        if (watcher_ == nullptr) {
            watcher_ = new KeyringWatcher(this);
            connect(watcher_, &KeyringWatcher::changed, this, &Keyring::recheck);
        }
        if (std::exchange(changedMeanwhile_, false)) {
            readSilently();
            return;
        }
    }
    emit workingChanged();
    emit readFinished(found.key, interactive);
}

void Keyring::recheck() {
    if (deliveryKey_) {
        return;
    }
    if (working_) {
        changedMeanwhile_ = true;
        return;
    }
    readSilently();
}

void Keyring::probe(std::function<void(const VaultLookup&)> answered) {
    if (deliveryKey_ || working_) {
        return;
    }
    inBackground(
        [] { return Vault::probe(SecretAccount::deliveryKey); },
        [this, calls = callsBegun_, answered = std::move(answered)](const VaultLookup& found) {
            if (calls == callsBegun_ && !deliveryKey_) {
                answered(found);
            }
        });
}

void Keyring::save(const QString& key, const QString& webhook,
                   std::function<void(const Saved&)> done) {
    setWorking(true);
    ++callsBegun_;
    inBackground(
        [key, webhook] {
            Saved saved;
            try {
                if (!key.isEmpty()) {
                    Vault::save(key, SecretAccount::deliveryKey);
                    saved.key = true;
                }
                if (!webhook.isEmpty()) {
                    Vault::save(webhook, SecretAccount::einkWebhook);
                    saved.webhook = true;
                }
            } catch (const VaultError& error) {
                saved.failure = QString::fromUtf8(error.what());
            }
            return saved;
        },
        [this, key, webhook, done = std::move(done)](const Saved& saved) {
            setWorking(false);
            if (saved.key) {
                deliveryKey_ = key;
            }
            if (saved.webhook) {
                webhook_ = webhook;
            }
            done(saved);
        });
}

QString Keyring::line(const VaultLookup& found, bool launch) {
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

QString Keyring::connectedLine(bool automatic) {
    return automatic ? QStringLiteral("Connected \u00B7 automatic delivery on")
                     : QStringLiteral("Connected \u00B7 automatic delivery off");
}

bool Keyring::keyMayBeThere(KeyringProblem problem) {
    return problem != KeyringProblem::none && problem != KeyringProblem::missing;
}

} // namespace quillo
