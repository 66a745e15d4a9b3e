// Saving the settings form, and filling it from what is stored: the checks,
// the preferences, the login item, and the form's actions.

#include "QuilloBar/app/AppDelegate.h"
#include "QuilloBar/app/AppDelegateInternal.h"
#include "QuilloBar/settings/SettingsRules.h"
#include "store/Preferences.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <variant>

namespace quillo {
namespace {

// What preview mode offers instead of the system's print queues.
const QStringList samplePrinters{QStringLiteral("Brother HL-L2350DW"),
                                 QStringLiteral("Office LaserJet")};

} // namespace

void AppDelegate::failSave(const QString& message) {
    status_ = message;
    refreshMenu();
}

// Nothing written before a failure is undone; the checks come first, so a
// refused form writes nothing at all.
void AppDelegate::saveSettings() {
    if (previewMode_) {
        failSave(SaveMessage::previewOnly);
        return;
    }
    if (working()) {
        return;
    }
    const auto checked = checkSave({form_.origin(), form_.destination(), form_.display(),
                                    form_.webhook(), form_.key(), form_.maxPages(), form_.printer(),
                                    form_.automatic(), keyring_.webhook(), keyring_.deliveryKey()});
    if (const auto* refusal = std::get_if<SaveRefusal>(&checked)) {
        emit form_.refused(refusal->field, refusal->message);
        failSave(refusal->message);
        return;
    }
    const auto& save = std::get<ValidatedSave>(checked);
    defaults_->sync();
    if (needsTurnOnConfirmation(save, StoredDelivery::read(*defaults_)) &&
        !desktop.confirmTurnOn(save.destination)) {
        return;
    }
    if (save.typedKey.isEmpty() && save.typedWebhook.isEmpty()) {
        finishSave(save, {}, choicesOf(form_));
        return;
    }
    storeTypedSecrets(save);
}

// What was typed is cleared only where the reader has not typed again meanwhile.
void AppDelegate::finishSave(const ValidatedSave& save, const Keyring::Saved& stored,
                             SettingsChoices submitted) {
    if (stored.key) {
        if (!fingerprint_.isEmpty()) {
            defaults_->setString(PreferenceKey::authorizedBuild, fingerprint_);
        }
        if (form_.key() == submitted.key) {
            form_.setKey(QString());
        }
        submitted.key.clear();
        form_.setKeySaved(true);
        form_.setReplacingKey(false);
        form_.setNeedsUnlock(false);
    }
    if (stored.webhook) {
        if (form_.webhook() == submitted.webhook) {
            form_.setWebhook(QString());
        }
        submitted.webhook.clear();
        form_.setWebhookSaved(true);
    }
    if (stored.failure) {
        defaults_->sync();
        failSave(couldNotSave(*stored.failure));
        return;
    }

    defaults_->setString(PreferenceKey::origin, save.origin);
    defaults_->setString(PreferenceKey::destination,
                         QString::fromLatin1(rawValue(save.destination)));
    defaults_->setString(PreferenceKey::displayModel, QString::fromLatin1(rawValue(save.display)));
    if (!save.printer.isEmpty()) {
        defaults_->setString(PreferenceKey::printer, save.printer);
    }
    defaults_->setInteger(PreferenceKey::maxPages, save.pageCount);
    defaults_->setBoolean(PreferenceKey::automatic, save.automatic);
    // A settings file that cannot be written must not read as saved.
    if (!defaults_->sync()) {
        failSave(couldNotSave(QStringLiteral("%1 cannot be written").arg(defaults_->filePath())));
        return;
    }

    try {
        loginItem_.setEnabled(form_.launchAtLogin(), executableIn(installRoot_));
    } catch (const LoginItemError& error) {
        failSave(couldNotSave(error.description()));
        return;
    }

    savedChoices_ = submitted;
    status_ = savedStatus(save.automatic);
    refreshMenu();
    runAgent(false);
}

void AppDelegate::fillForm() {
    defaults_->sync();
    const QStringList printers = previewMode_ ? samplePrinters : listPrinters(printerListing_);
    const QString storedPrinter = defaults_->string(PreferenceKey::printer).value_or(QString());
    form_.setPrinters(printers);
    form_.setPrinter(printers.contains(storedPrinter) ? storedPrinter : QString());
    form_.setDestination(defaults_->destination());
    form_.setMaxPages(defaults_->effectivePageCount());
    form_.setDisplay(defaults_->displayModel());
    const bool held = keyring_.deliveryKey().has_value();
    const bool keySaved = held || defaults_->string(PreferenceKey::authorizedBuild).has_value();
    form_.setKeySaved(keySaved);
    form_.setNeedsUnlock(!held && keySaved);
    form_.setWebhookSaved(keyring_.webhook().has_value());
    form_.setAutomatic(defaults_->boolean(PreferenceKey::automatic));
    form_.setLaunchAtLogin(loginItem_.isEnabled(executableIn(installRoot_)));
    form_.setOrigin(defaults_->origin());
    form_.setStatus(status_);
    form_.setConnected(held);
    form_.setWorking(working());
    savedChoices_ = choicesOf(form_);
}

// The form lives as long as the delegate, but an action copied out of it
// must never reach a delegate that is gone.
void AppDelegate::installFormActions() {
    const QPointer<AppDelegate> self(this);
    const auto forward = [self](void (AppDelegate::*action)()) {
        return [self, action] {
            if (self) {
                (self->*action)();
            }
        };
    };
    form_.save = forward(&AppDelegate::saveSettings);
    form_.unlock = forward(&AppDelegate::authorizeKey);
    form_.openNewsroom = forward(&AppDelegate::openNewsroom);
    form_.openDisplayGuide = forward(&AppDelegate::openDisplayGuide);
    form_.previewDisplay = forward(&AppDelegate::previewDisplay);
    form_.openQueue = forward(&AppDelegate::openQueue);
}

} // namespace quillo
