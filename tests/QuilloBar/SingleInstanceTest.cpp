// One agent per user, through the built executable: a later launch reopens
// the running agent and leaves; a socket left by a killed agent is taken
// over; preview mode stays out of it, even without any D-Bus session.
#include "QuilloBar/SingleInstance.h"

#include "tests/support/PngFrame.h"
#include "tests/support/QuilloBarProcess.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(SingleInstance, LaterLaunchesReopenTheRunningAgentWhichMayHaveDied) {
    const QString folder = SingleInstance::defaultDirectory();
    const QString socket = folder + QStringLiteral("/quillo-bar.socket");
    QProcess first;
    first.start(testing::buildRoot() + QStringLiteral("/bin/quillo-bar"), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 20000));
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                        QFile::WriteOther | QFile::ExeOther;
    EXPECT_FALSE(QFileInfo(folder).permissions() & others);
    first.kill();
    first.waitForFinished();

    SingleInstance instance(folder);
    ASSERT_EQ(instance.claim(false), SingleInstance::Role::primary);
    ASSERT_TRUE(instance.serve());
    QList<bool> reopened;
    QObject::connect(&instance, &SingleInstance::reopenRequested,
                     [&](bool showSettings) { reopened.append(showSettings); });
    for (const QStringList& arguments : {QStringList{"--show-settings"}, QStringList{}}) {
        const auto later = testing::runQuilloBar(arguments, {});
        EXPECT_EQ(later.exitStatus, 0) << later.standardError.data();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return reopened.size() == 2; }, 10000));
    EXPECT_EQ(reopened, QList<bool>({true, false}));

    QTemporaryDir pictures;
    const QString picture = pictures.filePath(QStringLiteral("settings.png"));
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    const auto snapshot = testing::runQuilloBar(
        {QStringLiteral("--preview-settings"), QStringLiteral("--snapshot"), picture}, {}, noBus);
    EXPECT_EQ(snapshot.exitStatus, 0) << snapshot.standardError.data();
    EXPECT_EQ(QImage(picture).width(), 480);
    const auto unwritable = testing::runQuilloBar(
        {QStringLiteral("--preview-settings"), QStringLiteral("--snapshot"), "/nonexistent/a.png"},
        {}, noBus);
    EXPECT_EQ(unwritable.exitStatus, 1);
    QTest::qWait(200);
    EXPECT_EQ(reopened.size(), 2);
}

} // namespace
} // namespace quillo
