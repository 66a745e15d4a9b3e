#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
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

// Digests from sha256sum, not from the code's own helper; the large
// executable, larger than one read, checks that the streaming joins chunks.
TEST_F(BuildFingerprintTest, HashesExecutableThenManifestAndCountsUnreadableFilesAsEmpty) {
    EXPECT_EQ(fingerprint(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    writeFile(executable, "program");
    const QString program = "1310ca2c8932dbd118668bd97442558a3e1f546b5e15c69699dfbd6024f548d8";
    EXPECT_EQ(fingerprint(), program);

    // Opens, then fails on the first read: nothing of it may reach the digest.
    ASSERT_TRUE(QDir().mkpath(manifest));
    EXPECT_EQ(fingerprint(), program);

    ASSERT_TRUE(QDir(manifest).removeRecursively());
    const QByteArray list = "0123  lib/quillo/libquillo-app.so\n";
    writeFile(manifest, list);
    EXPECT_EQ(fingerprint(), "deb53f4814339b5c4f1bc2b5fab76f61717e40f4b97a055e5f583a9e9849914c");

    QByteArray large;
    for (int index = 0; large.size() < (3 << 20) + 7; ++index) {
        large.append(QByteArray::number(index)).append('\n');
    }
    writeFile(executable, large);
    EXPECT_EQ(fingerprint(), testing::sha256(large + list));
}

// Every line names a file of the build tree with its digest, in sorted order;
// the modules and the kit are listed, the executable and the manifest are not.
// The installed tree's manifest is Package.Check's.
TEST(BuildManifest, ListsEveryShippedFileWithItsDigest) {
    const QByteArray manifest =
        testing::readFile(buildRoot() + u'/' + QString::fromUtf8(InstallTree::buildManifest));
    QStringList paths;
    for (const QString& line : QString::fromUtf8(manifest).split(u'\n', Qt::SkipEmptyParts)) {
        const QString path = line.mid(66);
        EXPECT_EQ(line.left(66),
                  testing::sha256(testing::readFile(buildRoot() + u'/' + path)) + "  ")
            << path.toStdString();
        paths.append(path);
    }
    for (const auto module : {InstallTree::applicationModule, InstallTree::configureModule,
                              std::string_view("lib/quillo/libquillo-kit.so")}) {
        EXPECT_TRUE(paths.contains(QString::fromUtf8(module))) << module;
    }
    EXPECT_FALSE(paths.contains(QString::fromUtf8(InstallTree::executable)));
    EXPECT_FALSE(paths.contains(QString::fromUtf8(InstallTree::buildManifest)));
    EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
}

} // namespace
} // namespace quillo
