// The settings window as Orca speaks it: Orca itself, speech off, reads the
// real agent on the test's X display while xdotool presses the keys; its
// debug log holds every sentence it would speak.
#include "tests/support/QuilloBarProcess.h"

#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

// A first launch without a tray: each control is reached by the keyboard and
// named, and a save refused takes the focus to the field at fault. Each row is
// a command to the reader and what Orca says meanwhile; a typed secret is only
// ever spoken as masks, and rows that hold one are never printed. (Orca keeps
// the keypad's Enter for itself.)
TEST(Orca, SpeaksEachStepAndNoSecret) {
    auto environment = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
    if (!environment) {
        GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
    }
    environment->insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    testing::TrayShell reader(*environment, QStringLiteral("screen_reader.py"), {"orca"});
    const QString started = reader.ask();
    if (started == "no orca") {
        GTEST_SKIP() << "Orca is not installed (scripts/install-deps.sh installs it)";
    }
    ASSERT_EQ(started, "ready");
    QProcess agent;
    agent.setProcessEnvironment(*environment);
    agent.start(testing::buildRoot() + "/bin/quillo-bar", {});

    const QString webhook = QStringLiteral("https://trmnl.com/api/x");
    const std::vector<std::pair<QByteArray, QString>> rows{
        {"said 3", "Quillo frame.|Delivery key password text.|Paste it from your newsroom."},
        {"key Tab", "Get a key in your newsroom \u2197 push button."},
        {"key shift+Tab", "Delivery key password text.|Paste it from your newsroom."},
        {"key shift+Tab", "Menu push button."},
        {"key shift+Tab", "Save push button."},
        {"key shift+Tab", "Advanced collapsed push button."},
        {"key shift+Tab", "Open at login check box not checked."},
        {"key shift+Tab", "Deliver new issues automatically check box not checked."},
        {"key shift+Tab", "Pages combo box.|Up to 3 pages."},
        {"key shift+Tab", "Printer combo box.|Choose a printer."},
        {"key shift+Tab", "Deliver to panel.|Printer.|selected radio button"},
        {"key Right", "E-ink.|selected radio button"},
        {"key Tab", "Display combo box.|TRMNL OG \u00B7 800 \u00D7 480."},
        {"key Tab", "Webhook password text.|TRMNL image webhook URL."},
        {"key Tab", "How to connect TRMNL \u2197 push button."},
        {"key Tab", "Preview image push button."},
        {"key Tab", "Deliver new issues automatically check box not checked."},
        {"key Tab", "Open at login check box not checked."},
        {"key Tab", "Advanced collapsed push button."},
        {"key Return", "expanded"},
        {"key Tab", "Service text.|https://quillo.new selected."},
        {"key ctrl+a", ""},
        {"type https://127.0.0.1:9", ""},
        {"key Return", "Webhook password text.|Paste a valid HTTPS TRMNL image webhook."},
        {"key Return", "Paste a valid HTTPS TRMNL image webhook."},
        {"type " + webhook.toUtf8(), "\u25CF"},
        {"leaked " + webhook.toUtf8(), "no"},
        {"key Return", "Delivery key password text.|Add or unlock your delivery key."},
        {"type k-1", "\u25CF"},
        {"leaked k-1", "no"},
        {"key Return", "Saving to your keyring\u2026|Replace push button."},
        {"said 2", "Saved \u00B7 automatic delivery off.|Check failed: Could not connect to the "
                   "service."},
    };
    for (const auto& [command, answer] : rows) {
        const QString said = reader.ask(command + "\n");
        if (command.startsWith("type k") || command.contains(webhook.toUtf8())) {
            // Only its answer, however often: an echo Orca drops is no leak.
            EXPECT_TRUE(!said.isEmpty() && QString(said).remove(answer).remove(u'|').isEmpty())
                << "a row with a secret, left unprinted";
        } else {
            EXPECT_EQ(said.toStdString(), answer.toStdString()) << command.toStdString();
        }
    }
    agent.kill();
    agent.waitForFinished();
}

} // namespace
} // namespace quillo
