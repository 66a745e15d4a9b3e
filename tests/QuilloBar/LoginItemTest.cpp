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

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LoginItem, EntryIsWrittenSkippedAndRemoved) {
    const QTemporaryDir config;
    const LoginItem item(config.filePath(QStringLiteral("autostart")));
    EXPECT_FALSE(item.isEnabled());
    item.registerItem(QStringLiteral("/opt/quillo/bin/quillo-bar"));
    EXPECT_TRUE(item.isEnabled());
    const QByteArray entry = contents(item.entryPath());
    for (const char* line :
         {"[Desktop Entry]\n", "Type=Application\n", "Name=Quillo\n",
          "Exec=/opt/quillo/bin/quillo-bar\n", "X-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_TRUE(entry.contains(line)) << line;
    }
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

TEST(LoginItem, UnwritableFolderIsReported) {
    const QTemporaryDir config;
    // A file where the folder should be stops even root.
    testing::writeFile(config.filePath(QStringLiteral("autostart")), "");
    const LoginItem item(config.filePath(QStringLiteral("autostart")));
    try {
        item.registerItem(QStringLiteral("/usr/bin/quillo-bar"));
        ADD_FAILURE() << "registered";
    } catch (const LoginItemError& error) {
        EXPECT_TRUE(error.description().startsWith(config.filePath(QStringLiteral("autostart"))));
    }
    EXPECT_FALSE(item.isEnabled());
}

// GLib's desktop entry launcher, as GNOME's session uses it, runs the program
// at each awkward path.
TEST(LoginItem, ExecQuotingRunsTheProgramThroughGio) {
    EXPECT_EQ(desktopExecValue(QStringLiteral("/opt/100%/quillo-bar")),
              QStringLiteral("/opt/100%%/quillo-bar"));
    EXPECT_EQ(desktopExecValue(QStringLiteral("/a $b/`c\\d\ne")),
              QStringLiteral("\"/a \\\\$b/\\\\`c\\\\\\\\d\\ne\""));
    const QTemporaryDir config;
    for (const QString& folder : {QStringLiteral("plain"), QStringLiteral("My Apps (2)"),
                                  QStringLiteral("a$b`c\"d\\e'f~;&|*?#<>")}) {
        SCOPED_TRACE(folder.toStdString());
        const QString program = config.filePath(folder) + QStringLiteral("/quillo-bar");
        const QString marker = config.filePath(QStringLiteral("ran"));
        ASSERT_TRUE(QDir().mkpath(config.filePath(folder)));
        testing::writeFile(program, "#!/bin/sh\nprintf %s \"$0\" > '" + marker.toUtf8() + "'\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(marker);
        const LoginItem item(config.filePath(QStringLiteral("autostart")));
        item.registerItem(program);
        const auto launch =
            command(QStringLiteral("/usr/bin/gio"), {QStringLiteral("launch"), item.entryPath()});
        ASSERT_EQ(launch.exitStatus, 0) << launch.output.toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return contents(marker) == program.toUtf8(); }, 2000));
    }
}

} // namespace
} // namespace quillo
