// Runs against the keyring of the test session (scripts/test.sh) and skips
// anywhere else. Each test has accounts of its own, so test executables may
// run side by side.
#include "store/Vault.h"

#include "store/VaultSchema.h"
#include "tests/support/TestSession.h"

#include <QUuid>
#include <future>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <vector>

namespace quillo {
namespace {

QString freshAccount() {
    return QStringLiteral("vault-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The vault's attributes for the account, as another libsecret client would build them.
GHashTable* attributes(const QString& account) {
    return secret_attributes_build(&vaultSchema(), "service", vaultService.data(), "account",
                                   account.toUtf8().constData(), nullptr);
}

using VaultTest = testing::KeyringTest;

// Text round-trips, also when empty; a saved value replaces the one item;
// a value that is not UTF-8 text, or none, reads as absent.
TEST_F(VaultTest, SaveCreatesThenReplacesOneItemAndReadsOnlyText) {
    const QString account = freshAccount();
    ASSERT_NO_THROW(Vault::save(QStringLiteral("first"), account));
    EXPECT_EQ(Vault::read(account, false), QStringLiteral("first"));
    const QString second = QStringLiteral("tr\u00E8s \u00B7 secret \u2026 \u2019 \U0001F4F0");
    ASSERT_NO_THROW(Vault::save(second, account));
    EXPECT_EQ(Vault::read(account, false), second);
    EXPECT_EQ(Vault::read(account, true), second);
    GHashTable* search = attributes(account);
    GList* items = secret_service_search_sync(nullptr, &vaultSchema(), search, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    EXPECT_EQ(g_list_length(items), 1U);
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(search);

    ASSERT_NO_THROW(Vault::save(QString(), account));
    EXPECT_EQ(Vault::read(account, false), QString());
    const QString never = freshAccount();
    EXPECT_FALSE(Vault::read(never, false));
    EXPECT_FALSE(Vault::read(never, true));

    const QString binary = freshAccount();
    const char bytes[] = {'\xff', '\xfe', 'a'};
    SecretValue* value = secret_value_new(bytes, sizeof bytes, "application/octet-stream");
    GHashTable* store = attributes(binary);
    GError* error = nullptr;
    secret_service_store_sync(nullptr, &vaultSchema(), store, SECRET_COLLECTION_DEFAULT, "binary",
                              value, nullptr, &error);
    g_hash_table_unref(store);
    secret_value_unref(value);
    ASSERT_EQ(error, nullptr) << error->message;
    EXPECT_FALSE(Vault::read(binary, false));
}

// The GUI reads on worker threads while the main thread may save.
TEST_F(VaultTest, CallsFromSeveralThreadsAtOnce) {
    std::vector<std::future<bool>> results;
    results.reserve(4);
    for (int index = 0; index < 4; ++index) {
        results.push_back(std::async(std::launch::async, [account = freshAccount()] {
            Vault::save(account + QStringLiteral("-value"), account);
            return Vault::read(account, false) == account + QStringLiteral("-value");
        }));
    }
    for (auto& result : results) {
        EXPECT_TRUE(result.get());
    }
}

} // namespace
} // namespace quillo
