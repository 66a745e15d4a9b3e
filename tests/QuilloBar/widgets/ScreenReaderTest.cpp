// The settings window as a keyboard-only reader and a screen reader meet it:
// the real agent on the test's X display, keys pressed with xdotool, the
// accessibility tree read over AT-SPI as Orca reads it.
#include "tests/support/QuilloBarProcess.h"

#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

// A first launch without a tray: the window opens with an empty form. Each
// row is a command to the reader and what it answers: the focused object as
// "role|name|description|states", its parent, or the notifications spoken.
TEST(ScreenReader, EveryControlIsReachedNamedAndOperatedByKeyboard) {
    auto environment = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
    if (!environment) {
        GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
    }
    environment->insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    testing::TrayShell reader(*environment, QStringLiteral("screen_reader.py"));
    ASSERT_EQ(reader.ask(), "ready");
    QProcess agent;
    agent.setProcessEnvironment(*environment);
    agent.start(testing::buildRoot() + "/bin/quillo-bar", {});

    const std::vector<std::pair<QByteArray, QString>> rows{
        {"focus", "password text|Delivery key|Paste it from your newsroom|"},
        {"key Tab", "push button|Get a key in your newsroom \u2197||"},
        {"key Tab", "radio button|Printer||checked"},
        {"parent", "panel|Deliver to"},
        {"key Right", "radio button|E-ink||checked"},
        {"key Tab", "combo box|TRMNL OG \u00B7 800 \u00D7 480||expandable"},
        {"key Tab", "password text|Webhook|TRMNL image webhook URL|"},
        {"key Tab", "push button|How to connect TRMNL \u2197||"},
        {"key Tab", "push button|Preview image||"},
        {"key Tab", "check box|Deliver new issues automatically||"},
        {"key Return", "check box|Deliver new issues automatically||checked"},
        {"key space", "check box|Deliver new issues automatically||"},
        {"key Tab Tab", "push button|Advanced||expandable,collapsed"},
        {"key Return", "push button|Advanced||expandable,expanded"},
        {"key Tab", "text|Service||"},
        {"key ctrl+a", "text|Service||"},
        {"type https://127.0.0.1:9", "text|Service||"},
        {"key Tab", "push button|Open printer queue||"},
        {"key Tab", "push button|Save||"},
        {"key Tab", "push button|Menu|Menu|"},
        {"key Tab", "password text|Delivery key|Paste it from your newsroom|"},
        {"key Return", "password text|Webhook|Paste a valid HTTPS TRMNL image webhook|"},
        {"spoken", ""},
        {"type https://trmnl.com/api/x",
         "password text|Webhook|Paste a valid HTTPS TRMNL image webhook|"},
        {"key Return", "password text|Delivery key|Add or unlock your delivery key|"},
        {"type k-1", "password text|Delivery key|Add or unlock your delivery key|"},
        {"key KP_Enter", "push button|Replace||"},
        {"last-spoken", "Check failed: Could not connect to the service"},
    };
    for (const auto& [command, answer] : rows) {
        EXPECT_EQ(reader.ask(command + "\n").toStdString(), answer.toStdString())
            << command.toStdString();
    }
    agent.kill();
    agent.waitForFinished();
}

} // namespace
} // namespace quillo
