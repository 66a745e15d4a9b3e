#include "agent/Command.h"

#include <QFile>
#include <QRegularExpression>
#include <array>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

// Both streams arrive in one text; how the child ended, or why it never
// started, is its status.
TEST(Command, CollectsBothStreamsInArrivalOrderAndHowTheChildEnded) {
    // Beyond 8 MiB the rest is drained, not kept; a character cut in two is dropped.
    const QString capped = u'a' + QStringLiteral("\u00E9\n").repeated(((8 << 20) - 1) / 3);
    // Program, shell script, whether a deadline bounds it, exit status, output.
    const std::vector<std::tuple<QString, QString, bool, int, QString>> cases{
        {"/bin/sh", "printf o1; printf e1 >&2; printf o2; printf e2 >&2", true, 0, "o1e1o2e2"},
        {"/bin/sh", "printf 'r\\303\\251seau \\342\\200\\246'; exit 3", true, 3,
         "r\u00E9seau \u2026"},
        {"/bin/sh", "echo said; kill -9 $$", false, 9, "said\n"},
        {"/bin/sh", "printf a; yes \u00E9 | head -c 100000000", true, 0, capped},
        {"/nonexistent/tool", {}, false, 1, "No such file or directory"},
    };
    for (const auto& [program, script, bounded, exitStatus, output] : cases) {
        SCOPED_TRACE((program + u' ' + script.left(80)).toStdString());
        const auto result =
            command(program, {QStringLiteral("-c"), script}, std::nullopt,
                    bounded ? std::optional(std::chrono::steady_clock::now() + 30s) : std::nullopt);
        EXPECT_EQ(result.exitStatus, exitStatus);
        EXPECT_TRUE(result.output == output) << result.output.left(200).toStdString();
        EXPECT_FALSE(result.deadlinePassed);
    }
}

// With SIGCHLD ignored the kernel reaps children itself and waitpid fails:
// a status nobody saw is not a success, with or without a deadline.
TEST(Command, UnknownExitStatusIsAFailure) {
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    const auto plain = command("/bin/sh", {"-c", "echo sent"});
    const auto bounded = command("/bin/sh", {"-c", "echo sent"}, std::nullopt,
                                 std::chrono::steady_clock::now() + 30s);
    std::signal(SIGCHLD, previous);
    for (const auto& result : {plain, bounded}) {
        EXPECT_EQ(std::tuple(result.exitStatus, result.output, result.deadlinePassed),
                  std::tuple(1, QStringLiteral("sent\n"), false));
    }
}

// With an environment of its own, a child inherits only the allowlisted
// variables, never a look-alike, and the caller's entries win over inherited
// ones: a key or a TLS key log exported in the agent's shell reaches no step.
// (The print server and the CA bundle reach the tool in the end-to-end tests.)
TEST(Command, ChildGetsOnlyTheAllowlistedEnvironmentAndItsOwnEntries) {
    // What the agent's shell exported: passed on, then kept back.
    const QByteArrayList inherited =
        QByteArray("PATH=/usr/bin:/bin LANG=de_DE.UTF-8 XDG_STATE_HOME=/tmp/state "
                   "https_proxy=http://proxy:3128")
            .split(' ');
    const QByteArrayList withheld =
        QByteArray("SSLKEYLOGFILE=/tmp/keys QUILLO_EINK_WEBHOOK=https://hook.example/shell "
                   "LD_PRELOAD=/tmp/spy.so LANGUAGE=de XDG_=bare LC=bare PATHS=/tmp "
                   "HTTPS_PROXY_EXTRA=x LC_TIME=C QUILLO_PRINT_TOKEN=key-from-the-shell")
            .split(' ');
    const auto name = [](const QByteArray& entry) { return entry.left(entry.indexOf('=')); };
    for (const QByteArray& entry : inherited + withheld) {
        qputenv(name(entry).constData(), entry.mid(name(entry).size() + 1));
    }
    const auto result =
        command(QStringLiteral("/usr/bin/env"), {},
                CommandEnvironment{{"QUILLO_PRINT_TOKEN", "step-key"}, {"LC_TIME", "POSIX"}});
    for (const QByteArray& entry : inherited + withheld) {
        qunsetenv(name(entry).constData());
    }
    const QStringList lines = result.output.split(u'\n', Qt::SkipEmptyParts);
    for (const QByteArray& entry : inherited + withheld) {
        EXPECT_EQ(lines.contains(QString::fromUtf8(entry)), inherited.contains(entry))
            << entry.data();
    }
    EXPECT_EQ(lines.filter(QRegularExpression("^(QUILLO_PRINT_TOKEN|LC_TIME)=")),
              QStringList({"LC_TIME=POSIX", "QUILLO_PRINT_TOKEN=step-key"}));
}

// Gone, or a zombie waiting for init to reap it.
bool processEnded(const QString& pid) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ")) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(Command, DeadlineKillsTheWholeProcessGroup) {
    // A child that hangs; one that exits at once while its background
    // grandchild holds the pipe; one that closes its output and keeps running.
    for (const char* script : {"sleep 60 & echo $!; wait", "sleep 60 & echo $!",
                               "sleep 60 >/dev/null 2>&1 & echo $!; exec >&- 2>&-; wait"}) {
        SCOPED_TRACE(script);
        const auto result = command("/bin/sh", {"-c", script}, std::nullopt,
                                    std::chrono::steady_clock::now() + 500ms);
        EXPECT_TRUE(result.deadlinePassed);
        ASSERT_FALSE(result.output.trimmed().isEmpty());
        EXPECT_TRUE(processEnded(result.output.trimmed()));
    }
}

// The agent's steps run on a pool of threads: a run, a preview render and a
// keyring read may each start a child at once. A pipe that leaked into
// another thread's child would hold its reader until that child ended.
TEST(Command, ChildrenOfOtherThreadsHoldNoneOfAStepsPipes) {
    std::array<CommandResult, 8> results;
    {
        std::vector<std::jthread> threads;
        for (std::size_t index = 0; index < results.size(); ++index) {
            threads.emplace_back([&results, index] {
                // Even threads' children live five seconds; odd ones give up after four.
                const bool lasting = index % 2 == 0;
                results[index] = command(
                    "/bin/sh", {"-c", lasting ? "exec sleep 5" : "echo b"}, std::nullopt,
                    lasting ? std::nullopt : std::optional(std::chrono::steady_clock::now() + 4s),
                    QByteArray("input"));
            });
        }
    }
    for (std::size_t index = 0; index < results.size(); ++index) {
        EXPECT_EQ(std::pair(results[index].output, results[index].deadlinePassed),
                  std::pair(QString(index % 2 == 0 ? "" : "b\n"), false))
            << index;
    }
}

} // namespace
} // namespace quillo
