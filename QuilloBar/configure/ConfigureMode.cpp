#include "QuilloBar/configure/ConfigureMode.h"

#include "QuilloBar/configure/ConfigureRequest.h"
#include "QuilloBar/launcher/StandardInput.h"
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

std::optional<ConfigureRequest> readConfigureRequest(const QByteArray& input) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(input, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject request = document.object();
    const QJsonValue key = request.value(QLatin1StringView("token"));
    if (!key.isString() || key.toString().isEmpty()) {
        return std::nullopt;
    }
    return ConfigureRequest{key.toString(), request.value(PreferenceKey::origin),
                            request.value(PreferenceKey::printer)};
}

int runConfigureMode() {
    const auto request = readConfigureRequest(QByteArray::fromStdString(readStandardInputToEnd()));
    if (!request) {
        return fail();
    }

    // The keyring first: when it refuses, no preference has been touched.
    try {
        Vault::save(request->deliveryKey, SecretAccount::deliveryKey);
    } catch (const VaultError&) {
        return fail();
    }

    Preferences preferences;
    // An absent or null member removes the key; any other value is kept as given.
    preferences.setJsonValue(PreferenceKey::origin, request->origin);
    preferences.setJsonValue(PreferenceKey::printer, request->printer);
    preferences.setBoolean(PreferenceKey::automatic, false);
    preferences.setInteger(PreferenceKey::maxPages, 1);
    if (!preferences.sync()) {
        return fail();
    }

    std::fputs("Printer connection saved privately. Automatic printing remains off.\n", stdout);
    return 0;
}

} // namespace quillo
