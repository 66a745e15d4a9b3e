#include "store/BuildFingerprint.h"

#include "store/InstallTree.h"
#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace quillo {
namespace {

// Digests from Qt's hash, not from the code's own; the executable, larger than
// one read, checks that the streaming joins chunks, then the manifest follows.
TEST(BuildFingerprint, HashesExecutableThenManifestAndCountsMissingFilesAsEmpty) {
    const QTemporaryDir root;
    const QString executable = root.filePath(QString::fromUtf8(InstallTree::executable));
    const QString manifest = root.filePath(QString::fromUtf8(InstallTree::buildManifest));
    const auto fingerprint = [&root] { return buildFingerprint(root.path().toStdString()); };
    EXPECT_EQ(fingerprint(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");

    ASSERT_TRUE(QDir().mkpath(QFileInfo(executable).path()) &&
                QDir().mkpath(QFileInfo(manifest).path()));
    const QByteArray list = "0123  lib/quillo/libquillo-app.so\n";
    testing::writeFile(manifest, list);

    // Seven bytes do not divide a read: a chunk hashed twice or skipped shows.
    const QByteArray large = QByteArray("0123456").repeated((3 << 20) / 7 + 1);
    testing::writeFile(executable, large);
    EXPECT_EQ(fingerprint(), testing::sha256(large + list));
}

} // namespace
} // namespace quillo
