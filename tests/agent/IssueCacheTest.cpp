#include "agent/IssueCache.h"

#include "tests/support/FixturePdf.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

const QString origin = QStringLiteral("https://news.example");
const QString key = QStringLiteral("secret-key");

TEST(FeedKey, HashesTheOriginWithoutSurroundingSlashesAndTheKey) {
    const QString expected =
        QStringLiteral("8405bd2e2048359860f5d924f30b2b7ef527332d86717b75f96ae6def7d7327e");
    EXPECT_EQ(feedKey(origin, key), expected);
    EXPECT_EQ(feedKey(QStringLiteral("https://news.example/"), key), expected);
    EXPECT_EQ(feedKey(QStringLiteral("//https://news.example///"), key), expected);
    // Only "/" is trimmed: white space stays part of the origin.
    EXPECT_EQ(feedKey(QStringLiteral(" https://news.example/path "), QString()),
              QStringLiteral("ae6c59774385981c3e97f29cc245b25e8e426d70e2c589dc8107ac7c7d94d2a3"));
    EXPECT_NE(feedKey(origin, QStringLiteral("other-key")), expected);
}

class IssueCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        feed = feedDirectory(home.path(), origin, key);
        ASSERT_TRUE(QDir().mkpath(feed + QStringLiteral("/nested")));
        testing::writeFile(feed + QStringLiteral("/issue-12.pdf"), testing::grayLetterPdf(255));
        testing::writeFile(feed + QStringLiteral("/nested/issue-12.pdf"), "%PDF");
        testing::writeFile(home.filePath(QStringLiteral("outside.pdf")), "%PDF");
    }

    void writePointer(const QByteArray& json) const {
        testing::writeFile(feed + QStringLiteral("/latest.json"), json);
    }

    void pointTo(const QString& pdf) const {
        writePointer(QByteArray(R"({"issue":"12","pdf":")") + pdf.toUtf8() + "\"}");
    }

    [[nodiscard]] std::optional<QString> lookUp() const {
        return cachedIssuePdf(home.path(), origin, key);
    }

    QTemporaryDir home;
    QString feed;
};

TEST_F(IssueCacheTest, AcceptsOnlyAnExistingPdfDirectlyInTheFeedDirectory) {
    const QString expected = feed + QStringLiteral("/issue-12.pdf");
    struct Case {
        QString pointer;
        std::optional<QString> value;
    };
    const QString siblingFeed = feedDirectory(home.path(), origin, QStringLiteral("other-key"));
    QDir().mkpath(siblingFeed);
    testing::writeFile(siblingFeed + QStringLiteral("/issue-12.pdf"), "%PDF");
    const std::vector<Case> cases{
        {expected, expected},
        {feed + QStringLiteral("/./nested/..//issue-12.pdf"), expected},
        {feed + QStringLiteral("/../") + feedKey(origin, key) + QStringLiteral("/issue-12.pdf"),
         expected},
        {feed + QStringLiteral("/gone.pdf"), std::nullopt},
        {feed + QStringLiteral("/nested/issue-12.pdf"), std::nullopt},
        {siblingFeed + QStringLiteral("/issue-12.pdf"), std::nullopt},
        {feed + QStringLiteral("/../../../../outside.pdf"), std::nullopt},
        {QStringLiteral("issue-12.pdf"), std::nullopt},
        {feed, std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.pointer.toStdString());
        pointTo(testCase.pointer);
        EXPECT_EQ(lookUp(), testCase.value);
    }
}

TEST_F(IssueCacheTest, MalformedOrMissingPointerGivesNothing) {
    EXPECT_EQ(lookUp(), std::nullopt);
    const QByteArray valid = R"({"pdf":")" + feed.toUtf8() + R"(/issue-12.pdf"})";
    for (const QByteArray& json :
         {QByteArray("[") + valid + "]", QByteArray(R"({"pdf":12})"), QByteArray(R"({"pdf":null})"),
          QByteArray(R"({"issue":"12"})"), QByteArray("not json"), valid.chopped(1)}) {
        SCOPED_TRACE(json.toStdString());
        writePointer(json);
        EXPECT_EQ(lookUp(), std::nullopt);
    }
    writePointer(valid);
    EXPECT_TRUE(lookUp().has_value());
}

TEST_F(IssueCacheTest, FollowsTheKeyAndOriginAtEveryLookup) {
    pointTo(feed + QStringLiteral("/issue-12.pdf"));
    EXPECT_EQ(cachedIssuePdf(home.path(), origin, std::nullopt), std::nullopt);
    EXPECT_TRUE(cachedIssuePdf(home.path(), origin + QStringLiteral("/"), key).has_value());
    EXPECT_EQ(cachedIssuePdf(home.path(), QStringLiteral("https://other.example"), key),
              std::nullopt);
    EXPECT_EQ(cachedIssuePdf(home.path(), origin, QStringLiteral("other-key")), std::nullopt);
    EXPECT_EQ(cachedIssuePdf(home.path(), origin, QString()), std::nullopt);
}

} // namespace
} // namespace quillo
