// The agent on desktops nobody here wrote: X11 window managers on two screen
// sizes, GNOME Shell, KWin and Plasma on Wayland, each run by a script of tests/support/
// in a process group of its own, which is killed if the script hangs.
#include "tests/support/QuilloBarProcess.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillo {
namespace {

// The script's lines by their first word; "skip:" holds the reason to skip.
QMap<QString, QStringList> runDesktop(const QString& script, const QStringList& arguments) {
    QProcess process;
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/") + script} +
                      arguments);
    if (!process.waitForFinished(240000)) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
    }
    QMap<QString, QStringList> lines;
    for (const QString& line : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
        QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (!words.isEmpty()) {
            lines.insert(words.takeFirst(), words);
        }
    }
    return lines;
}

// The frame lies on the screen and about its middle (the form settles a row
// after it shows); minimising is offered; a launch with the launcher's
// startup id brings the window forward without unmapping it.
TEST(Desktops, X11WindowIsCentredMinimisesAndComesForwardWithoutBlinking) {
    int ran = 0;
    for (const char* manager : {"xfwm4", "metacity", "openbox"}) {
        for (const char* size : {"1280x800", "1366x768"}) {
            SCOPED_TRACE(std::string(manager) + " " + size);
            const auto lines =
                runDesktop(QStringLiteral("x11_desktop.py"), {manager, size, testing::buildRoot()});
            if (lines.contains("skip:")) {
                std::printf("%s skipped: %s\n", manager, qPrintable(lines["skip:"].join(' ')));
                continue;
            }
            ++ran;
            const QStringList screen = lines["screen"];
            const QStringList frame = lines.value("frame", {"0", "0", "0", "0"});
            const QRect area(0, 0, screen.value(0).toInt(), screen.value(1).toInt());
            const QRect box(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt());
            EXPECT_TRUE(area.contains(box)) << frame.join(' ').toStdString();
            EXPECT_LE(std::abs(box.center().x() - area.center().x()), 8);
            EXPECT_LE(std::abs(box.center().y() - area.center().y()), 48);
            EXPECT_EQ(lines["relaunch"].join(' ').toStdString(), "0 focused");
            EXPECT_EQ(lines["minimise"].join(' ').toStdString(), "offered");
        }
    }
    if (ran == 0) {
        GTEST_SKIP() << "no X11 window manager ran here";
    }
}

// GNOME Shell with the AppIndicator extension: the tray icon drawn in the
// bar's colour on every start (the theme path served), also on a start held
// so that the extension reads the item before the agent answers for it; the
// window known as the desktop entry's, the shell's launch focusing it, and a
// launch without a token (a terminal's) at least marking it.
TEST(Desktops, GnomeShellDrawsTheTrayIconAndBringsTheWindowForward) {
    const auto lines =
        runDesktop(QStringLiteral("gnome_shell.py"), {testing::buildRoot(), QStringLiteral("6")});
    if (lines.contains("skip:")) {
        GTEST_SKIP() << lines["skip:"].join(' ').toStdString();
    }
    EXPECT_EQ(lines["tray"].join(' ').toStdString(),
              QStringList(6, "light").join(' ').toStdString());
    if (lines.contains("held-skip:")) {
        std::printf("held start skipped: %s\n", qPrintable(lines["held-skip:"].join(' ')));
    } else {
        EXPECT_EQ(lines["tray-held"].join(' ').toStdString(), "light");
    }
    EXPECT_EQ(lines["entry"].join(' ').toStdString(), "news.quillo.QuilloBar.desktop");
    EXPECT_EQ(lines["shell-launch"].join(' ').toStdString(), "focused");
    EXPECT_TRUE(QStringList({"focused", "attention"}).contains(lines["relaunch"].join(' ')))
        << lines["relaunch"].join(' ').toStdString();
}

// KWin prevents focus stealing as GNOME Shell does: a launch without a token
// still marks the running window, with a token the agent asks for itself.
TEST(Desktops, KWinMarksTheWindowOnARelaunchWithoutToken) {
    const auto lines = runDesktop(QStringLiteral("kwin_wayland.py"), {testing::buildRoot()});
    if (lines.contains("skip:")) {
        GTEST_SKIP() << lines["skip:"].join(' ').toStdString();
    }
    EXPECT_TRUE(QStringList({"focused", "attention"}).contains(lines["relaunch"].join(' ')))
        << lines["relaunch"].join(' ').toStdString();
}

// Plasma's panel draws the tray icon in its own text colour, light on Breeze
// Dark and dark on Breeze, as it does for an icon in KDE's text style; one
// filled with a fixed colour (GNOME's #bebebe, gray level 190) fails both rows.
TEST(Desktops, PlasmaDrawsTheTrayIconInThePanelsTextColour) {
    // The scheme, then the glyph's lowest and highest gray level.
    for (const auto& [scheme, low, high] :
         {std::tuple{"BreezeDark", 225, 255}, {"BreezeLight", 0, 80}}) {
        SCOPED_TRACE(scheme);
        const auto lines = runDesktop(QStringLiteral("plasma_shell.py"),
                                      {testing::buildRoot(), QString::fromLatin1(scheme)});
        if (lines.contains("skip:")) {
            GTEST_SKIP() << lines["skip:"].join(' ').toStdString();
        }
        const QStringList tray = lines["tray"];
        ASSERT_EQ(tray.size(), 2) << tray.join(' ').toStdString();
        EXPECT_GE(tray[0].toInt(), low) << "on a panel of " << tray[1].toStdString();
        EXPECT_LE(tray[0].toInt(), high) << "on a panel of " << tray[1].toStdString();
    }
}

// Qt's KDE theme starts from KDE's colour scheme, here Breeze Dark: the
// desktop's light preference still gives a light window.
TEST(Desktops, KdeDarkColourSchemeGivesWayToTheLightPreference) {
    auto environment = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
    if (!environment) {
        GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
    }
    const QTemporaryDir config;
    ASSERT_TRUE(QFile::copy(QUILLO_SOURCE_ROOT "/tests/support/breeze-dark.kdeglobals",
                            config.filePath("kdeglobals")));
    environment->insert("QT_QPA_PLATFORM", "xcb");
    environment->insert("XDG_CURRENT_DESKTOP", "KDE");
    environment->insert("KDE_SESSION_VERSION", "5");
    environment->insert("XDG_CONFIG_HOME", config.path());
    testing::TrayShell portal(*environment, QStringLiteral("appearance_portal.py"), {"2"});
    ASSERT_EQ(portal.ask(), "ready");
    const QString shot = config.filePath("shot.png");
    ASSERT_EQ(testing::runQuilloBar({"--preview-settings", "--snapshot", shot}, {}, *environment)
                  .exitStatus,
              0);
    EXPECT_GT(QColor(QImage(shot).pixel(2, 2)).lightness(), 192);
}

} // namespace
} // namespace quillo
