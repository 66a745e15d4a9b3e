#include "agent/Command.h"

#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

CommandResult shell(const char* script,
                    std::optional<std::chrono::steady_clock::time_point> deadline = {}) {
    return command(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromUtf8(script)},
                   std::nullopt, deadline);
}

TEST(Command, CollectsBothStreamsInArrivalOrder) {
    struct Case {
        const char* script;
        int exitStatus;
        QString output;
    };
    const std::vector<Case> cases{
        {"printf 'only errors' >&2", 0, QStringLiteral("only errors")},
        {"printf o1; printf e1 >&2; printf o2; printf e2 >&2", 0, QStringLiteral("o1e1o2e2")},
        {"echo 'network down'; exit 3", 3, QStringLiteral("network down\n")},
        {"printf '\\303\\251t\\303\\251 \\342\\200\\246'", 0, QStringLiteral("été …")},
        {"echo said; kill -9 $$", 9, QStringLiteral("said\n")},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.script);
        const auto result = shell(testCase.script);
        EXPECT_EQ(result.exitStatus, testCase.exitStatus);
        EXPECT_EQ(result.output, testCase.output);
        EXPECT_FALSE(result.deadlinePassed);
    }
}

// With SIGCHLD ignored the kernel reaps children itself and waitpid fails:
// a status nobody saw is not a success, with or without a deadline.
TEST(Command, UnknownExitStatusIsAFailure) {
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    const auto plain = shell("echo sent");
    const auto bounded = shell("echo sent", std::chrono::steady_clock::now() + 30s);
    std::signal(SIGCHLD, previous);
    for (const auto& result : {plain, bounded}) {
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.output, QStringLiteral("sent\n"));
        EXPECT_FALSE(result.deadlinePassed);
    }
}

TEST(Command, SeveralMegabytesOnBothStreamsComplete) {
    const auto result = shell("head -c 3000000 /dev/zero | tr '\\0' a; "
                              "head -c 2000000 /dev/zero | tr '\\0' b >&2");
    ASSERT_EQ(result.output.size(), 5'000'000);
    EXPECT_EQ(result.output.count(QLatin1Char('a')), 3'000'000);
    EXPECT_TRUE(result.output.endsWith(QLatin1Char('b')));
    // Beyond 8 MiB the rest is drained, not kept; a character cut in two is dropped.
    const auto endless = shell("printf a; yes \u00E9 | head -c 100000000");
    EXPECT_EQ(endless.exitStatus, 0);
    EXPECT_EQ(endless.output.size(), 1 + 2 * (((8 << 20) - 1) / 3));
}

TEST(Command, StartFailureIsStatusOneWithTheReason) {
    for (const auto& [program, reason] :
         {std::pair{"/nonexistent/tool", "No such file or directory"},
          std::pair{"/dev/null", "Permission denied"}}) {
        const auto result = command(QString::fromLatin1(program), {}, CommandEnvironment{});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.output, QString::fromLatin1(reason));
    }
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
        const auto result = shell(script, std::chrono::steady_clock::now() + 500ms);
        EXPECT_TRUE(result.deadlinePassed);
        ASSERT_FALSE(result.output.trimmed().isEmpty());
        EXPECT_TRUE(processEnded(result.output.trimmed()));
    }
    const auto inTime = shell("echo done; exit 4", std::chrono::steady_clock::now() + 30s);
    EXPECT_FALSE(inTime.deadlinePassed);
    EXPECT_EQ(inTime.exitStatus, 4);
    EXPECT_EQ(inTime.output, QStringLiteral("done\n"));
}

} // namespace
} // namespace quillo
