// The tray as a desktop shell reads it: under Xvfb, on the test's private bus
// with a keyring, an authorized build starts before any tray host and shows its
// window; once the tests' StatusNotifierWatcher comes up it starts again in
// the same process, and the shell reads its item and menu over
// com.canonical.dbusmenu while a check that never ends runs, then quits it.
#include "store/BuildFingerprint.h"
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(Tray, ShellReadsTheItemOnceAHostAppearsAndQuitLeavesTheToolAlone) {
    const auto onDisplay = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
    if (!onDisplay) {
        GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
    }
    const QProcessEnvironment& environment = *onDisplay;

    // A build of its own, whose tool fails at once until told to hang.
    QTemporaryDir tree;
    const QDir root(tree.path());
    const QString built = testing::buildRoot();
    root.mkpath("bin");
    root.mkpath("libexec/quillo");
    ASSERT_TRUE(QFile::copy(built + "/bin/quillo-bar", root.filePath("bin/quillo-bar")));
    QFile::link(built + "/lib", root.filePath("lib"));
    QFile::link(built + "/share", root.filePath("share"));
    const QString tool = root.filePath("libexec/quillo/quillo-print");
    testing::writeProgram(tool, "#!/bin/sh\ncd \"$(dirname \"$0\")\"\necho >>calls\n"
                                "[ -e hang ] || exit 3\necho $$ >pid\nexec sleep 3600\n");
    Vault::save(QStringLiteral("key"), SecretAccount::printToken);
    Preferences stored;
    stored.setString(PreferenceKey::authorizedBuild,
                     buildFingerprint(std::filesystem::path(tree.path().toStdString())));
    stored.setBoolean(PreferenceKey::didShowWelcome, true);
    ASSERT_TRUE(stored.sync());

    QProcess agent;
    agent.setProcessEnvironment(environment);
    agent.start(root.filePath("bin/quillo-bar"), {});
    const QString socket = environment.value("XDG_RUNTIME_DIR") + "/quillo/quillo-bar.socket";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(socket); }, 30000));
    EXPECT_EQ(testing::runProgram("xwininfo", {"-name", "Quillo"}, {}, environment).exitStatus, 0);
    // The launch check has started; the check after the restart will hang.
    ASSERT_TRUE(QTest::qWaitFor([&] { return root.exists("libexec/quillo/calls"); }, 30000));

    testing::writeFile(root.filePath("libexec/quillo/hang"), {});
    testing::TrayShell shell(environment);
    ASSERT_EQ(shell.ask(), "ready");
    const QString toolPid = root.filePath("libexec/quillo/pid");
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(toolPid); }, 30000));
    EXPECT_EQ(
        shell.ask("read\n").split(u'\t'),
        QStringList({QString::number(agent.processId()), "Quillo \u00B7 Your newspaper, delivered.",
                     "Checking for a new issue\u2026 (off)|-|Read latest issue (off)|"
                     "Sync now\u2026 (off)|-|Settings\u2026|Open Quillo|-|Quit Quillo"}));

    EXPECT_EQ(shell.ask("click Quit Quillo\n"), "clicked");
    EXPECT_TRUE(agent.waitForFinished(10000));
    EXPECT_EQ(agent.exitCode(), 0);
    const auto toolProcess = static_cast<pid_t>(testing::readFile(toolPid).trimmed().toInt());
    ASSERT_GT(toolProcess, 0);
    EXPECT_EQ(::kill(toolProcess, 0), 0) << "the companion tool was stopped with the agent";
    ::kill(toolProcess, SIGKILL);
}

} // namespace
} // namespace quillo
