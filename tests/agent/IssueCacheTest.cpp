#include "agent/IssueCache.h"

#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace quillo {
namespace {

const QString origin = QStringLiteral("https://news.example");
const QString key = QStringLiteral("secret-key");

TEST(IssueCache, FeedKeyHashesTheOriginWithoutSurroundingSlashesAndTheKey) {
    // printf 'https://news.example\nsecret-key' | sha256sum
    const QString expected =
        QStringLiteral("8405bd2e2048359860f5d924f30b2b7ef527332d86717b75f96ae6def7d7327e");
    EXPECT_EQ(feedKey(origin, key), expected);
    EXPECT_EQ(feedKey(QStringLiteral("//https://news.example///"), key), expected);
    EXPECT_NE(feedKey(origin + QStringLiteral(" "), key), expected);
}

TEST(IssueCache, AcceptsOnlyAnExistingPdfDirectlyInTheFeedDirectory) {
    QTemporaryDir home;
    const QString feed = feedDirectory(home.path(), origin, key);
    const QString sibling = feedDirectory(home.path(), origin, QStringLiteral("other"));
    QDir().mkpath(feed + QStringLiteral("/nested"));
    QDir().mkpath(feed + QStringLiteral("/folder.pdf"));
    QDir().mkpath(sibling);
    const QString pdf = feed + QStringLiteral("/issue-12.pdf");
    for (const QString& path : {pdf, feed + QStringLiteral("/nested/issue-12.pdf"),
                                sibling + QStringLiteral("/issue-12.pdf"),
                                home.filePath(QStringLiteral("outside.pdf"))}) {
        testing::writeFile(path, "%PDF");
    }
    const auto pointer = [](const QString& path) {
        return R"({"issue":"12","pdf":")" + path.toUtf8() + "\"}";
    };
    struct Case {
        QByteArray json;
        std::optional<QString> value;
    };
    const std::vector<Case> cases{
        {pointer(pdf), pdf},
        {pointer(feed + QStringLiteral("/./nested/..//issue-12.pdf")), pdf},
        {pointer(feed + QStringLiteral("/gone.pdf")), std::nullopt},
        {pointer(feed + QStringLiteral("/nested/issue-12.pdf")), std::nullopt},
        {pointer(sibling + QStringLiteral("/issue-12.pdf")), std::nullopt},
        {pointer(feed + QStringLiteral("/../../../../outside.pdf")), std::nullopt},
        {pointer(QStringLiteral("issue-12.pdf")), std::nullopt},
        {pointer(feed + QStringLiteral("/folder.pdf")), std::nullopt},
        {pointer(pdf) + QByteArray(qsizetype{64} * 1024, ' '), std::nullopt},
        {"[" + pointer(pdf) + "]", std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.json.toStdString());
        testing::writeFile(feed + QStringLiteral("/latest.json"), testCase.json);
        EXPECT_EQ(cachedIssuePdf(home.path(), origin, key), testCase.value);
    }

    testing::writeFile(feed + QStringLiteral("/latest.json"), pointer(pdf));
    EXPECT_EQ(cachedIssuePdf(home.path(), origin, QString()), std::nullopt);
    // A FIFO in place of the pointer file would block a plain read forever.
    QFile::remove(feed + QStringLiteral("/latest.json"));
    ASSERT_EQ(::mkfifo((feed + QStringLiteral("/latest.json")).toUtf8().constData(), 0600), 0);
    EXPECT_EQ(cachedIssuePdf(home.path(), origin, key), std::nullopt);
}

} // namespace
} // namespace quillo
