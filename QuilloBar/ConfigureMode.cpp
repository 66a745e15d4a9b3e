#include "QuilloBar/HeadlessModes.h"
#include "QuilloBar/StandardInput.h"
#include "store/Preferences.h"
#include "store/Vault.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace quillo {
namespace {

// The failure line never says which step failed.
int fail() {
    std::fputs("Could not configure Quillo.\n", stderr);
    return 1;
}

} // namespace

int runConfigureMode() {
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(readStandardInputToEnd()), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return fail();
    }
    const QJsonObject request = document.object();
    const QJsonValue token = request.value(QLatin1StringView("token"));
    if (!token.isString() || token.toString().isEmpty()) {
        return fail();
    }

    // The keyring first: when it refuses, no preference has been touched.
    try {
        Vault::save(token.toString(), SecretAccount::printToken);
    } catch (const VaultError&) {
        return fail();
    }

    Preferences preferences;
    // An absent or null member removes the key; any other value is kept as given.
    preferences.setJsonValue(PreferenceKey::origin, request.value(PreferenceKey::origin));
    preferences.setJsonValue(PreferenceKey::printer, request.value(PreferenceKey::printer));
    preferences.setBoolean(PreferenceKey::automatic, false);
    preferences.setInteger(PreferenceKey::maxPages, 1);
    if (!preferences.sync()) {
        return fail();
    }

    std::fputs("Printer connection saved privately. Automatic printing remains off.\n", stdout);
    return 0;
}

} // namespace quillo
