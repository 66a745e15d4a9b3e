// The tray item in a real panel: xfce4-panel's status tray, dark, on the test
// display, with the agent run from the build tree as scripts/run.sh runs it.
// The panel is read the way the reader sees it, in a screenshot.
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace quillo {
namespace {

constexpr int panelHeight = 48;

// The pixels of the panel's strip whose gray level lies in [low, high], and
// the box around them.
std::pair<int, QRect> between(const QImage& shot, int low, int high) {
    int count = 0;
    QRect box;
    for (int y = 0; y < panelHeight; ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const int level = shot.constScanLine(y)[x];
            if (level >= low && level <= high) {
                ++count;
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return {count, box};
}

// The pixels of `area` that differ clearly between the two.
int changed(const QImage& shot, const QImage& other, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += std::abs(shot.constScanLine(y)[x] - other.constScanLine(y)[x]) > 40 ? 1 : 0;
        }
    }
    return count;
}

// The screen in gray, through netpbm, whatever the server's visual; null when
// it cannot be read.
QImage screenshot(const QProcessEnvironment& environment) {
    const testing::ProcessOutcome outcome = testing::runProgram(
        QStringLiteral("/bin/sh"), {"-c", "xwd -root -silent | xwdtopnm -quiet | pamdepth 255"}, {},
        environment);
    return QImage::fromData(outcome.standardOutput, "PPM")
        .convertToFormat(QImage::Format_Grayscale8);
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override {
        const auto display = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
        if (!display) {
            GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xfce4-panel")).isEmpty()) {
            GTEST_SKIP() << "xfce4-panel is not installed (scripts/install-deps.sh installs it)";
        }
        environment = *display;
        const QString config = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
        channels = config + "/xfce4/xfconf/xfce-perchannel-xml";
        ASSERT_TRUE(QDir().mkpath(channels) && QDir().mkpath(config + "/quillo"));
        testing::writeFile(config + "/quillo/quillo-bar.conf", "[General]\ndidShowWelcome=true\n");
    }

    void TearDown() override { stop(); }

    // The private bus starts no service on demand: the settings store first.
    void startPanel(bool dark, double background) {
        const QByteArray source =
            testing::readFile(QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/xfce4-panel.xml"));
        testing::writeFile(channels + "/xfce4-panel.xml",
                           QString::fromUtf8(source)
                               .arg(dark ? "true" : "false", QString::number(background))
                               .toUtf8());
        settingsStore.setProcessEnvironment(environment);
        settingsStore.start(QStringLiteral("/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"), {});
        panel.setProcessEnvironment(environment);
        panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel.start(QStringLiteral("xfce4-panel"), {"--disable-wm-check"});
        ASSERT_TRUE(panel.waitForStarted());
        ASSERT_TRUE(QTest::qWaitFor([this] { return watcherOwned(); }, 30000))
            << "the panel's status tray did not start";
    }

    void stop() {
        // Waiting on a process that is not running returns at once.
        for (QProcess* process : {&agent, &panel, &settingsStore}) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished();
            }
        }
        EXPECT_TRUE(QTest::qWaitFor([this] { return !watcherOwned(); }, 10000))
            << "the panel's status tray did not stop";
    }

    [[nodiscard]] bool watcherOwned() const {
        return testing::runProgram(QStringLiteral("dbus-send"),
                                   {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner",
                                    "string:org.kde.StatusNotifierWatcher"},
                                   {}, environment)
                   .exitStatus == 0;
    }

    QProcessEnvironment environment;
    QString channels;
    QProcess settingsStore;
    QProcess panel;
    QProcess agent;
};

// The glyph is drawn in the panel's own colour, light on the dark panel and
// dark on the light one: the panel found the symbolic icon by name through
// the item's theme path. As the file draws it (#bebebe, gray level 190) it
// would be neither, and so is it in a panel that restarted. A click on it
// reaches the agent, whose menu opens below.
TEST_F(Panel, DrawsTheTrayIconInThePanelsColourAndOpensTheMenuOnAClick) {
    // Dark or light, the panel's gray, then the glyph's lowest and highest gray level.
    for (const auto& [dark, background, low, high] :
         {std::tuple{true, 0.1, 216, 255}, {false, 0.95, 0, 119}}) {
        SCOPED_TRACE(dark ? "dark panel" : "light panel");
        startPanel(dark, background);
        const int backgroundLevel = static_cast<int>(background * 255);
        QImage before;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                before = screenshot(environment);
                return !before.isNull() &&
                       between(before, backgroundLevel - 8, backgroundLevel + 8).first ==
                           before.width() * panelHeight;
            },
            30000))
            << "the panel was not drawn plain across the screen";

        agent.setProcessEnvironment(environment);
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.start(testing::buildRoot() + "/bin/quillo-bar", {});
        QRect glyph;
        const auto drawn = [&] {
            return QTest::qWaitFor(
                [&] {
                    // A glyph's worth, not a panel that is not drawn yet.
                    const QImage shot = screenshot(environment);
                    const auto [count, box] = between(shot, low, high);
                    glyph = box;
                    return count >= 40 && box.width() <= 40 && box.height() <= 40;
                },
                30000);
        };
        ASSERT_TRUE(drawn()) << "no glyph in the panel's colour";
        // A panel that restarts finds the item as it was.
        panel.terminate();
        ASSERT_TRUE(panel.waitForFinished(10000));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !watcherOwned(); }, 10000));
        panel.start(QStringLiteral("xfce4-panel"), {"--disable-wm-check"});
        ASSERT_TRUE(drawn()) << "no glyph in the panel's colour after the panel restarted";

        const QStringList click{"mousemove", QString::number(glyph.center().x()),
                                QString::number(glyph.center().y()), "click", "1"};
        ASSERT_EQ(testing::runProgram(QStringLiteral("xdotool"), click, {}, environment).exitStatus,
                  0);
        const QRect below =
            QRect(glyph.center().x() - 100, panelHeight + 4, 200, 100).intersected(before.rect());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return changed(screenshot(environment), before, below) > below.width() * 50; },
            10000))
            << "no menu opened below the icon";
        stop();
    }
}

} // namespace
} // namespace quillo
