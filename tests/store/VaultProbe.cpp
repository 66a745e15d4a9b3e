// Drives the vault from a child process, so tests can point it at a bus of
// their choosing through the environment.
//   vault-probe save ACCOUNT        value on stdin; 0, or 1 with the message
//   vault-probe read ACCOUNT [interactive]   value on stdout; 0, or 2 when absent
//   vault-probe lock                 locks the default collection
#include "store/Vault.h"

#include <QString>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <libsecret/secret.h>
#include <string>

namespace {

SecretCollection* defaultCollection() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (service == nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
        return nullptr;
    }
    SecretCollection* collection = secret_collection_for_alias_sync(
        service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    g_object_unref(service);
    if (error != nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
    }
    return collection;
}

int lockDefaultCollection() {
    SecretCollection* collection = defaultCollection();
    if (collection == nullptr) {
        return 1;
    }
    GList objects{collection, nullptr, nullptr};
    GError* error = nullptr;
    const gint locked = secret_service_lock_sync(nullptr, &objects, nullptr, nullptr, &error);
    g_object_unref(collection);
    if (error != nullptr) {
        std::fprintf(stderr, "%s\n", error->message);
        g_error_free(error);
    }
    return locked >= 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const QString account = argc > 2 ? QString::fromUtf8(argv[2]) : QString();
    if (command == "save") {
        const std::string value{std::istreambuf_iterator<char>(std::cin), {}};
        try {
            quillo::Vault::save(QString::fromStdString(value), account);
        } catch (const quillo::VaultError& error) {
            std::fprintf(stderr, "Could not save: %s\n", error.what());
            return 1;
        }
        return 0;
    }
    if (command == "read") {
        const bool interactive = argc > 3 && std::string(argv[3]) == "interactive";
        const auto value = quillo::Vault::read(account, interactive);
        if (!value) {
            return 2;
        }
        std::fputs(value->toUtf8().constData(), stdout);
        return 0;
    }
    if (command == "lock") {
        return lockDefaultCollection();
    }
    return 64;
}
