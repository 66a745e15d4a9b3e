#include "QuilloBar/LoginItem.h"

#include "agent/Command.h"
#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(LoginItem, EntryIsWrittenSkippedAndRemoved) {
    const QTemporaryDir config;
    const LoginItem item(config.filePath(QStringLiteral("autostart")));
    EXPECT_FALSE(item.isEnabled());
    item.registerItem(QStringLiteral("/opt/quillo/bin/quillo-bar"));
    EXPECT_TRUE(item.isEnabled());
    // gio launch below checks the rest of the entry.
    const QByteArray entry = testing::readFile(item.entryPath());
    EXPECT_TRUE(entry.contains("\nX-GNOME-Autostart-enabled=true\n"));
    for (const char* skip : {"Hidden=true", "Hidden = true", "X-GNOME-Autostart-enabled=false"}) {
        testing::writeFile(item.entryPath(), entry + skip + '\n');
        EXPECT_FALSE(item.isEnabled()) << skip;
    }
    testing::writeFile(item.entryPath(), entry + "[Desktop Action Other]\nHidden=true\n");
    EXPECT_TRUE(item.isEnabled());
    item.unregisterItem();
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    EXPECT_NO_THROW(item.unregisterItem());
}

// GLib's desktop entry launcher, as GNOME's session uses it, runs the program
// at each awkward path.
TEST(LoginItem, ExecQuotingRunsTheProgramThroughGio) {
    // GLib's launcher cannot run a path with "%" at all, so the field-code
    // escape is checked as text.
    EXPECT_EQ(desktopExecValue(QStringLiteral("/opt/100%/quillo-bar")),
              QStringLiteral("/opt/100%%/quillo-bar"));
    const QTemporaryDir config;
    for (const QString& folder :
         {QStringLiteral("My Apps (2)"), QStringLiteral("a$b`c\"d\\e'f~;&|*?#<>")}) {
        SCOPED_TRACE(folder.toStdString());
        const QString program = config.filePath(folder) + QStringLiteral("/quillo-bar");
        const QString marker = config.filePath(QStringLiteral("ran"));
        ASSERT_TRUE(QDir().mkpath(config.filePath(folder)));
        testing::writeProgram(program, "#!/bin/sh\nprintf %s \"$0\" > '" + marker.toUtf8() + "'\n");
        QFile::remove(marker);
        const LoginItem item(config.filePath(QStringLiteral("autostart")));
        item.registerItem(program);
        const auto launch =
            command(QStringLiteral("/usr/bin/gio"), {QStringLiteral("launch"), item.entryPath()});
        ASSERT_EQ(launch.exitStatus, 0) << launch.output.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10000));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return testing::readFile(marker) == program.toUtf8(); }, 2000));
    }
}

} // namespace
} // namespace quillo
