// Where the end-to-end tests start from: a reader whose keyring holds the
// delivery key and the webhook, who chose both destinations and the private
// CUPS queue and authorized this build, with the tool reaching the local
// service and that CUPS.
#pragma once

#include "store/BuildFingerprint.h"
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

namespace quillo::testing {

// False when the settings could not be stored.
inline bool storeReadyReader(const NewspaperService& service, const PrivateCups& cups,
                             const QString& origin, const QString& token, const QString& hookPath) {
    qputenv("CURL_CA_BUNDLE", service.caBundle().toUtf8());
    qputenv("CUPS_SERVER", cups.server().toUtf8());
    Vault::save(token, SecretAccount::deliveryKey);
    Vault::save(service.origin() + hookPath, SecretAccount::einkWebhook);
    Preferences stored;
    stored.setString(PreferenceKey::origin, origin);
    stored.setString(PreferenceKey::destination, QStringLiteral("both"));
    stored.setString(PreferenceKey::printer, PrivateCups::queue());
    stored.setString(PreferenceKey::displayModel, QStringLiteral("x"));
    stored.setBoolean(PreferenceKey::didShowWelcome, true);
    stored.setString(PreferenceKey::authorizedBuild, buildFingerprint(buildRoot().toStdString()));
    return stored.sync();
}

} // namespace quillo::testing
