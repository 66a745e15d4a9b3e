// The tray item in a real panel: xfce4-panel's status tray, dark, on the test
// display, with the agent run from the build tree as scripts/run.sh runs it.
// The panel is read the way the reader sees it, in a screenshot.
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace quillo {
namespace {

constexpr int panelHeight = 48;

// Across the top of the screen, with only the status tray on it; dark-mode
// and the background's gray level filled in.
const char* const panelChannel = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="%1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="48"/>
      <property name="background-style" type="uint" value="1"/>
      <property name="background-rgba" type="array">
        <value type="double" value="%2"/><value type="double" value="%2"/>
        <value type="double" value="%2"/><value type="double" value="1"/>
      </property>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="icon-size" type="int" value="32"/>
    </property>
  </property>
</channel>
)";

// The screen as the gray level of each pixel; empty when it cannot be read.
struct Screenshot {
    int width = 0;
    int height = 0;
    QByteArray gray;

    [[nodiscard]] int at(int x, int y) const {
        return static_cast<unsigned char>(gray[(y * width) + x]);
    }
    // The pixels of `area` whose level lies in [low, high], and the box around them.
    [[nodiscard]] std::pair<int, QRect> between(int low, int high, const QRect& area) const {
        int count = 0;
        QRect box;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                if (at(x, y) >= low && at(x, y) <= high) {
                    ++count;
                    box |= QRect(x, y, 1, 1);
                }
            }
        }
        return {count, box};
    }
    [[nodiscard]] std::pair<int, QRect> lighterThan(int level, const QRect& area) const {
        return between(level + 1, 255, area);
    }
    [[nodiscard]] std::pair<int, QRect> darkerThan(int level, const QRect& area) const {
        return between(0, level - 1, area);
    }
    [[nodiscard]] bool within(int low, int high, const QRect& area) const {
        return between(low, high, area).first == area.width() * area.height();
    }
    // The pixels of `area` that differ clearly from the same ones in `other`.
    [[nodiscard]] QRect panel() const { return {0, 0, width, panelHeight}; }
    [[nodiscard]] int changedFrom(const Screenshot& other, const QRect& area) const {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                count += std::abs(at(x, y) - other.at(x, y)) > 40 ? 1 : 0;
            }
        }
        return count;
    }
};

// xwd's picture of the screen, made a plain PPM by netpbm, whatever the
// server's visual and byte order.
Screenshot screenshot(const QProcessEnvironment& environment) {
    const testing::ProcessOutcome outcome = testing::runProgram(
        QStringLiteral("/bin/sh"), {"-c", "xwd -root -silent | xwdtopnm -quiet | pamdepth 255"}, {},
        environment);
    const QList<QByteArray> header = outcome.standardOutput.left(64).split('\n');
    const QList<QByteArray> size = header.value(1).split(' ');
    const int width = size.value(0).toInt();
    const int height = size.value(1).toInt();
    const qsizetype start =
        header.value(0).size() + header.value(1).size() + header.value(2).size() + 3;
    if (outcome.exitStatus != 0 || header.value(0) != "P6" || header.value(2) != "255" ||
        width <= 0 || outcome.standardOutput.size() != start + (qsizetype(3) * width * height)) {
        return {};
    }
    Screenshot shot{width, height, QByteArray(qsizetype(width) * height, '\0')};
    const auto* rgb =
        reinterpret_cast<const unsigned char*>(outcome.standardOutput.constData()) + start;
    for (qsizetype pixel = 0; pixel < shot.gray.size(); ++pixel) {
        const int sum = rgb[3 * pixel] + rgb[(3 * pixel) + 1] + rgb[(3 * pixel) + 2];
        shot.gray[pixel] = static_cast<char>(sum / 3);
    }
    return shot;
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
        QFile preferences(config + "/quillo/quillo-bar.conf");
        ASSERT_TRUE(preferences.open(QIODevice::WriteOnly) &&
                    preferences.write("[General]\ndidShowWelcome=true\n") > 0);
    }

    void TearDown() override { stop(); }

    // The private bus starts no service on demand: the settings store first.
    void startPanel(bool dark, double background) {
        QFile channel(channels + "/xfce4-panel.xml");
        ASSERT_TRUE(channel.open(QIODevice::WriteOnly) &&
                    channel.write(QString::fromLatin1(panelChannel)
                                      .arg(dark ? "true" : "false", QString::number(background))
                                      .toUtf8()) > 0);
        channel.close();
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
        for (QProcess* process : {&agent, &panel, &settingsStore}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000)) {
                    process->kill();
                    process->waitForFinished();
                }
            }
        }
        if (!QTest::qWaitFor([this] { return !watcherOwned(); }, 10000)) {
            ADD_FAILURE() << "the panel's status tray did not stop";
        }
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
    struct Row {
        bool dark;
        double background;
        bool glyphLighter; // than `level`, else darker
        int level;
    };
    for (const Row& row : {Row{true, 0.1, true, 215}, Row{false, 0.95, false, 120}}) {
        SCOPED_TRACE(row.dark ? "dark panel" : "light panel");
        startPanel(row.dark, row.background);
        const int backgroundLevel = static_cast<int>(row.background * 255);
        const auto glyphPixels = [&](const Screenshot& shot) {
            return row.glyphLighter ? shot.lighterThan(row.level, shot.panel())
                                    : shot.darkerThan(row.level, shot.panel());
        };
        Screenshot before;
        const bool plain = QTest::qWaitFor(
            [&] {
                before = screenshot(environment);
                return before.width > 0 &&
                       before.within(backgroundLevel - 8, backgroundLevel + 8, before.panel());
            },
            30000);
        ASSERT_TRUE(plain) << "the panel was not drawn plain across the screen";

        agent.setProcessEnvironment(environment);
        agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        agent.start(testing::buildRoot() + "/bin/quillo-bar", {});
        QRect glyph;
        const auto drawn = [&] {
            return QTest::qWaitFor(
                [&] {
                    // A glyph's worth, not a panel that is not drawn yet.
                    const auto [count, box] = glyphPixels(screenshot(environment));
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
        EXPECT_LE(glyph.width(), 40);
        EXPECT_LE(glyph.height(), 40);

        const QString x = QString::number(glyph.center().x());
        const QString y = QString::number(glyph.center().y());
        ASSERT_EQ(testing::runProgram(QStringLiteral("xdotool"), {"mousemove", x, y, "click", "1"},
                                      {}, environment)
                      .exitStatus,
                  0);
        const QRect below = QRect(glyph.center().x() - 100, panelHeight + 4, 200, 100)
                                .intersected(QRect(0, 0, before.width, before.height));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return screenshot(environment).changedFrom(before, below) > below.width() * 50; },
            10000))
            << "no menu opened below the icon";
        stop();
    }
}

} // namespace
} // namespace quillo
