// What a launch does: its plan from the arguments and the stored state, one
// agent per user, and the tray menu it shows.
#include "QuilloBar/app/Launch.h"

#include "QuilloBar/app/StatusMenu.h"
#include "QuilloBar/desktop/SingleInstance.h"
#include "tests/support/QuilloBarProcess.h"

#include <QFileInfo>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

// Columns: arguments, welcome shown, stored build, running build, tray;
// then what the launch does: record the welcome, show the settings,
// unlock silently, snapshot path.
TEST(Launch, PlanFollowsArgumentsStoredStateAndTray) {
    using Plan = std::tuple<bool, bool, bool, std::optional<QString>>;
    const QString build = QStringLiteral("f00d");
    const QString preview = QStringLiteral("--preview-settings");
    const QString snapshot = QStringLiteral("--snapshot");
    const std::vector<std::pair<std::pair<QStringList, LaunchState>, Plan>> cases{
        {{{}, {false, std::nullopt, build, true}}, {true, true, false, {}}},
        {{{}, {true, build, build, true}}, {false, false, true, {}}},
        {{{"--show-settings"}, {true, build, build, true}}, {true, true, true, {}}},
        {{{}, {true, QString(), QString(), true}}, {true, true, false, {}}},
        {{{preview, snapshot, "a.png", snapshot, "b"}, {}}, {false, true, false, "a.png"}},
        {{{preview, "--show-settings", snapshot}, {}}, {false, true, false, {}}},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input.first.join(u' ').toStdString());
        const LaunchPlan plan = planLaunch(LaunchArguments::parse(input.first), input.second);
        EXPECT_EQ(
            Plan(plan.recordWelcome, plan.showSettings, plan.unlockSilently, plan.snapshotPath),
            expected);
    }
}

// Through the built executable: a later launch reopens the running agent and
// leaves; a socket left by a killed agent is taken over.
TEST(SingleInstance, LaterLaunchesReopenTheRunningAgentWhichMayHaveDied) {
    const QString folder = SingleInstance::defaultDirectory();
    QProcess first;
    first.start(testing::buildRoot() + QStringLiteral("/bin/quillo-bar"), {});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QFileInfo::exists(folder + "/quillo-bar.socket"); }, 20000));
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x77, 0); // nothing for group or others
    first.kill();
    first.waitForFinished();

    SingleInstance instance(folder);
    ASSERT_EQ(instance.claim(false), SingleInstance::Role::primary);
    ASSERT_TRUE(instance.serve());
    QList<std::pair<bool, QByteArray>> reopened;
    QObject::connect(&instance, &SingleInstance::reopenRequested,
                     [&](bool showSettings, const QByteArray& token) {
                         reopened.append({showSettings, token});
                     });
    // The launch's activation token rides along: Wayland's before X11's, and
    // one that is not a token (a space in it) is not passed on.
    const QByteArray longest(512, 'T');
    const std::vector<std::tuple<QStringList, QByteArray, QByteArray, QByteArray>> launches{
        {{"--show-settings"}, {}, {}, {}}, {{}, "wayland/1", "x11_TIME7", "wayland/1"},
        {{}, {}, longest, longest},        {{}, {}, longest + 'T', {}},
        {{}, "two words", {}, {}},
    };
    QList<std::pair<bool, QByteArray>> expected;
    for (const auto& [arguments, wayland, x11, passed] : launches) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_ACTIVATION_TOKEN", QString::fromLatin1(wayland));
        environment.insert("DESKTOP_STARTUP_ID", QString::fromLatin1(x11));
        const auto later = testing::runQuilloBar(arguments, {}, environment);
        EXPECT_EQ(later.exitStatus, 0) << later.standardError.data();
        expected.append({!arguments.isEmpty(), passed});
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return reopened.size() == 5; }, 10000));
    EXPECT_EQ(reopened, expected);
}

// The status line is cut after 90 user-perceived characters (an accent and
// its letter are one) and stays one literal line. "Read latest issue" waits
// for a cached issue. (The other items' states, the tray shell reads end to end.)
TEST(StatusMenu, TitleIsTheStatusCutToOneLiteralLine) {
    const QString accent = QStringLiteral("e\u0301");
    const QString a89 = QString(89, u'a');
    const std::vector<std::pair<QString, QString>> cases{
        {a89 + u'a', a89 + u'a'},
        {accent.repeated(91), accent.repeated(90)},
        {"A & B\tC\r\nD", "A && B C  D"},
    };
    StatusMenu menu;
    for (const auto& [status, title] : cases) {
        menu.show({status});
        EXPECT_EQ(menu.menu()->actions()[0]->text(), title) << status.toStdString();
    }
    EXPECT_FALSE(menu.menu()->actions()[2]->isEnabled()) << "Read latest issue without an issue";
}

} // namespace
} // namespace quillo
