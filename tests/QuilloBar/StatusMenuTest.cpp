// The tray menu from its state, and the launch decisions from the arguments
// and the stored state.
#include "QuilloBar/StatusMenu.h"

#include "QuilloBar/Launch.h"

#include <QMenu>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

TEST(StatusMenu, ItemsAndTheirStatesFollowTheState) {
    struct Case {
        MenuState state;
        bool read;
        bool sync;
    };
    const std::vector<Case> cases{
        {{QStringLiteral("Connect your newspaper in Settings"), false, false, false}, false, false},
        {{QStringLiteral("Checking for a new issue\u2026"), true, true, true}, true, false},
        {{QStringLiteral("Sent to print queue"), false, true, false}, false, true},
        {{QStringLiteral("Add your delivery key"), false, false, true}, true, false},
    };
    StatusMenu menu;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.state.status.toStdString());
        menu.show(testCase.state);
        QStringList titles;
        std::vector<bool> enabled;
        for (const QAction* action : menu.menu()->actions()) {
            titles.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            enabled.push_back(action->isSeparator() || action->isEnabled());
        }
        EXPECT_EQ(titles,
                  QStringList({testCase.state.status, "-", "Read latest issue", "Sync now\u2026",
                               "-", "Settings\u2026", "Open Quillo", "-", "Quit Quillo"}));
        EXPECT_EQ(enabled, std::vector<bool>({false, true, testCase.read, testCase.sync, true, true,
                                              true, true, true}));
    }

    // Each item says which action was chosen.
    menu.show({QStringLiteral("Sent to print queue"), false, true, true});
    const std::vector<std::pair<int, void (StatusMenu::*)()>> items{
        {2, &StatusMenu::readLatestIssue},
        {3, &StatusMenu::syncNow},
        {5, &StatusMenu::showSettings},
        {6, &StatusMenu::openSite},
        {8, &StatusMenu::quit}};
    for (const auto& [index, signal] : items) {
        QSignalSpy spy(&menu, signal);
        menu.menu()->actions().at(index)->trigger();
        EXPECT_EQ(spy.count(), 1) << index;
    }
}

// The cut counts user-perceived characters; the title stays one literal line.
TEST(StatusMenu, StatusTitleIsTheFirstNinetyCharactersOnOneLiteralLine) {
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1FA\U0001F1F8");
    const std::vector<std::pair<QString, QString>> cases{
        {QString(90, u'a'), QString(90, u'a')},
        {QString(91, u'a'), QString(90, u'a')},
        {accent.repeated(91), accent.repeated(90)},
        {QString(89, u'a') + flag + flag, QString(89, u'a') + flag},
        {QStringLiteral("Check failed: A & B\tC\r\nD"),
         QStringLiteral("Check failed: A && B C  D")},
    };
    for (const auto& [status, title] : cases) {
        EXPECT_EQ(StatusMenu::statusTitle(status), title) << status.toStdString();
    }
}

TEST(Launch, PlanFollowsArgumentsStoredStateAndTray) {
    struct Case {
        const char* name;
        QStringList arguments;
        LaunchState state;
        LaunchPlan plan;
    };
    const QString build = QStringLiteral("f00d");
    const QString preview = QStringLiteral("--preview-settings");
    const QString snapshot = QStringLiteral("--snapshot");
    // schedule, record welcome, show settings, unlock, snapshot
    const std::vector<Case> cases{
        {"first launch", {}, {false, std::nullopt, build, true}, {true, true, true, false, {}}},
        {"build changed",
         {},
         {true, QStringLiteral("beef"), build, true},
         {true, true, true, false, {}}},
        {"authorized", {}, {true, build, build, true}, {true, false, false, true, {}}},
        {"asked to show",
         {"--show-settings"},
         {true, build, build, true},
         {true, true, true, true, {}}},
        {"no tray", {}, {true, build, build, false}, {true, false, true, true, {}}},
        {"no fingerprint", {}, {true, QString(), QString(), true}, {true, true, true, false, {}}},
        {"preview wins",
         {preview, "--show-settings"},
         {false, std::nullopt, build, true},
         {false, false, true, false, {}}},
        {"snapshot",
         {preview, snapshot, "a.png", snapshot, "b.png"},
         {true, build, build, true},
         {false, false, true, false, QStringLiteral("a.png")}},
        {"snapshot last",
         {preview, snapshot},
         {true, build, build, true},
         {false, false, true, false, {}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const LaunchPlan plan =
            planLaunch(LaunchArguments::parse(testCase.arguments), testCase.state);
        EXPECT_EQ(plan.scheduleRuns, testCase.plan.scheduleRuns);
        EXPECT_EQ(plan.recordWelcome, testCase.plan.recordWelcome);
        EXPECT_EQ(plan.showSettings, testCase.plan.showSettings);
        EXPECT_EQ(plan.unlockSilently, testCase.plan.unlockSilently);
        EXPECT_EQ(plan.snapshotPath, testCase.plan.snapshotPath);
    }
}

} // namespace
} // namespace quillo
