// Runs against the keyring of the test session (scripts/test.sh) and skips
// anywhere else. Each test has accounts of its own, so test executables may
// run side by side.
#include "store/Vault.h"

#include "tests/support/QuilloBarProcess.h"
#include "tests/support/TestSession.h"

#include <QUuid>
#include <gtest/gtest.h>

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
    // Searched as another Secret Service client would.
    const auto found = testing::runProgram(
        QStringLiteral("secret-tool"),
        {"search", "--all", "service", QString::fromUtf8(vaultService.data()), "account", account},
        {});
    EXPECT_EQ(found.standardOutput.count("\nschema = news.quillo.printer\n"), 1);

    const QString never = freshAccount();
    EXPECT_FALSE(Vault::read(never, false));
    EXPECT_FALSE(Vault::read(never, true));
}

} // namespace
} // namespace quillo
