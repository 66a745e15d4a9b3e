// The vault where the keyring is locked, missing or unreachable. Each test
// starts a bus (and keyring) of its own and drives the vault through
// vault-probe, so the test session's keyring is never touched.
#include "tests/store/PrivateSession.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace quillo::testing {
namespace {

const QString probeProgram = QStringLiteral(QUILLO_VAULT_PROBE);
const QByteArray secret = "isolation-secret-value";

const QStringList saveItem{"save", "vault-isolation"};
const QStringList readSilently{"read", "vault-isolation"};
const QStringList readInteractively{"read", "vault-isolation", "interactive"};

ProcessOutcome probe(const QProcessEnvironment& environment, const QStringList& arguments) {
    return runProgram(probeProgram, arguments, arguments[0] == "save" ? secret : QByteArray(),
                      environment);
}

ProcessOutcome busCall(const QProcessEnvironment& environment, const QStringList& arguments) {
    return runProgram(QStringLiteral("dbus-send"),
                      QStringList{QStringLiteral("--session")} + arguments, {}, environment);
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
    busCall(environment,
            {QStringLiteral("/quillo/test"), QStringLiteral("quillo.test.Sentinel.Done")});
    QByteArray traffic;
    while (!traffic.contains("quillo.test.Sentinel") && monitor.waitForReadyRead(10000)) {
        traffic += monitor.readAll();
    }
    monitor.kill();
    monitor.waitForFinished();
    return traffic;
}

// A keyring that holds its name but never answers: the read gives up at its
// deadline. A locked one: the silent read neither unlocks nor prompts.
TEST(VaultIsolation, UnresponsiveOrLockedKeyringReadsNothing) {
    const PrivateSession session(true);
    ASSERT_TRUE(session.ready());
    const QProcessEnvironment environment = session.environment();
    ASSERT_EQ(probe(environment, saveItem).exitStatus, 0);
    session.freezeKeyring(true);
    EXPECT_EQ(probe(environment, readSilently).exitStatus, 2);
    session.freezeKeyring(false);
    ASSERT_EQ(probe(environment, readSilently).standardOutput, secret);

    const ProcessOutcome locked =
        busCall(environment,
                {QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.secrets"),
                 QStringLiteral("/org/freedesktop/secrets"),
                 QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                 QStringLiteral("array:objpath:/org/freedesktop/secrets/aliases/default")});
    ASSERT_EQ(locked.exitStatus, 0) << locked.standardError.data();
    const QByteArray quietTraffic =
        busTraffic(environment, [&] { EXPECT_EQ(probe(environment, readSilently).exitStatus, 2); });
    ASSERT_TRUE(quietTraffic.contains("quillo.test.Sentinel"));
    EXPECT_FALSE(quietTraffic.contains("member=Unlock"));
    EXPECT_FALSE(quietTraffic.contains("member=Prompt"));

    // The interactive read asks to unlock; no prompter can run on this bus,
    // so it is refused and the read gives nothing.
    const QByteArray interactiveTraffic = busTraffic(
        environment, [&] { EXPECT_EQ(probe(environment, readInteractively).exitStatus, 2); });
    EXPECT_TRUE(interactiveTraffic.contains("member=Unlock"));

    // Saving, over an item or as a new one, needs the collection unlocked too.
    const ProcessOutcome replaced = probe(environment, saveItem);
    EXPECT_EQ(replaced.exitStatus, 1);
    EXPECT_EQ(replaced.standardError, "Could not save: The keyring is locked\n");
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
        EXPECT_EQ(saved.exitStatus, 1);
        EXPECT_TRUE(saved.standardError.startsWith("Could not save: "))
            << saved.standardError.data();
        EXPECT_FALSE(saved.standardError.contains(secret));
        EXPECT_EQ(probe(environment, readSilently).exitStatus, 2);
        EXPECT_EQ(probe(environment, readInteractively).exitStatus, 2);
    }
}

// The keyring tests run only with every part of scripts/test.sh's session:
// its marker alone, or with a home or a bus elsewhere, makes them skip.
TEST(VaultIsolation, KeyringTestsRunOnlyInTheTestSession) {
    const PrivateSession session(true);
    ASSERT_TRUE(session.ready());
    QProcessEnvironment inside = session.environment();
    const QString marker = QStringLiteral("QUILLO_TEST_SANDBOX");
    inside.insert(marker, QFileInfo(inside.value(QStringLiteral("HOME"))).path());
    QProcessEnvironment noMarker = inside;
    noMarker.remove(marker);
    QProcessEnvironment homeElsewhere = inside;
    homeElsewhere.insert(QStringLiteral("HOME"), QDir::tempPath());
    QProcessEnvironment otherBus = inside;
    otherBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                    QStringLiteral("unix:path=/run/user/0/bus"));
    for (const auto& [environment, runs] :
         {std::pair{inside, true}, std::pair{noMarker, false}, std::pair{homeElsewhere, false},
          std::pair{otherBus, false}}) {
        const ProcessOutcome outcome =
            runProgram(QStringLiteral(QUILLO_VAULT_TEST), {}, {}, environment);
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.standardOutput.data();
        EXPECT_EQ(outcome.standardOutput.contains("[  SKIPPED ]"), !runs);
    }
}

} // namespace
} // namespace quillo::testing
