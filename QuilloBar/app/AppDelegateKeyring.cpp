// The delegate and the keyring: the launch-time read, "Unlock…", saving the
// typed secrets, following a keyring unlocked elsewhere, and what the form and
// status line say about the saved key. Every keyring call runs off the main
// thread, since it may prompt or not answer at all.

#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/AppDelegateInternal.h"
#include "QuilloBar/desktop/KeyringStatus.h"
#include "QuilloBar/settings/SettingsRules.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <QString>
#include <utility>

namespace quillo {

struct Secrets {
    VaultLookup token;
    VaultLookup webhook;
};

namespace {

Secrets readSecrets(bool interactive) {
    Secrets found{Vault::lookup(SecretAccount::printToken, interactive), {}};
    // After a dismissed prompt or a keyring that does not answer, a second
    // read would only prompt or wait again.
    if (keyMayBeThere(found.token.problem) && found.token.problem != KeyringProblem::locked) {
        found.webhook = found.token;
    } else {
        found.webhook = Vault::lookup(SecretAccount::einkWebhook, interactive);
    }
    return found;
}

// The key first: a webhook is stored only once the key is.
SavedSecrets storeSecrets(const QString& key, const QString& webhook) {
    SavedSecrets stored;
    try {
        if (!key.isEmpty()) {
            Vault::save(key, SecretAccount::printToken);
            stored.keyStored = true;
        }
        if (!webhook.isEmpty()) {
            Vault::save(webhook, SecretAccount::einkWebhook);
            stored.webhookStored = true;
        }
    } catch (const VaultError& error) {
        stored.failure = QString::fromUtf8(error.what());
    }
    return stored;
}

QString connectedLine(bool automatic) {
    return automatic ? QStringLiteral("Connected \u00B7 automatic delivery on")
                     : QStringLiteral("Connected \u00B7 automatic delivery off");
}

} // namespace

void AppDelegate::unlockSilently() {
    keyringBusy_ = true;
    ++keyringCalls_;
    form_.setWorking(true);
    inBackground([] { return readSecrets(false); },
                 [this](const Secrets& secrets) { finishSilentUnlock(secrets); });
}

void AppDelegate::finishSilentUnlock(const Secrets& secrets) {
    keyringBusy_ = false;
    const VaultLookup& token = secrets.token;
    if (!keyMayBeThere(token.problem)) {
        unlockedToken_ = token.value;
        unlockedWebhook_ = secrets.webhook.value;
    }
    defaults_->sync();
    status_ = token.value ? connectedLine(defaults_->boolean(PreferenceKey::automatic))
                          : keyringLine(token, true);
    showKeyState(token);
    if (!token.value && keyMayBeThere(token.problem)) {
        followKeyring();
        if (std::exchange(keyringChangedMeanwhile_, false)) {
            unlockSilently();
            return;
        }
    }
    refreshMenu();
    if (unlockedToken_) {
        runAgent(false);
    }
}

// The saved-key row follows what the keyring said: a key that is there but
// locked, or behind a dismissed prompt, keeps its row with "Unlock…".
void AppDelegate::showKeyState(const VaultLookup& token) {
    if (token.value || token.problem == KeyringProblem::none) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(!unlockedToken_);
    } else if (token.problem == KeyringProblem::missing) {
        form_.setKeySaved(false);
        form_.setNeedsUnlock(false);
    } else if (token.problem == KeyringProblem::locked ||
               token.problem == KeyringProblem::dismissed) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(true);
    } else {
        // The keyring did not answer: a key known before may be tried again.
        form_.setNeedsUnlock(form_.keySaved() && !unlockedToken_);
    }
    form_.setWebhookSaved(unlockedWebhook_.has_value());
}

void AppDelegate::followKeyring() {
    if (keyringWatcher_ != nullptr) {
        return;
    }
    keyringWatcher_ = new KeyringWatcher(this);
    connect(keyringWatcher_, &KeyringWatcher::changed, this, &AppDelegate::keyringChanged);
}

// Unlocked elsewhere (a login manager, another application's prompt): read
// silently and connect, with nothing asked of the reader.
void AppDelegate::keyringChanged() {
    if (unlockedToken_) {
        return;
    }
    if (keyringBusy_) {
        keyringChangedMeanwhile_ = true;
        return;
    }
    unlockSilently();
}

// A key stored by configure mode, or by an earlier build, is offered for
// unlocking; asking whether it exists reads nothing and never prompts.
void AppDelegate::probeSavedKey() {
    if (previewMode_ || unlockedToken_ || keyringBusy_) {
        return;
    }
    inBackground([] { return Vault::probe(SecretAccount::printToken); },
                 [this, calls = keyringCalls_](const VaultLookup& found) {
                     if (calls == keyringCalls_ && !unlockedToken_) {
                         showKeyState(found);
                     }
                 });
}

// The save finishes with whatever the keyring kept of what was typed.
void AppDelegate::storeTypedSecrets(const ValidatedSave& save) {
    // The keyring may prompt, or not answer at all: never on this thread.
    keyringBusy_ = true;
    ++keyringCalls_;
    status_ = QStringLiteral("Saving to your keyring\u2026");
    refreshMenu();
    inBackground(
        [key = save.typedKey, webhook = save.typedWebhook] { return storeSecrets(key, webhook); },
        [this, save, submitted = choicesOf(form_)](const SavedSecrets& stored) {
            keyringBusy_ = false;
            finishSave(save, stored, submitted);
        });
}

// A second request while one is out would open a second prompt.
void AppDelegate::authorizeKey() {
    if (previewMode_ || busy_ || keyringBusy_) {
        return;
    }
    keyringBusy_ = true;
    ++keyringCalls_;
    status_ = QStringLiteral("Waiting for keyring approval\u2026");
    refreshMenu();
    inBackground([] { return readSecrets(true); },
                 [this](const Secrets& secrets) { finishAuthorization(secrets); });
}

// A keyring that could not answer changes nothing held: only a conclusive
// read replaces the secrets.
void AppDelegate::finishAuthorization(const Secrets& secrets) {
    keyringBusy_ = false;
    const VaultLookup& token = secrets.token;
    if (!keyMayBeThere(token.problem)) {
        unlockedToken_ = token.value;
    }
    if (!keyMayBeThere(secrets.webhook.problem)) {
        unlockedWebhook_ = secrets.webhook.value;
    }
    if (token.value && !fingerprint_.isEmpty()) {
        defaults_->setString(PreferenceKey::authorizedBuild, fingerprint_);
        defaults_->sync();
    }
    showKeyState(token);
    status_ = token.value ? QStringLiteral("Connection authorized") : keyringLine(token, false);
    refreshMenu();
    if (token.value) {
        runAgent(false);
    }
}

} // namespace quillo
