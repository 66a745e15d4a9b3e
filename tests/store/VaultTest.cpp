// Runs against the keyring of the test session (scripts/test.sh) and skips
// anywhere else. Each test has accounts of its own, so test executables may
// run side by side.
#include "store/Vault.h"

#include "store/VaultSchema.h"
#include "tests/support/TestSession.h"

#include <QUuid>
#include <gtest/gtest.h>
#include <libsecret/secret.h>

namespace quillo {
namespace {

QString freshAccount() {
    return QStringLiteral("vault-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

using VaultTest = testing::KeyringTest;

// Text round-trips; a saved value replaces the one item; none reads as absent.
TEST_F(VaultTest, SaveCreatesThenReplacesOneItem) {
    const QString account = freshAccount();
    ASSERT_NO_THROW(Vault::save(QStringLiteral("first"), account));
    EXPECT_EQ(Vault::read(account, false), QStringLiteral("first"));
    const QString second = QStringLiteral("tr\u00E8s \u00B7 secret \u2026 \u2019 \U0001F4F0");
    ASSERT_NO_THROW(Vault::save(second, account));
    EXPECT_EQ(Vault::read(account, false), second);
    EXPECT_EQ(Vault::read(account, true), second);
    // Searched as another libsecret client would.
    GHashTable* search = secret_attributes_build(&vaultSchema(), "service", vaultService.data(),
                                                 "account", account.toUtf8().constData(), nullptr);
    GList* items = secret_service_search_sync(nullptr, &vaultSchema(), search, SECRET_SEARCH_ALL,
                                              nullptr, nullptr);
    EXPECT_EQ(g_list_length(items), 1U);
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(search);

    const QString never = freshAccount();
    EXPECT_FALSE(Vault::read(never, false));
    EXPECT_FALSE(Vault::read(never, true));
}

} // namespace
} // namespace quillo
