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

// The feed folder is named by the origin without surrounding slashes and the
// key. Paths that leave the feed folder or reach below it, name a folder or a
// missing file, or are not a string, are the fuzz replay's (latest_pointer),
// which holds every answer to that promise.
TEST(IssueCache, FeedKeyHashesOriginAndKeyAndOnlyAnExistingPdfInTheFeedIsOffered) {
    // printf 'https://news.example\nsecret-key' | sha256sum
    const QString expected =
        QStringLiteral("8405bd2e2048359860f5d924f30b2b7ef527332d86717b75f96ae6def7d7327e");
    EXPECT_EQ(feedKey(origin, key), expected);
    EXPECT_EQ(feedKey(QStringLiteral("//https://news.example///"), key), expected);

    QTemporaryDir home;
    const QString feed = feedDirectory(home.path(), origin, key);
    QDir().mkpath(feed);
    const QString pdf = feed + QStringLiteral("/issue-12.pdf");
    testing::writeFile(pdf, "%PDF");
    const auto pointer = [](const QString& path) {
        return R"({"issue":"12","pdf":")" + path.toUtf8() + "\"}";
    };
    const std::vector<std::pair<QByteArray, std::optional<QString>>> cases{
        {pointer(pdf), pdf},
        {pointer(feed + QStringLiteral("/./nested/..//issue-12.pdf")), pdf},
    };
    for (const auto& [json, value] : cases) {
        SCOPED_TRACE(json.left(200).toStdString());
        testing::writeFile(feed + QStringLiteral("/latest.json"), json);
        EXPECT_EQ(cachedIssuePdf(home.path(), origin, key), value);
    }
}

} // namespace
} // namespace quillo
