// What the delegate shows of the keyring conversation: the status line and
// the form's saved-key row after a read, "Unlock…", the probe for a stored
// key, and the save of typed secrets. The conversation itself is `Keyring`'s.

#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/AppDelegateInternal.h"
#include "QuilloBar/settings/SettingsRules.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <QString>

namespace quillo {

// The silent read at launch (or after the keyring changed) and "Unlock…".
void AppDelegate::finishRead(const VaultLookup& key, bool interactive) {
    if (interactive && key.value && !fingerprint_.isEmpty()) {
        defaults_->setString(PreferenceKey::authorizedBuild, fingerprint_);
    }
    defaults_->sync();
    if (key.value) {
        status_ = interactive
                      ? QStringLiteral("Connection authorized")
                      : Keyring::connectedLine(defaults_->boolean(PreferenceKey::automatic));
    } else {
        status_ = Keyring::line(key, !interactive);
    }
    showKeyState(key);
    refreshMenu();
    // A failed "Unlock…" leaves a key held before as it was, and starts nothing.
    if (interactive ? key.value.has_value() : keyring_.deliveryKey().has_value()) {
        runAgent(false);
    }
}

// The saved-key row follows what the keyring said: a key that is there but
// locked, or behind a dismissed prompt, keeps its row with "Unlock…".
void AppDelegate::showKeyState(const VaultLookup& key) {
    const bool held = keyring_.deliveryKey().has_value();
    if (key.value || key.problem == KeyringProblem::none) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(!held);
    } else if (key.problem == KeyringProblem::missing) {
        form_.setKeySaved(false);
        form_.setNeedsUnlock(false);
    } else if (key.problem == KeyringProblem::locked || key.problem == KeyringProblem::dismissed) {
        form_.setKeySaved(true);
        form_.setNeedsUnlock(true);
    } else {
        // The keyring did not answer: a key known before may be tried again.
        form_.setNeedsUnlock(form_.keySaved() && !held);
    }
    form_.setWebhookSaved(keyring_.webhook().has_value());
}

// A key stored by configure mode, or by an earlier build, is offered for
// unlocking; asking whether it exists reads nothing and never prompts.
void AppDelegate::probeSavedKey() {
    if (previewMode_) {
        return;
    }
    keyring_.probe([this](const VaultLookup& found) { showKeyState(found); });
}

// The save finishes with whatever the keyring kept of what was typed.
void AppDelegate::storeTypedSecrets(const ValidatedSave& save) {
    keyring_.save(save.typedKey, save.typedWebhook,
                  [this, save, submitted = choicesOf(form_)](const Keyring::Saved& stored) {
                      finishSave(save, stored, submitted);
                  });
    status_ = QStringLiteral("Saving to your keyring\u2026");
    refreshMenu();
}

// A second request while one is out would open a second prompt.
void AppDelegate::authorizeKey() {
    if (previewMode_ || working()) {
        return;
    }
    keyring_.unlock();
    status_ = QStringLiteral("Waiting for keyring approval\u2026");
    refreshMenu();
}

} // namespace quillo
