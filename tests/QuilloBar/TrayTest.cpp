// The tray as a desktop shell reads it: under Xvfb, with a
// StatusNotifierWatcher of the test's own on a private bus, the agent's item
// is read through its properties and com.canonical.dbusmenu and clicked.
#include "store/BuildFingerprint.h"
#include "store/Preferences.h"
#include "tests/store/PrivateSession.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace quillo {
namespace {

class TrayShell {
public:
    explicit TrayShell(const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLO_TRAY_SHELL)});
        ready_ = line() == "ready\n";
    }
    ~TrayShell() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    TrayShell(const TrayShell&) = delete;
    TrayShell& operator=(const TrayShell&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }

    QJsonObject ask(const QByteArray& command) {
        process_.write(command + '\n');
        return QJsonDocument::fromJson(line()).object();
    }

private:
    // A whole line: a line may arrive in pieces.
    QByteArray line() {
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(30000)) {
                return {};
            }
        }
        return process_.readLine();
    }

    QProcess process_;
    bool ready_ = false;
};

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString display = qEnvironmentVariable("QUILLO_TEST_DISPLAY");
        if (display.isEmpty()) {
            GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
        }
        ASSERT_TRUE(session.ready());
        environment = session.environment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        agent.setProcessEnvironment(environment);
    }

    void TearDown() override {
        agent.kill();
        agent.waitForFinished();
    }

    // The items' labels, "-" for separators, "(off)" after disabled ones.
    static QStringList menu(const QJsonObject& item) {
        QStringList entries;
        for (const auto& entry : item[QStringLiteral("menu")].toArray()) {
            const QJsonObject object = entry.toObject();
            entries.append(object[QStringLiteral("separator")].toBool()
                               ? QStringLiteral("-")
                               : object[QStringLiteral("label")].toString() +
                                     (object[QStringLiteral("enabled")].toBool()
                                          ? QString()
                                          : QStringLiteral(" (off)")));
        }
        return entries;
    }

    void quitThroughTheMenu(TrayShell& shell) {
        EXPECT_EQ(shell.ask("click Quit Quillo")[QStringLiteral("clicked")].toString(),
                  QStringLiteral("Quit Quillo"));
        ASSERT_TRUE(agent.waitForFinished(10000));
        EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(agent.exitCode(), 0);
    }

    testing::PrivateSession session{true};
    QProcessEnvironment environment;
    QProcess agent;
};

// An authorized build whose check never ends: the shell sees the run in the
// menu, and quitting returns at once while the tool is left to finish.
TEST_F(TrayTest, ShellReadsTheItemAndQuitLeavesARunningToolAlone) {
    QTemporaryDir tree;
    const QDir root(tree.path());
    for (const char* folder : {"bin", "libexec/quillo", "share/quillo"}) {
        root.mkpath(QString::fromLatin1(folder));
    }
    const QString built = testing::buildRoot();
    ASSERT_TRUE(QFile::copy(built + "/bin/quillo-bar", root.filePath("bin/quillo-bar")));
    QFile::link(built + "/lib", root.filePath("lib"));
    QFile::link(built + "/share/quillo/build-manifest",
                root.filePath("share/quillo/build-manifest"));
    const QString toolPid = root.filePath("tool.pid");
    testing::writeFile(root.filePath("libexec/quillo/quillo-print"),
                       "#!/bin/sh\necho $$ >\"" + toolPid.toUtf8() + "\"\nexec sleep 3600\n");
    QFile::setPermissions(root.filePath("libexec/quillo/quillo-print"),
                          QFile::ReadOwner | QFile::ExeOwner);

    const auto saved = testing::runProgram(QStringLiteral(QUILLO_VAULT_PROBE),
                                           {"save", "print-token"}, "key", environment);
    ASSERT_EQ(saved.exitStatus, 0) << saved.standardError.data();
    Preferences stored(environment.value("XDG_CONFIG_HOME") + u'/' + QString(preferencesFile));
    stored.setString(PreferenceKey::authorizedBuild,
                     buildFingerprint(std::filesystem::path(tree.path().toStdString())));
    stored.setBoolean(PreferenceKey::didShowWelcome, true);
    ASSERT_TRUE(stored.sync());

    TrayShell shell(environment);
    ASSERT_TRUE(shell.ready());
    agent.start(root.filePath("bin/quillo-bar"), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(toolPid); }, 30000));
    const QJsonObject item = shell.ask("read");
    EXPECT_EQ(item[QStringLiteral("pid")].toInteger(), agent.processId());
    EXPECT_EQ(item[QStringLiteral("tooltip")].toArray().at(2).toString(),
              QStringLiteral("Quillo \u00B7 Your newspaper, delivered."));
    EXPECT_EQ(menu(item), QStringList({"Checking for a new issue\u2026 (off)", "-",
                                       "Read latest issue (off)", "Sync now\u2026 (off)", "-",
                                       "Settings\u2026", "Open Quillo", "-", "Quit Quillo"}));

    quitThroughTheMenu(shell);
    QFile pidFile(toolPid);
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const auto pid = static_cast<pid_t>(pidFile.readAll().trimmed().toInt());
    EXPECT_EQ(::kill(pid, 0), 0) << "the companion tool was stopped with the agent";
    ::kill(pid, SIGKILL);
}

// Started before any tray host, the agent shows its window; when a host
// comes up it starts again in the same process and shows its item.
TEST_F(TrayTest, AgentWithoutATrayShowsItsItemOnceAHostAppears) {
    agent.start(testing::buildRoot() + QStringLiteral("/bin/quillo-bar"), {});
    const QString socket =
        environment.value("XDG_RUNTIME_DIR") + QStringLiteral("/quillo/quillo-bar.socket");
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(socket); }, 30000));
    const auto window =
        testing::runProgram(QStringLiteral("xwininfo"),
                            {QStringLiteral("-name"), QStringLiteral("Quillo")}, {}, environment);
    EXPECT_EQ(window.exitStatus, 0) << window.standardError.data();

    TrayShell shell(environment);
    ASSERT_TRUE(shell.ready());
    const QJsonObject item = shell.ask("read");
    ASSERT_EQ(item[QStringLiteral("pid")].toInteger(), agent.processId());
    EXPECT_EQ(menu(item).first(), QStringLiteral("Connect your newspaper in Settings (off)"));
    quitThroughTheMenu(shell);
}

} // namespace
} // namespace quillo
