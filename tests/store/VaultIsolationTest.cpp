// The vault where the keyring is locked, missing or unreachable. Each test
// starts a bus (and keyring) of its own and drives the vault through
// vault-probe, so the test session's keyring is never touched.
#include "tests/store/PrivateSession.h"

#include <gtest/gtest.h>

namespace quillo::testing {
namespace {

const QString probe = QStringLiteral(QUILLO_VAULT_PROBE);
const QString account = QStringLiteral("vault-isolation");
const QByteArray secret = "isolation-secret-value";

ProgramOutcome save(const QProcessEnvironment& environment) {
    return runProgram(probe, {QStringLiteral("save"), account}, environment, secret);
}

ProgramOutcome read(const QProcessEnvironment& environment, bool interactive) {
    QStringList arguments{QStringLiteral("read"), account};
    if (interactive) {
        arguments.append(QStringLiteral("interactive"));
    }
    return runProgram(probe, arguments, environment);
}

// Everything the bus routes while `during` runs, as dbus-monitor prints it.
template <typename During>
QByteArray busTraffic(const QProcessEnvironment& environment, During during) {
    QProcess monitor;
    monitor.setProcessEnvironment(environment);
    monitor.start(QStringLiteral("dbus-monitor"), {QStringLiteral("--session")});
    if (!monitor.waitForReadyRead(10000)) {
        return {};
    }
    during();
    // The bus delivers in order: once the sentinel shows, all before it has.
    runProgram(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("/quillo/test"),
                QStringLiteral("quillo.test.Sentinel.Done")},
               environment);
    QByteArray traffic;
    while (!traffic.contains("quillo.test.Sentinel") && monitor.waitForReadyRead(10000)) {
        traffic += monitor.readAll();
    }
    monitor.kill();
    monitor.waitForFinished();
    return traffic;
}

void expectUnavailable(const QProcessEnvironment& environment) {
    const ProgramOutcome saved = save(environment);
    EXPECT_EQ(saved.exitStatus, 1);
    EXPECT_TRUE(saved.standardError.startsWith("Could not save: ")) << saved.standardError.data();
    EXPECT_GT(saved.standardError.trimmed().size(), QByteArray("Could not save: ").size());
    EXPECT_FALSE(saved.standardError.contains(secret));
    EXPECT_EQ(read(environment, false).exitStatus, 2);
    EXPECT_EQ(read(environment, true).exitStatus, 2);
}

TEST(VaultIsolation, LockedCollectionReadsNothingWithoutUnlocking) {
    const PrivateSession session(PrivateSession::Keyring::unlocked);
    ASSERT_TRUE(session.ready());
    const QProcessEnvironment environment = session.environment();
    ASSERT_EQ(save(environment).exitStatus, 0);
    ASSERT_EQ(read(environment, false).standardOutput, secret);

    const ProgramOutcome locked = runProgram(probe, {QStringLiteral("lock")}, environment);
    ASSERT_EQ(locked.exitStatus, 0) << locked.standardError.data();
    const QByteArray quietTraffic =
        busTraffic(environment, [&] { EXPECT_EQ(read(environment, false).exitStatus, 2); });
    ASSERT_TRUE(quietTraffic.contains("quillo.test.Sentinel"));
    EXPECT_FALSE(quietTraffic.contains("member=Unlock"));
    EXPECT_FALSE(quietTraffic.contains("member=Prompt"));

    // The interactive read asks to unlock; no prompter can run on this bus,
    // so it is refused and the read gives nothing.
    const QByteArray interactiveTraffic =
        busTraffic(environment, [&] { EXPECT_EQ(read(environment, true).exitStatus, 2); });
    EXPECT_TRUE(interactiveTraffic.contains("member=Unlock"));

    // Saving needs the collection unlocked too: refused, and said so.
    const ProgramOutcome saved = save(environment);
    EXPECT_EQ(saved.exitStatus, 1);
    EXPECT_EQ(saved.standardError, "Could not save: The keyring is locked\n");
    const ProgramOutcome created =
        runProgram(probe, {QStringLiteral("save"), QStringLiteral("vault-isolation-new")},
                   environment, secret);
    EXPECT_EQ(created.exitStatus, 1) << created.standardError.data();
}

// The read gives up at its deadline instead of waiting on the keyring forever.
TEST(VaultIsolation, UnresponsiveKeyringReadsNothing) {
    PrivateSession session(PrivateSession::Keyring::unlocked);
    ASSERT_TRUE(session.ready());
    ASSERT_EQ(save(session.environment()).exitStatus, 0);
    session.freezeKeyring(true);
    EXPECT_EQ(read(session.environment(), false).exitStatus, 2);
    session.freezeKeyring(false);
}

TEST(VaultIsolation, BusWithoutKeyring) {
    const PrivateSession session(PrivateSession::Keyring::none);
    ASSERT_TRUE(session.ready());
    expectUnavailable(session.environment());
}

TEST(VaultIsolation, NoBusAtAll) {
    const PrivateSession session(PrivateSession::Keyring::none);
    QProcessEnvironment environment = session.environment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=/nonexistent/quillo-test-bus"));
    expectUnavailable(environment);
}

} // namespace
} // namespace quillo::testing
