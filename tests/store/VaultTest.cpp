// Runs against the keyring of the test session (scripts/test.sh). Each test
// has accounts of its own, so test executables may run side by side.
#include "store/Vault.h"

#include <QUuid>
#include <future>
#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <vector>

namespace quillo {
namespace {

const SecretSchema& vaultSchema() {
    static const SecretSchema schema = [] {
        SecretSchema made{};
        made.name = vaultService.data();
        made.flags = SECRET_SCHEMA_NONE;
        made.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        made.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return made;
    }();
    return schema;
}

QString freshAccount(const char* purpose) {
    return QStringLiteral("vault-test-%1-%2")
        .arg(QLatin1StringView(purpose), QUuid::createUuid().toString(QUuid::WithoutBraces));
}

int itemCount(const QString& account) {
    const QByteArray accountBytes = account.toUtf8();
    GHashTable* attributes = secret_attributes_build(&vaultSchema(), "service", vaultService.data(),
                                                     "account", accountBytes.constData(), nullptr);
    GList* items = secret_service_search_sync(nullptr, &vaultSchema(), attributes,
                                              SECRET_SEARCH_ALL, nullptr, nullptr);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    return count;
}

TEST(Vault, SaveCreatesThenReplacesOneItem) {
    const QString account = freshAccount("replace");
    ASSERT_NO_THROW(Vault::save(QStringLiteral("first"), account));
    EXPECT_EQ(Vault::read(account, false), QStringLiteral("first"));

    const QString second = QStringLiteral("tr\u00E8s \u00B7 secret \u2026 \u2019 \U0001F4F0");
    ASSERT_NO_THROW(Vault::save(second, account));
    EXPECT_EQ(Vault::read(account, false), second);
    EXPECT_EQ(Vault::read(account, true), second);
    EXPECT_EQ(itemCount(account), 1);
}

TEST(Vault, EmptyValueReadsAsEmptyNotAbsent) {
    const QString account = freshAccount("empty");
    ASSERT_NO_THROW(Vault::save(QString(), account));
    const auto value = Vault::read(account, false);
    ASSERT_TRUE(value.has_value());
    EXPECT_TRUE(value->isEmpty());
}

TEST(Vault, AccountsNeverSavedOrNotUtf8ReadAsAbsent) {
    const QString never = freshAccount("never");
    EXPECT_FALSE(Vault::read(never, false));
    EXPECT_FALSE(Vault::read(never, true));

    const QString binary = freshAccount("binary");
    const QByteArray accountBytes = binary.toUtf8();
    const char bytes[] = {'\xff', '\xfe', 'a'};
    SecretValue* value = secret_value_new(bytes, sizeof bytes, "application/octet-stream");
    GHashTable* attributes = secret_attributes_build(&vaultSchema(), "service", vaultService.data(),
                                                     "account", accountBytes.constData(), nullptr);
    GError* error = nullptr;
    secret_service_store_sync(nullptr, &vaultSchema(), attributes, SECRET_COLLECTION_DEFAULT,
                              "binary", value, nullptr, &error);
    g_hash_table_unref(attributes);
    secret_value_unref(value);
    ASSERT_EQ(error, nullptr) << error->message;
    EXPECT_FALSE(Vault::read(binary, false));
}

// The GUI reads on worker threads while the main thread may save.
TEST(Vault, CallsFromSeveralThreadsAtOnce) {
    std::vector<QString> accounts;
    accounts.reserve(4);
    for (int index = 0; index < 4; ++index) {
        accounts.push_back(freshAccount("thread"));
    }
    std::vector<std::future<std::optional<QString>>> results;
    results.reserve(accounts.size());
    for (const QString& account : accounts) {
        results.push_back(std::async(std::launch::async, [account] {
            Vault::save(account + QStringLiteral("-value"), account);
            return Vault::read(account, false);
        }));
    }
    for (std::size_t index = 0; index < accounts.size(); ++index) {
        EXPECT_EQ(results[index].get(), accounts[index] + QStringLiteral("-value"));
    }
}

} // namespace
} // namespace quillo
