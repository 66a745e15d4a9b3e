#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"
#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

// The fingerprint authorizes a build to read the key: all of an executable
// larger than one read counts, not its first chunk. (The package check holds
// the order over the real install tree, whose executable fits one read.)
TEST(BuildFingerprint, HashesTheWholeExecutableThenTheManifest) {
    const QTemporaryDir root;
    const QString executable = root.filePath(QString::fromUtf8(InstallTree::executable));
    const QString manifest = root.filePath(QString::fromUtf8(InstallTree::buildManifest));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(executable).path()) &&
                QDir().mkpath(QFileInfo(manifest).path()));
    const QByteArray list = "0123  lib/quillo/libquillo-app.so\n";
    testing::writeFile(manifest, list);

    // Seven bytes do not divide a read: a chunk hashed twice or skipped shows.
    const QByteArray large = QByteArray("0123456").repeated((3 << 20) / 7 + 1);
    testing::writeFile(executable, large);
    EXPECT_EQ(buildFingerprint(root.path().toStdString()), testing::sha256(large + list));
}

} // namespace
} // namespace quillo
