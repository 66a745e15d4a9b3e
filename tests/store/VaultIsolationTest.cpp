// The vault against keyrings of the tests' own: each test starts a bus (and
// keyring) of its own and drives the vault through vault-probe, so the test
// session's keyring is never touched.
#include "tests/store/PrivateSession.h"
#include "tests/support/QuilloBarProcess.h"

#include <gtest/gtest.h>

namespace quillo::testing {
namespace {

const QByteArray secret = "tr\u00E8s \u00B7 secret \u2026 \u2019 \U0001F4F0";
const QStringList saveItem{"save", "vault-isolation"};
const QStringList readSilently{"read", "vault-isolation"};
const QStringList readInteractively{"read", "vault-isolation", "interactive"};

ProcessOutcome probe(const QProcessEnvironment& environment, const QStringList& arguments,
                     const QByteArray& value = secret) {
    return runProgram(QStringLiteral(QUILLO_VAULT_PROBE), arguments, value, environment);
}

// A second save replaces the one item. A locked keyring: the silent read
// neither unlocks nor prompts; the interactive one asks to unlock, which no
// prompter on this bus can grant. (A keyring that never answers is
// KeyringTest's.)
TEST(VaultIsolation, SaveReplacesAndLockedKeyringReadsNothing) {
    const PrivateSession session(true);
    ASSERT_TRUE(session.ready());
    const QProcessEnvironment environment = session.environment();
    ASSERT_EQ(probe(environment, saveItem, "first").exitStatus, 0);
    ASSERT_EQ(probe(environment, saveItem).exitStatus, 0);
    // Searched as another Secret Service client would.
    const ProcessOutcome found =
        runProgram(QStringLiteral("secret-tool"), {"search", "--all", "account", saveItem[1]}, {},
                   environment);
    EXPECT_EQ(found.standardOutput.count("\nschema = news.quillo.printer\n"), 1);
    ASSERT_EQ(probe(environment, readSilently).standardOutput, secret);

    const ProcessOutcome locked =
        runProgram(QStringLiteral("dbus-send"),
                   {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                    "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                    "array:objpath:/org/freedesktop/secrets/aliases/default"},
                   {}, environment);
    ASSERT_EQ(locked.exitStatus, 0) << locked.standardError.data();
    // A silent read that unlocked would meet the prompt nobody grants, and say so.
    EXPECT_EQ(probe(environment, readSilently).standardError, "locked Login\n");
    EXPECT_EQ(probe(environment, readInteractively).standardError, "dismissed Login\n");

    // Saving, over an item or as a new one, needs the collection unlocked too.
    EXPECT_EQ(probe(environment, saveItem).standardError,
              "Could not save: The keyring is locked\n");
}

// No Secret Service on the bus, or no bus at all: a clear failure, never the secret.
TEST(VaultIsolation, NoKeyringOrNoBus) {
    const PrivateSession session(false);
    ASSERT_TRUE(session.ready());
    QProcessEnvironment noBus = session.environment();
    noBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                 QStringLiteral("unix:path=/nonexistent/quillo-test-bus"));
    for (const auto& environment : {session.environment(), noBus}) {
        const ProcessOutcome saved = probe(environment, saveItem);
        EXPECT_TRUE(saved.standardError.startsWith("Could not save: ") &&
                    !saved.standardError.contains(secret))
            << saved.standardError.data();
        EXPECT_EQ(probe(environment, readInteractively).exitStatus, 2);
    }
}

} // namespace
} // namespace quillo::testing
