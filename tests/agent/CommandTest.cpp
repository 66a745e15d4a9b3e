#include "agent/Command.h"

#include <QFile>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

CommandResult shell(const QString& script,
                    const std::optional<CommandEnvironment>& environment = std::nullopt,
                    std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) {
    return command(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, environment,
                   deadline);
}

// A process that has gone, or is a zombie waiting for init to reap it.
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

TEST(Command, CollectsBothStreamsInArrivalOrderWithExitStatus) {
    struct Case {
        const char* script;
        int exitStatus;
        QString output;
    };
    const std::vector<Case> cases{
        {"printf 'only errors' >&2", 0, QStringLiteral("only errors")},
        {"printf out1; printf err1 >&2; printf out2; printf err2 >&2", 0,
         QStringLiteral("out1err1out2err2")},
        {"echo 'network down'; exit 3", 3, QStringLiteral("network down\n")},
        {"printf '\\303\\251t\\303\\251 \\342\\200\\246'", 0, QStringLiteral("été …")},
        {"kill -9 $$", 9, QString()},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.script);
        const auto result = shell(QString::fromUtf8(testCase.script));
        EXPECT_EQ(result.exitStatus, testCase.exitStatus);
        EXPECT_EQ(result.output, testCase.output);
        EXPECT_FALSE(result.deadlinePassed);
    }
}

TEST(Command, OutputThatIsNotUtf8IsEmpty) {
    for (const char* script : {"printf 'ok \\377 ok'", "printf 'cut short \\303'"}) {
        SCOPED_TRACE(script);
        const auto result = shell(QString::fromUtf8(script));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_TRUE(result.output.isEmpty());
    }
}

TEST(Command, SeveralMegabytesOnBothStreamsComplete) {
    const auto result = shell(QStringLiteral(
        "head -c 3000000 /dev/zero | tr '\\0' a; head -c 2000000 /dev/zero | tr '\\0' b >&2"));
    EXPECT_EQ(result.exitStatus, 0);
    ASSERT_EQ(result.output.size(), 5'000'000);
    EXPECT_EQ(result.output.count(QLatin1Char('a')), 3'000'000);
    EXPECT_TRUE(result.output.endsWith(QLatin1Char('b')));
}

TEST(Command, StartFailureIsStatusOneWithTheReason) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString notExecutable = directory.filePath(QStringLiteral("plain.txt"));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho never\n");
    file.close();

    const auto missing = command(directory.filePath(QStringLiteral("absent")), {});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.output, QStringLiteral("No such file or directory"));

    const auto refused = command(notExecutable, {}, CommandEnvironment{});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, QStringLiteral("Permission denied"));
}

TEST(Command, ArgumentsArePassedVerbatim) {
    const QStringList arguments{QStringLiteral("sh"), QStringLiteral("two words"),
                                QStringLiteral("$HOME"), QStringLiteral("")};
    const auto result = command(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"), QStringLiteral("printf '[%s]' \"$@\"")} + arguments);
    EXPECT_EQ(result.output, QStringLiteral("[two words][$HOME][]"));
}

TEST(Command, ExtraEnvironmentIsMergedOverTheInheritedOneForTheChildOnly) {
    qputenv("QUILLO_RUNNER_PROBE", "parent");
    qputenv("QUILLO_RUNNER_KEPT", "kept");
    const QString script = QStringLiteral("printf '%s|%s|%s' \"$QUILLO_RUNNER_PROBE\" "
                                          "\"$QUILLO_RUNNER_KEPT\" \"${QUILLO_RUNNER_NEW-unset}\"");

    const auto merged = shell(script, CommandEnvironment{{"QUILLO_RUNNER_PROBE", "child"},
                                                         {"QUILLO_RUNNER_NEW", "new value"}});
    EXPECT_EQ(merged.output, QStringLiteral("child|kept|new value"));
    EXPECT_EQ(qgetenv("QUILLO_RUNNER_PROBE"), "parent");
    EXPECT_FALSE(qEnvironmentVariableIsSet("QUILLO_RUNNER_NEW"));

    const auto inherited = shell(script);
    const auto emptyMap = shell(script, CommandEnvironment{});
    EXPECT_EQ(inherited.output, QStringLiteral("parent|kept|unset"));
    EXPECT_EQ(emptyMap.output, inherited.output);
    // Nothing is dropped or duplicated on the way either.
    EXPECT_EQ(command(QStringLiteral("/usr/bin/env"), {}, CommandEnvironment{}).output,
              command(QStringLiteral("/usr/bin/env"), {}).output);
    qunsetenv("QUILLO_RUNNER_PROBE");
    qunsetenv("QUILLO_RUNNER_KEPT");
}

TEST(Command, ParallelCallsKeepTheirOutputsApart) {
    std::vector<std::future<CommandResult>> runs;
    runs.reserve(8);
    for (int index = 0; index < 8; ++index) {
        runs.push_back(std::async(std::launch::async, [index] {
            return shell(QStringLiteral("sleep 0.0%1; echo run %1").arg(index));
        }));
    }
    for (int index = 0; index < 8; ++index) {
        EXPECT_EQ(runs[static_cast<size_t>(index)].get().output,
                  QStringLiteral("run %1\n").arg(index));
    }
}

TEST(Command, DeadlineKillsTheWholeProcessGroup) {
    struct Case {
        const char* name;
        const char* script;
    };
    // A child that hangs; one that exits at once while its background
    // grandchild holds the pipe; one that closes its output and keeps running.
    const std::vector<Case> cases{
        {"sleeping child", "sleep 60 & echo $!; wait"},
        {"grandchild holds the pipe", "sleep 60 & echo $!"},
        {"output closed early", "sleep 60 >/dev/null 2>&1 & echo $!; exec >&- 2>&-; wait"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const auto result = shell(QString::fromUtf8(testCase.script), std::nullopt,
                                  std::chrono::steady_clock::now() + 500ms);
        EXPECT_TRUE(result.deadlinePassed);
        const QString sleeper = result.output.trimmed();
        ASSERT_FALSE(sleeper.isEmpty());
        EXPECT_TRUE(processEnded(sleeper));
    }
}

TEST(Command, ChildFinishingBeforeTheDeadlineIsUntouched) {
    const auto result = shell(QStringLiteral("echo done; exit 4"), CommandEnvironment{},
                              std::chrono::steady_clock::now() + 30s);
    EXPECT_FALSE(result.deadlinePassed);
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.output, QStringLiteral("done\n"));
}

} // namespace
} // namespace quillo
