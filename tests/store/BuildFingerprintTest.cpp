#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"
#include "store/Sha256.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using testing::buildRoot;
using testing::writeFile;

class BuildFingerprintTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString executable = root.filePath(QString::fromUtf8(InstallTree::executable));
    QString manifest = root.filePath(QString::fromUtf8(InstallTree::buildManifest));

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("bin"))));
        ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("share/quillo"))));
    }

    [[nodiscard]] QString fingerprint() const {
        return buildFingerprint(std::filesystem::path(root.path().toStdString()));
    }
};

// Larger than one read, so the streaming has to join chunks correctly.
QByteArray largeExecutable() {
    QByteArray bytes;
    for (int index = 0; bytes.size() < (3 << 20) + 7; ++index) {
        bytes.append(QByteArray::number(index)).append('\n');
    }
    return bytes;
}

TEST_F(BuildFingerprintTest, HashesExecutableThenManifest) {
    const QByteArray program = largeExecutable();
    const QByteArray list = "0123  lib/quillo/libquillo-app.so\n";
    writeFile(executable, program);
    writeFile(manifest, list);

    const QString first = fingerprint();
    EXPECT_EQ(first, sha256Hex(program + list));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(first).hasMatch());
    EXPECT_EQ(fingerprint(), first);

    QByteArray changed = program;
    changed[changed.size() - 1] = 'x';
    writeFile(executable, changed);
    EXPECT_NE(fingerprint(), first);

    writeFile(executable, program);
    writeFile(manifest, "1123  lib/quillo/libquillo-app.so\n");
    EXPECT_NE(fingerprint(), first);
}

TEST_F(BuildFingerprintTest, UnreadableFilesCountAsEmpty) {
    EXPECT_EQ(fingerprint(), sha256Hex(QByteArray()));
    EXPECT_EQ(fingerprint(),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));

    writeFile(executable, "program");
    EXPECT_EQ(fingerprint(), sha256Hex("program"));

    // Opens, then fails on the first read: nothing of it may reach the digest.
    ASSERT_TRUE(QDir().mkpath(manifest));
    EXPECT_EQ(fingerprint(), sha256Hex("program"));
}

// Every line names a file under root with its digest; the modules are listed,
// the executable and the manifest are not.
void expectCompleteManifest(const QString& root) {
    QFile file(root + u'/' + QString::fromUtf8(InstallTree::buildManifest));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << root.toStdString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);

    QStringList paths;
    for (const QString& line : lines) {
        ASSERT_EQ(line.indexOf(QStringLiteral("  ")), 64) << line.toStdString();
        const QString path = line.mid(66);
        QFile shipped(root + u'/' + path);
        ASSERT_TRUE(shipped.open(QIODevice::ReadOnly)) << path.toStdString();
        EXPECT_EQ(line.left(64), sha256Hex(shipped.readAll())) << path.toStdString();
        paths.append(path);
    }
    for (const auto module : {InstallTree::applicationModule, InstallTree::configureModule,
                              InstallTree::requestModule}) {
        EXPECT_TRUE(paths.contains(QString::fromUtf8(module))) << module;
    }
    EXPECT_FALSE(paths.contains(QString::fromUtf8(InstallTree::executable)));
    EXPECT_FALSE(paths.contains(QString::fromUtf8(InstallTree::buildManifest)));
    QStringList sorted = paths;
    sorted.sort();
    EXPECT_EQ(paths, sorted);
}

TEST(BuildManifest, ListsEveryShippedFileOfTheBuildTree) {
    expectCompleteManifest(buildRoot());
}

TEST(BuildManifest, InstallWritesTheManifestAndARunnableTree) {
    QTemporaryDir prefix;
    QProcess install;
    install.start(
        QStringLiteral(QUILLO_CMAKE_COMMAND),
        {QStringLiteral("--install"), buildRoot(), QStringLiteral("--prefix"), prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    expectCompleteManifest(prefix.path());

    QProcess program;
    program.start(prefix.filePath(QStringLiteral("bin/quillo-bar")),
                  {QStringLiteral("--render-display-stdin")});
    program.closeWriteChannel();
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), 1);
    EXPECT_TRUE(program.readAllStandardError().startsWith("Could not render display frame: "));
}

} // namespace
} // namespace quillo
