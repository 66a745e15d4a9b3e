// What belongs to the delegate: when a run may start and what each answer of
// the tool makes of it, the settings snapshot, one run at a time, the launch
// and key authorization against the real keyring, the deliver-now question,
// the actions and saving.
#include "QuilloBar/settings/SettingsRules.h"
#include "agent/Command.h"
#include "agent/IssueCache.h"
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/QuilloBar/app/DelegateFixture.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QImage>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace quillo {
namespace {

enum class Pdf : std::uint8_t { issue, notAPdf, missing };

const QString refused = QStringLiteral("Finish device setup in Settings");

// A delivery with these settings and the tool's answers: its line (none: it
// does not start) and the tool's steps.
struct RunCase {
    QString line;
    QString calls = QStringLiteral("download");
    const char* destination = "printer";
    QByteArray check = R"({"state":"ready","issue":"issue-7","pdf":"@PDF@"})";
    int checkStatus = 0;
    QByteArray print;
    Pdf pdf = Pdf::issue;
    Stored token = QStringLiteral("key");
    QString printer = QStringLiteral("Office");
    Stored webhook;
    bool preview = false;
    bool hangs = false; // the check never answers
};

// No run in preview mode or without a key; a delivery needs the devices of
// its destination, a check none (each row triggers a delivery, then a check
// that is dropped while the delivery is in flight); then each answer of the
// tool has its line, and a frame that was not uploaded is not left behind. A
// tool that hangs is stopped at the step's limit; a long answer is cut at 400
// characters ("Check failed: " and 386 more, which end just before a family),
// and one that is not UTF-8 is named, not shown.
TEST_F(AppDelegateTest, RunsNeedTheirDevicesAndEachToolAnswerGivesItsLine) {
    const QString accent = QStringLiteral("e\u0301");
    const QString flag = QStringLiteral("\U0001F1FA\U0001F1F8");
    const QString three =
        accent + flag + QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    const QString stopped = QStringLiteral("Print stopped: delivery permission changed");
    const QString notAnIssue =
        QStringLiteral("Display render failed: The issue must contain portrait US Letter pages.");
    const std::vector<RunCase> cases{
        {.calls = {}, .preview = true},
        {.calls = {}, .token = QString()},
        {.line = refused, .printer = QString()},
        {.line = refused, .destination = "display"},
        {.line = sent + " \u00B7 Uploaded to TRMNL \u00B7 awaiting screen refresh",
         .calls = "download print sync",
         .destination = "both",
         .webhook = QString()},
        {.line = "Check failed: network down", .check = "\n  network down \n", .checkStatus = 3},
        {.line = "Check failed: warning: slow\n{}", .check = "warning: slow\n{}\n"},
        {.line = "Enable local delivery in Quillo web preferences",
         .check = R"({"state":"disabled","issue":"issue-7","pdf":"@PDF@"})"},
        {.line = "Waiting for your first issue", .check = R"({"state":"waiting"})"},
        {.line = "No validated issue available", .check = R"({"issue":"issue-7"})"},
        {.line = sent,
         .calls = "download print",
         .check = R"({"state":["disabled"],"issue":"issue-7","pdf":"@PDF@"})"},
        {.line = stopped, .calls = "download print", .print = "disabled\nAlready printed\n"},
        {.line = stopped, .calls = "download print", .print = "No issue today\n"},
        {.line = "Validated PDF is unavailable", .pdf = Pdf::missing},
        {.line = notAnIssue, .destination = "display", .pdf = Pdf::notAPdf, .webhook = hook},
        {.line = sent + " \u00B7 " + notAnIssue,
         .calls = "download print",
         .destination = "both",
         .pdf = Pdf::notAPdf,
         .webhook = hook},
        {.line = "Check failed: " + QString(toolTimeoutMessage), .hangs = true},
        {.line = "Check failed: " + three.repeated(128) + accent + flag,
         .check = three.repeated(200).toUtf8(),
         .checkStatus = 1},
        {.line = "Check failed: quillo-print wrote output that is not UTF-8 text",
         .check = "{\"issue\":\"caf\xE9\"}"},
    };
    for (const RunCase& row : cases) {
        SCOPED_TRACE((row.line + u'|' + row.calls).toStdString());
        QFile::remove(tool.state("download.hold"));
        stepTimeLimit = row.hangs ? std::chrono::seconds(2) : toolStepTimeLimit;
        makeDelegate(row.preview ? QStringList{"--preview-settings"} : QStringList{});
        holdSecrets(row.token, row.webhook);
        QFile::remove(pdf);
        QFile::remove(displayFramePath(pdf));
        if (row.pdf != Pdf::missing) {
            testing::writeFile(pdf,
                               row.pdf == Pdf::issue ? testing::grayLetterPdf(0) : "not a PDF");
        }
        tool.answer(download, QByteArray(row.check).replace("@PDF@", pdf.toUtf8()),
                    row.checkStatus);
        tool.answer("print", row.print);
        if (row.hangs) {
            tool.hold(download);
        }
        defaults().setString(PreferenceKey::destination, QString::fromLatin1(row.destination));
        defaults().setString(PreferenceKey::printer, row.printer);
        delegate->runAgent(true);
        run(false);
        const QStringList expected = row.line == refused ? QStringList{refused, checking, readyOff}
                                     : row.line.isEmpty()
                                         ? QStringList()
                                         : QStringList{"Delivering your newspaper\u2026", row.line};
        EXPECT_EQ(statuses, expected);
        EXPECT_EQ(tool.lines("calls").join(u' '), row.calls);
        EXPECT_EQ(QFile::exists(displayFramePath(pdf)), row.calls.endsWith("sync"));
    }
}

// The run takes the stored settings as they are when it starts, including
// what another process (configure mode) wrote meanwhile.
TEST_F(AppDelegateTest, RunTakesTheStoredSettingsWhenItStarts) {
    holdSecrets(QStringLiteral("key-1"), hook);
    defaults().setString(PreferenceKey::destination, QStringLiteral("both"));
    defaults().setString(PreferenceKey::printer, QStringLiteral("Office"));
    defaults().setInteger(PreferenceKey::maxPages, 4);
    defaults().sync();
    command(QStringLiteral("/bin/sed"), {"-i", "s/Office/Kitchen Laser/", defaults().filePath()});
    run(true);
    EXPECT_EQ(tool.lines("print.args").mid(1, 4),
              QStringList({"--printer", "Kitchen Laser", "--max-pages", "4"}));
    // The display alone checks up to four pages, whatever the page count.
    defaults().setString(PreferenceKey::destination, QStringLiteral("display"));
    defaults().setInteger(PreferenceKey::maxPages, 1);
    run(false);
    EXPECT_EQ(tool.lines("download.args"), QStringList({"download", "--max-pages", "4"}));
}

// Against the test session's keyring: the unlock at launch happens only for
// the authorized build; the reader's unlock in the settings then records the
// build only when it reads the key, and every status change reaches the menu.
// Columns: build authorized, key and webhook stored, the reader unlocks, the
// statuses that follow.
TEST_F(AppDelegateTest, OnlyAnAuthorizedBuildOrTheReadersUnlockReadsTheKey) {
    const QString key = QStringLiteral("key");
    const QStringList unauthorized{connect, QStringLiteral("Waiting for keyring approval\u2026")};
    const QString missing = QStringLiteral("Add your delivery key");
    const std::vector<std::tuple<bool, Stored, Stored, bool, QStringList>> cases{
        {false, key, hook, false, {connect}},
        {true, {}, {}, false, {connect, "Authorize your connection in Settings"}},
        {false, key, hook, true,
         unauthorized + QStringList{"Connection authorized", checking, readyOn}},
        {false, {}, hook, true, unauthorized + QStringList{missing}},
    };
    for (const auto& [authorized, token, webhook, unlock, expected] : cases) {
        SCOPED_TRACE(expected.join(u',').toStdString());
        storeSecrets(token, webhook);
        const QString build = authorized ? delegate->fingerprint() : QStringLiteral("earlier");
        launch(build, true);
        EXPECT_EQ(delegate->timer()->interval(), 300'000);
        EXPECT_TRUE(delegate->timer()->isActive());
        SettingsModel& form = delegate->form();
        if (unlock) {
            delegate->showSettings();
            settle();
            EXPECT_EQ(form.needsUnlock(), token.has_value());
            form.unlock();
            settle();
            EXPECT_EQ(std::tuple(form.keySaved(), form.needsUnlock(), form.webhookSaved()),
                      std::tuple(token.has_value(), false, webhook.has_value()));
        }
        EXPECT_EQ(statuses, expected);
        EXPECT_EQ(defaults().string(PreferenceKey::authorizedBuild),
                  authorized || (unlock && token) ? delegate->fingerprint() : build);
        EXPECT_EQ(delegate->keyring().webhook(), authorized || unlock ? webhook : std::nullopt);
    }
}

// The question names what will happen, with the page count in force; only
// "Deliver" starts a run. Printer names reach the question unchanged (the
// dialog shows them as plain text).
TEST_F(AppDelegateTest, SyncNowAsksFirstAndDeliversOnlyWhenTold) {
    const QString informative = QStringLiteral(
        "Print one copy to <b>Office</b>, up to 3 US Letter pages. Previously printed issues are "
        "not printed twice.\n\nUpload a monochrome image of the front page to TRMNL\u2019s cloud. "
        "It may include private issue content. The display updates on its next Wi-Fi refresh. "
        "Remaining pages stay in the PDF.");
    defaults().setString(PreferenceKey::destination, QStringLiteral("both"));
    defaults().setString(PreferenceKey::printer, QStringLiteral("<b>Office</b>"));
    defaults().setInteger(PreferenceKey::maxPages, 0); // out of range: the default, 3
    holdSecrets(QStringLiteral("key"), hook);
    for (const bool answer : {false, true}) {
        deliver = answer;
        questions.clear();
        delegate->syncNow();
        EXPECT_EQ(questions, QStringList{"Deliver your latest newspaper?|" + informative});
        EXPECT_EQ(delegate->running(), answer);
        settle();
    }
}

// The cached issue follows the unlocked key and the stored origin, read
// afresh each time.
TEST_F(AppDelegateTest, ActionsOpenTheIssueItsPreviewAndTheNewsroom) {
    delegate->previewDisplay();
    EXPECT_EQ(delegate->status(), QStringLiteral("Check for an issue first"));

    const QString feed = feedDirectory(QDir::homePath(), "https://news.example", "key");
    const QString pdf = feed + QStringLiteral("/issue-7.pdf");
    QDir().mkpath(feed);
    testing::writeFile(pdf, testing::grayLetterPdf(0));
    testing::writeFile(feed + "/latest.json", R"({"pdf":")" + pdf.toUtf8() + "\"}");
    holdSecrets(QStringLiteral("key"), {});
    defaults().setString(PreferenceKey::origin, "https://news.example/");
    delegate->preview();
    delegate->showSettings();
    delegate->form().setDisplay(DisplayModel::x);
    delegate->form().previewDisplay();
    settle();
    const QString image = feed + QStringLiteral("/issue-7.preview.png");
    EXPECT_EQ(QImage(image).width(), 1872);
    testing::writeFile(pdf, "not a PDF");
    delegate->previewDisplay();
    settle();
    EXPECT_EQ(delegate->status(),
              QStringLiteral("The issue must contain portrait US Letter pages."));
    holdSecrets(QStringLiteral("another key"), {});
    EXPECT_EQ(delegate->cachedPDF(), std::nullopt);

    // A stored origin opens only as an absolute address.
    delegate->form().openNewsroom();
    store([](Preferences& stored) { stored.setString(PreferenceKey::origin, "no address"); });
    delegate->openSite();
    EXPECT_EQ(opened, QStringList({QUrl::fromLocalFile(pdf).toString(),
                                   QUrl::fromLocalFile(image).toString(),
                                   "https://news.example/onboarding"}));

    // The form's actions never keep the delegate alive or reach it once gone.
    const SettingsModel::Action guide = delegate->form().openDisplayGuide;
    delegate.reset();
    guide();
    EXPECT_EQ(opened.size(), 3);
}

// Every refusal writes nothing, neither settings nor secrets; a save that
// passes stores the secrets, the settings and the login item, then checks
// once. Rows: one per way out of the save (the rules' own order is
// SettingsTest's).
TEST_F(AppDelegateTest, SaveStoresOnlyAFormThatPassesAndIsConfirmed) {
    const std::vector<std::tuple<QString, QString, bool, QStringList>> cases{
        {{}, SaveMessage::previewOnly, true, {"--preview-settings"}},
        {"http://quillo.news", SaveMessage::badOrigin, true, {}},
        {{}, connect, false, {}},
        {{}, "Saved \u00B7 automatic delivery on", true, {}},
    };
    const QString loginItem = preferences.filePath("autostart/quillo-bar.desktop");
    for (const auto& [origin, status, turnOn, arguments] : cases) {
        SCOPED_TRACE(status.toStdString());
        storeSecrets({}, {});
        QFile::remove(preferencesFile);
        makeDelegate(arguments);
        delegate->desktop.confirmTurnOn = [answer = turnOn](DeliveryDestination) { return answer; };
        delegate->showSettings();
        SettingsModel& form = delegate->form();
        form.setDestination(DeliveryDestination::both);
        form.setPrinter(QStringLiteral("Kitchen"));
        form.setKey(QStringLiteral(" key-1 \n"));
        form.setWebhook(QStringLiteral("https://trmnl.com/api/plugin_settings/abc/image"));
        form.setAutomatic(true);
        form.setLaunchAtLogin(true);
        if (!origin.isEmpty()) {
            form.setOrigin(origin);
        }
        form.save();
        settle();
        const bool saved = status.startsWith(QStringLiteral("Saved"));
        EXPECT_EQ(delegate->status(), saved ? readyOn : status);
        EXPECT_EQ(Vault::lookup(SecretAccount::deliveryKey, false).value,
                  saved ? std::optional(QStringLiteral("key-1")) : std::nullopt);
        EXPECT_EQ(QFileInfo::exists(loginItem), saved);
        Preferences stored(preferencesFile);
        EXPECT_EQ(stored.string(PreferenceKey::printer),
                  saved ? std::optional(QStringLiteral("Kitchen")) : std::nullopt);
        EXPECT_EQ(stored.string(PreferenceKey::authorizedBuild),
                  saved ? std::optional(delegate->fingerprint()) : std::nullopt);
    }
    // Saving again with nothing changed asks nothing and keeps the key in use.
    statuses.clear();
    delegate->desktop.confirmTurnOn = [](DeliveryDestination) -> bool { std::abort(); };
    delegate->form().setLaunchAtLogin(false);
    delegate->form().save();
    settle();
    EXPECT_EQ(statuses.first(), "Saved \u00B7 automatic delivery on");
    EXPECT_FALSE(QFileInfo::exists(loginItem));
    EXPECT_EQ(tool.lines("calls").count(download), 2);

    // A login item that cannot be written is reported; the settings stay
    // saved and no check starts.
    delegate->desktop.confirmTurnOn = [](DeliveryDestination) { return true; };
    QDir(preferences.filePath("autostart")).removeRecursively();
    testing::writeFile(preferences.filePath("autostart"), "a file where the folder belongs");
    delegate->form().setDisplay(DisplayModel::x);
    delegate->form().setLaunchAtLogin(true);
    delegate->form().save();
    settle();
    EXPECT_TRUE(
        delegate->status().startsWith("Could not save: " + preferences.filePath("autostart")))
        << delegate->status().toStdString();
    EXPECT_EQ(Preferences(preferencesFile).displayModel(), DisplayModel::x);
    EXPECT_EQ(tool.lines("calls").count(download), 2);
}

} // namespace
} // namespace quillo
