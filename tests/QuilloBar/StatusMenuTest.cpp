// The tray menu from its state, and the launch decisions from the arguments
// and the stored state.
#include "QuilloBar/StatusMenu.h"

#include "QuilloBar/Launch.h"

#include <QMenu>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

// The status line is cut after 90 user-perceived characters and stays one
// literal line; the other items' states follow the state.
TEST(StatusMenu, ItemsAndTheirStatesFollowTheState) {
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1FA\U0001F1F8");
    struct Case {
        MenuState state;
        QString title;
        bool read;
        bool sync;
    };
    const std::vector<Case> cases{
        {{QString(90, u'a'), false, false, false}, QString(90, u'a'), false, false},
        {{QString(91, u'a'), true, true, true}, QString(90, u'a'), true, false},
        {{accent.repeated(91), false, true, false}, accent.repeated(90), false, true},
        {{QString(89, u'a') + flag + flag, false, false, true},
         QString(89, u'a') + flag,
         true,
         false},
        {{"Check failed: A & B\tC\r\nD", false, true, true},
         "Check failed: A && B C  D",
         true,
         true},
    };
    StatusMenu menu;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.state.status.toStdString());
        menu.show(testCase.state);
        QStringList items;
        for (const QAction* action : menu.menu()->actions()) {
            items.append((action->isSeparator() ? QStringLiteral("-") : action->text()) +
                         (action->isEnabled() ? "" : " (off)"));
        }
        const auto off = [](bool enabled) { return enabled ? "" : " (off)"; };
        EXPECT_EQ(items, QStringList({testCase.title + " (off)", "-",
                                      QStringLiteral("Read latest issue") + off(testCase.read),
                                      QStringLiteral("Sync now\u2026") + off(testCase.sync), "-",
                                      "Settings\u2026", "Open Quillo", "-", "Quit Quillo"}));
    }
}

// Columns: arguments, welcome shown, stored build, running build, tray;
// then what the launch does: schedule, record the welcome, show the
// settings, unlock silently, snapshot path.
TEST(Launch, PlanFollowsArgumentsStoredStateAndTray) {
    using Plan = std::tuple<bool, bool, bool, bool, std::optional<QString>>;
    const QString build = QStringLiteral("f00d");
    const QString preview = QStringLiteral("--preview-settings");
    const QString snapshot = QStringLiteral("--snapshot");
    const std::vector<std::pair<std::pair<QStringList, LaunchState>, Plan>> cases{
        {{{}, {false, std::nullopt, build, true}}, {true, true, true, false, {}}},
        {{{}, {true, QStringLiteral("beef"), build, true}}, {true, true, true, false, {}}},
        {{{}, {true, build, build, true}}, {true, false, false, true, {}}},
        {{{"--show-settings"}, {true, build, build, true}}, {true, true, true, true, {}}},
        {{{}, {true, build, build, false}}, {true, false, true, true, {}}},
        {{{}, {true, QString(), QString(), true}}, {true, true, true, false, {}}},
        {{{preview, "--show-settings"}, {false, {}, build, true}}, {false, false, true, false, {}}},
        {{{preview, snapshot, "a.png", snapshot, "b"}, {}}, {false, false, true, false, "a.png"}},
        {{{preview, snapshot}, {}}, {false, false, true, false, {}}},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input.first.join(u' ').toStdString());
        const LaunchPlan plan = planLaunch(LaunchArguments::parse(input.first), input.second);
        EXPECT_EQ(Plan(plan.scheduleRuns, plan.recordWelcome, plan.showSettings,
                       plan.unlockSilently, plan.snapshotPath),
                  expected);
    }
}

} // namespace
} // namespace quillo
