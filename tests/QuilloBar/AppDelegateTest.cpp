// What belongs to the delegate: when a run may start, the status lines, the
// settings snapshot, one run at a time, the cut result line, the step time
// limit and cachedPDF. The run's own result lines are DeliveryRunTest's.
#include "QuilloBar/AppDelegate.h"

#include "agent/Command.h"
#include "agent/IssueCache.h"
#include "store/Preferences.h"
#include "tests/agent/FakeCompanionTool.h"
#include "tests/support/FixturePdf.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace quillo {
namespace {

using namespace std::chrono_literals;

const QString connect = QStringLiteral("Connect your newspaper in Settings");
const QString checking = QStringLiteral("Checking for a new issue\u2026");
const QString readyOff = QStringLiteral("Latest issue ready \u00B7 automatic delivery off");
const QString download = QStringLiteral("download");

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override { makeDelegate(); }

    void makeDelegate(bool previewMode = false,
                      std::chrono::milliseconds limit = quillo::toolStepTimeLimit) {
        delegate = std::make_unique<AppDelegate>(
            AppDelegate::Setup{tool.installRoot().toStdString(),
                               preferences.filePath(QStringLiteral("p.ini")), previewMode, limit});
        statuses.clear();
        QObject::connect(delegate.get(), &AppDelegate::statusChanged,
                         [this](const QString& status) { statuses.append(status); });
    }

    void answerWithIssue() const {
        const QString pdf = tool.cacheDirectory() + QStringLiteral("/issue-7.pdf");
        testing::writeFile(pdf, testing::grayLetterPdf(255));
        tool.answer(download, R"({"issue":"issue-7","pdf":")" + pdf.toUtf8() + "\"}");
    }

    // Starts a run with the key and waits for its end.
    void run(bool delivery) const {
        delegate->runAgent(delivery);
        ASSERT_TRUE(QTest::qWaitFor([this] { return !delegate->busy(); }, 20000));
    }

    [[nodiscard]] Preferences& defaults() const { return delegate->defaults(); }

    testing::FakeCompanionTool tool;
    QTemporaryDir preferences;
    std::unique_ptr<AppDelegate> delegate;
    QStringList statuses;
};

TEST_F(AppDelegateTest, NoRunInPreviewModeOrWithoutADeliveryKey) {
    for (const auto& [previewMode, token] : std::vector<std::pair<bool, std::optional<QString>>>{
             {true, QStringLiteral("key")}, {false, std::nullopt}, {false, QString()}}) {
        makeDelegate(previewMode);
        delegate->setUnlockedToken(token);
        delegate->runAgent(false);
        delegate->runAgent(true);
        EXPECT_FALSE(delegate->busy());
        EXPECT_EQ(delegate->status(), connect);
        EXPECT_TRUE(statuses.isEmpty());
    }
    QTest::qWait(50);
    EXPECT_TRUE(tool.calls().isEmpty());
}

TEST_F(AppDelegateTest, DeliveringRunNeedsTheDevicesOfItsDestination) {
    struct Case {
        const char* destination;
        std::optional<QString> printer;
        std::optional<QString> webhook;
        bool starts;
    };
    const QString office = QStringLiteral("Office");
    const QString hook = QStringLiteral("https://trmnl.example/hook");
    const std::vector<Case> cases{
        {"printer", std::nullopt, hook, false},     {"printer", QString(), hook, false},
        {"printer", office, std::nullopt, true},    {"display", std::nullopt, std::nullopt, false},
        {"display", std::nullopt, QString(), true}, {"both", std::nullopt, hook, false},
        {"both", office, std::nullopt, false},      {"both", office, hook, true},
    };
    answerWithIssue();
    delegate->setUnlockedToken(QStringLiteral("key"));
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.destination);
        statuses.clear();
        delegate->setUnlockedWebhook(testCase.webhook);
        defaults().setString(PreferenceKey::destination, QString::fromLatin1(testCase.destination));
        defaults().setString(PreferenceKey::printer, testCase.printer);
        delegate->runAgent(true);
        EXPECT_EQ(delegate->busy(), testCase.starts);
        run(false); // A check needs no device.
        if (!testCase.starts) {
            EXPECT_EQ(statuses,
                      QStringList({"Finish device setup in Settings", checking, readyOff}));
        }
    }
}

// The run takes the stored settings as they are when it starts, including
// what another process (configure mode) wrote meanwhile.
TEST_F(AppDelegateTest, RunUsesTheStoredSettingsAndShowsItsResult) {
    answerWithIssue();
    delegate->setUnlockedToken(QStringLiteral("key-1"));
    delegate->setUnlockedWebhook(QStringLiteral("https://trmnl.example/hook"));
    defaults().setString(PreferenceKey::destination, QStringLiteral("both"));
    defaults().setString(PreferenceKey::printer, QStringLiteral("Office"));
    defaults().setString(PreferenceKey::displayModel, QStringLiteral("x"));
    defaults().setInteger(PreferenceKey::maxPages, 9);
    defaults().setBoolean(PreferenceKey::automatic, true);

    run(false);
    EXPECT_EQ(statuses, QStringList({checking, "Latest issue ready \u00B7 automatic delivery on"}));
    EXPECT_EQ(tool.arguments(download), QStringList({"download", "--max-pages", "3"}));
    EXPECT_TRUE(tool.environment(download).contains("QUILLO_URL=" + defaultServiceOrigin));

    statuses.clear();
    defaults().setString(PreferenceKey::origin, QStringLiteral("https://news.example/"));
    defaults().setInteger(PreferenceKey::maxPages, 4);
    defaults().sync();
    command(QStringLiteral("/bin/sed"), {"-i", "s/Office/Kitchen Laser/", defaults().filePath()});
    run(true);
    EXPECT_EQ(statuses, QStringList({QStringLiteral("Delivering your newspaper\u2026"),
                                     "Sent to print queue \u00B7 Uploaded to TRMNL \u00B7 "
                                     "awaiting screen refresh"}));
    EXPECT_TRUE(tool.environment(download).contains("QUILLO_URL=https://news.example/"));
    EXPECT_EQ(tool.arguments("print").mid(1, 4),
              QStringList({"--printer", "Kitchen Laser", "--max-pages", "4"}));
    EXPECT_EQ(tool.arguments("sync").mid(5), QStringList({"--width", "1872", "--height", "1404"}));
}

TEST_F(AppDelegateTest, TriggerDuringARunIsDroppedAndSettingsAreSnapshotted) {
    answerWithIssue();
    tool.hold(download);
    delegate->setUnlockedToken(QStringLiteral("key"));
    defaults().setString(PreferenceKey::printer, QStringLiteral("Office"));

    delegate->runAgent(false);
    ASSERT_TRUE(QTest::qWaitFor([this] { return tool.calls().contains(download); }, 20000));
    defaults().setBoolean(PreferenceKey::automatic, true);
    delegate->runAgent(true);
    delegate->runAgent(false);
    EXPECT_EQ(delegate->status(), checking);

    tool.release();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !delegate->busy(); }, 20000));
    EXPECT_EQ(tool.calls(), QStringList{download});
    EXPECT_EQ(statuses, QStringList({checking, readyOff}));
}

// A check that fails with 1,000 characters of 1 to 5 code points each.
TEST_F(AppDelegateTest, ResultLineIsCutToFourHundredCharacters) {
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1FA\U0001F1F8");
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString three = accent + flag + family;
    tool.answer(download, (three.repeated(333) + QStringLiteral("z")).toUtf8(), 1);
    delegate->setUnlockedToken(QStringLiteral("key"));
    run(false);
    // "Check failed: " is 14 characters; 386 more end just before a family.
    EXPECT_EQ(delegate->status(), "Check failed: " + three.repeated(128) + accent + flag);
}

TEST_F(AppDelegateTest, HungToolEndsTheRunAtTheTimeLimit) {
    makeDelegate(false, 300ms);
    tool.hang(download);
    delegate->setUnlockedToken(QStringLiteral("key"));
    run(false);
    EXPECT_EQ(delegate->status(), "Check failed: " + toolTimeoutMessage);
}

TEST_F(AppDelegateTest, CachedPdfFollowsTheUnlockedKeyAndTheStoredOrigin) {
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const QString origin = QStringLiteral("https://news.example");
    const QString feed = feedDirectory(home.path(), origin, QStringLiteral("key"));
    QDir().mkpath(feed);
    testing::writeFile(feed + QStringLiteral("/issue-7.pdf"), "%PDF");
    testing::writeFile(feed + QStringLiteral("/latest.json"),
                       R"({"pdf":")" + feed.toUtf8() + R"(/./issue-7.pdf"})");

    EXPECT_EQ(delegate->cachedPDF(), std::nullopt);
    delegate->setUnlockedToken(QStringLiteral("key"));
    EXPECT_EQ(delegate->cachedPDF(), std::nullopt);
    defaults().setString(PreferenceKey::origin, origin + QStringLiteral("/"));
    EXPECT_EQ(delegate->cachedPDF(), feed + QStringLiteral("/issue-7.pdf"));
    delegate->setUnlockedToken(QStringLiteral("another key"));
    EXPECT_EQ(delegate->cachedPDF(), std::nullopt);
    qputenv("HOME", savedHome);
}

} // namespace
} // namespace quillo
