#include "agent/IssueCache.h"
#include "companion/Http.h"
#include "kit/DisplayRenderer.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>

namespace quillo {
namespace {

using testing::ProcessOutcome;
using testing::readFile;
using testing::sha256;

const QString token = QStringLiteral("delivery-key-3f9a71c2");
const QString plugin = QStringLiteral("5d1c2b9e-7a41-4c0e-9a53-0c6f2e8b7d10");

QByteArray issuePdf(int pages, testing::PdfBox box = testing::usLetter) {
    return testing::fixturePdf(std::vector<testing::FixturePage>(
        static_cast<std::size_t>(pages), {box, std::nullopt, std::nullopt, "0 g 9 9 90 90 re f"}));
}

class CompanionTool : public ::testing::Test {
protected:
    testing::NewspaperService service;
    QTemporaryDir home;
    QString webhook = service.origin() + "/api/plugin_settings/" + plugin + "/image";
    QString feed = feedDirectory(home.path(), service.origin(), token);
    // Everything the tool reads, one NAME=value a line, so nothing of this
    // machine's is touched.
    QString environment = "HOME=" + home.path() + "\nCURL_CA_BUNDLE=" + service.caBundle() +
                          "\nQUILLO_URL=" + service.origin() + "\nQUILLO_PRINT_TOKEN=" + token +
                          "\nQUILLO_EINK_WEBHOOK=" + webhook +
                          "\nCUPS_SERVER=" + home.filePath("no-cups.sock") +
                          "\nSSLKEYLOGFILE=" + home.filePath("tls-keys.log");

    void SetUp() override { ASSERT_TRUE(service.ready()); }

    // The service's address with "PORT" and "HOOK" (the webhook's path) filled in.
    [[nodiscard]] QString local(QString text) const {
        return text.replace("PORT", service.origin().section(':', 2))
            .replace("HOOK", webhook.mid(service.origin().size()));
    }

    void TearDown() override { EXPECT_FALSE(QFile::exists(home.filePath("tls-keys.log"))); }

    [[nodiscard]] QProcessEnvironment variables(const QString& variable) const {
        QProcessEnvironment variables;
        for (const QString& setting :
             (environment + '\n' + variable).split('\n', Qt::SkipEmptyParts)) {
            variables.insert(setting.section('=', 0, 0), setting.section('=', 1));
        }
        return variables;
    }

    // A CUPS command against the private cupsd the test named in CUPS_SERVER.
    [[nodiscard]] ProcessOutcome cupsCommand(const QString& program,
                                             const QStringList& arguments) const {
        return testing::runProgram(program, arguments, {}, variables({}));
    }

    // Runs quillo-print, with "NAME=value" (if any) over its environment; its
    // output is one line (none when it only shows its usage) naming no secret.
    ProcessOutcome tool(const QStringList& arguments, const QString& variable = {}) {
        auto outcome = testing::runProgram(testing::buildRoot() + "/libexec/quillo/quillo-print",
                                           arguments, {}, variables(variable));
        const QByteArray all = outcome.standardOutput + outcome.standardError;
        EXPECT_FALSE(all.contains(token.toUtf8()) || all.contains(plugin.toUtf8())) << all.data();
        EXPECT_EQ(outcome.standardOutput.count('\n'), outcome.exitStatus == 2 ? 0 : 1)
            << all.data();
        return outcome;
    }

    // The command line that prints `issue`, checked against `digest`, on `queue`.
    static QStringList printing(const QString& issue, const QString& digest,
                                const QString& queue = testing::PrivateCups::queue(),
                                const QString& pages = "1") {
        return {"print", "--printer",         queue, "--max-pages", pages, "--expected-issue",
                issue,   "--expected-sha256", digest};
    }

    // Serves `pdf` as the latest issue `id`. `answer` (JSON) is merged into
    // the service's answer, or replaces the response when it has a "status" or
    // "body".
    void publish(const QString& id, const QByteArray& pdf, int pages, const QString& answer = {}) {
        QJsonObject routes = service.issueRoutes(id, pdf, pages);
        QVariantMap ready =
            routes[testing::latestPath].toObject()["json"].toObject().toVariantMap();
        const QJsonObject changes = QJsonDocument::fromJson(local(answer).toUtf8()).object();
        ready.insert(changes.toVariantMap());
        const bool replaced = changes.contains("status") || changes.contains("body");
        routes[testing::latestPath] =
            replaced ? changes : QJsonObject{{"json", QJsonObject::fromVariantMap(ready)}};
        service.script({{"token", token}, {"routes", routes}});
    }
};

// More pages than an issue may have only shows the usage. Each issue is checked
// before it is kept, and the three newest stay; a check that finds no issue,
// or fails, leaves the cache as it was.
TEST_F(CompanionTool, DownloadKeepsTheThreeNewestValidatedIssuesAndLosesNoneOnFailure) {
    EXPECT_EQ(tool({"download", "--max-pages", "5"}).exitStatus, 2);
    EXPECT_TRUE(service.requests().isEmpty());
    for (int number = 1; number <= 4; ++number) {
        const QString id = QStringLiteral("issue-%1").arg(number);
        const QString cached = feed + '/' + id + ".pdf";
        const QByteArray pdf = issuePdf(2);
        // An unchanged issue costs one request, and no PDF request.
        for (const qsizetype requests : {2, 1}) {
            publish(id, pdf, 2);
            const auto outcome = tool({"download", "--max-pages", "2"});
            ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardOutput.data();
            EXPECT_EQ(QJsonDocument::fromJson(outcome.standardOutput).object(),
                      (QJsonObject{{"state", "ready"}, {"issue", id}, {"pdf", cached}}));
            const auto sent = service.requests();
            ASSERT_EQ(sent.size(), requests);
            EXPECT_EQ(sent[0]["path"], "/api/v1/delivery/latest?max_pages=2");
            EXPECT_EQ(sent[0]["authorization"], "Bearer " + token);
        }
        EXPECT_EQ(readFile(cached), pdf);
        for (const QString& path : {feed, cached, feed + "/latest.json"}) {
            EXPECT_FALSE(QFile::permissions(path) & 0x77) << path.toStdString(); // group, others
        }
        EXPECT_EQ(
            QJsonDocument::fromJson(readFile(feed + "/latest.json")).object(),
            (QJsonObject{{"issue", id}, {"pdf", cached}, {"sha256", sha256(pdf)}, {"pages", 2}}));
        testing::writeFile(feed + '/' + id + ".display.png", "frame");
        testing::writeFile(feed + "/.frame-Xy12z9", "half");
        // Not a name the tool or the agent makes: the sweep leaves it.
        testing::writeFile(feed + '/' + id + ".notes", "the reader's");
    }
    // A cached copy is trusted only with its SHA-256: a damaged one is fetched again.
    const QByteArray newest = readFile(feed + "/issue-4.pdf");
    QByteArray flipped = newest;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 1);
    testing::writeFile(feed + "/issue-4.pdf", flipped);
    ASSERT_EQ(tool({"download", "--max-pages", "2"}).exitStatus, 0);
    EXPECT_EQ(readFile(feed + "/issue-4.pdf"), newest);

    const QStringList kept{"issue-1.notes", "issue-2.display.png", "issue-2.notes",
                           "issue-2.pdf",   "issue-3.display.png", "issue-3.notes",
                           "issue-3.pdf",   "issue-4.display.png", "issue-4.notes",
                           "issue-4.pdf",   "latest.json"};
    EXPECT_EQ(QDir(feed).entryList(QDir::Files), kept);
    const QByteArray pointer = readFile(feed + "/latest.json");

    const QByteArray good = issuePdf(1);
    const QByteArray damaged = QByteArray(good).insert(15, "% shifted offsets\n");
    const std::tuple<QByteArray, const char*, QString, int, const char*> rows[] = {
        {good, "", R"({"state":"waiting"})", 0, R"({"state":"waiting"})"},
        {good, "QUILLO_PRINT_TOKEN=other", "", 1, "did not accept the delivery key; get a new"},
        {good, "QUILLO_URL=http://127.0.0.1:1", "", 1, "must use HTTPS"},
        {good, "", R"({"status":302,"location":"/x"})", 1, "(a redirect)"},
        {good, "", "{\"sha256\":\"" + QString(64, 'a') + "\"}", 1, "does not match its SHA-256"},
        {damaged, "", "", 1, "not a PDF that opens without repair"},
        {issuePdf(5), "", "", 1, "has 5 pages; an issue has 1 to 4"},
        {issuePdf(1, {0, 0, 595, 842}), "", "", 1, "Page 1 of issue second is not US Letter"},
        {issuePdf(2), "", "", 1, "has 2 pages, not the 1 the service announced"},
    };
    for (const auto& [pdf, variable, answer, exitStatus, message] : rows) {
        SCOPED_TRACE(message);
        publish("second", pdf, 1, answer);
        const auto outcome = tool({"download", "--max-pages", "2"}, variable);
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(message)) << outcome.standardOutput.data();
        EXPECT_EQ(std::pair(QDir(feed).entryList(QDir::Files), readFile(feed + "/latest.json")),
                  std::pair(kept, pointer));
    }
    // The agent's frame half written, which no sweep may take.
    EXPECT_TRUE(QFile::exists(feed + "/.frame-Xy12z9"));
}

// Refused or failed prints reach no queue. The record of printed issues
// belongs to the service: a new key or another spelling of its address finds
// it before any request, and the record an earlier version kept under the
// feed key moves to it.
TEST_F(CompanionTool, PrintSendsEachIssueToCupsOnce) {
    testing::PrivateCups cups;
    ASSERT_TRUE(cups.ready());
    environment += "\nCUPS_SERVER=" + cups.server();
    // The most pages an issue may have.
    const QByteArray fourPages = issuePdf(4);
    const QByteArray onePage = issuePdf(1);
    publish("issue-7", fourPages, 4);
    ASSERT_EQ(tool({"download", "--max-pages", "2"}).exitStatus, 0);
    publish("issue-8", onePage, 1);
    ASSERT_EQ(tool({"download", "--max-pages", "2"}).exitStatus, 0);
    const QString records = home.filePath(".local/state/quillo/printed/");
    QDir().mkpath(records);
    testing::writeFile(records + feedKey(service.origin(), token), "issue-6\n");
    const QString moved = sha256(onePage);
    const std::tuple<const char*, QString, QString, QString, QString, int, const char*> cases[] = {
        {"", "issue-6", moved, cups.queue(), "", 0, "Already printed\n"},
        {"", "issue-7", sha256(fourPages), cups.queue(), "", 0, "Sent to the print queue\n"},
        {"", "issue-7", moved, cups.queue(), "QUILLO_PRINT_TOKEN=new-key", 0, "Already printed"},
        {"", "issue-7", moved, cups.queue(), "QUILLO_URL=HTTPS://127.0.0.1:PORT//", 0, "Already"},
        {R"({"state":"disabled"})", "issue-8", sha256(onePage), cups.queue(), "", 0, "disabled"},
        {R"({"state":"waiting"})", "issue-8", sha256(onePage), cups.queue(), "", 0, "No issue"},
        {"", "issue-8", sha256(fourPages), cups.queue(), "", 1, "not in the cache as checked"},
        {"", "../issue-8", sha256(onePage), cups.queue(), "", 2, "\nusage: quillo-print download"},
        {"", "issue-8", sha256(onePage), "Nowhere", "", 1, "CUPS has no print queue of the name"},
        {"", "issue-8", sha256(onePage), cups.queue(), "CUPS_SERVER=/none", 1, "is not running"},
        {"", "issue-8", sha256(onePage), cups.queue(), "", 0, "Sent to the print queue\n"},
    };
    for (const auto& [answer, issue, digest, queue, variable, exitStatus, message] : cases) {
        SCOPED_TRACE(message);
        publish("issue-8", onePage, 1, answer);
        const auto outcome = tool(printing(issue, digest, queue, "2"), local(variable));
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_TRUE((outcome.standardOutput + outcome.standardError).contains(message))
            << outcome.standardOutput.data();
        if (outcome.standardOutput.contains("Already printed")) {
            EXPECT_TRUE(service.requests().isEmpty());
        }
    }
    // Each job's title and its first options.
    EXPECT_EQ(cups.filteredJobs(2).replaceInStrings(QRegularExpression(" [^\t]*$"), {}),
              QStringList({"Quillo issue-7\tpage-ranges=1-2", "Quillo issue-8\tpage-ranges=1"}));
    EXPECT_EQ(cups.printed(), onePage);

    // A link to an endless device in place of the issue is refused at once.
    ASSERT_TRUE(QFile::link("/dev/zero", feed + "/issue-9.pdf"));
    EXPECT_TRUE(tool(printing("issue-9", sha256(onePage)))
                    .standardOutput.startsWith("The issue is not in the cache as checked"));
}

// One job in all, whichever exchange with CUPS the tool is stopped at, by
// kill -9 (which) or by a scheduler that does not answer (SIGSTOP, or one
// exchange held back): the failure ends in time, and the next run finishes
// the job or prints anew. Then: the job cancelled by hand after its release
// was asked for is lost, not sent again; cupsd crashed before the release
// reached it prints anew; a newer issue printed first cancels the older held
// copy. A job of another user under our id and title is never taken for ours.
TEST_F(CompanionTool, PrintIsOneJobWhateverStopsTheToolOrTheScheduler) {
    testing::PrivateCups cups;
    ASSERT_TRUE(cups.ready());
    environment += "\nCUPS_SERVER=" + cups.server();
    const QString record = home.filePath(".local/state/quillo/printed/") +
                           sha256(local("https://127.0.0.1:PORT").toUtf8());
    const QString hangs = "The print system (CUPS) did not answer in time\n";
    const QString sent = "Sent to the print queue\n";
    const QString lost = "CUPS no longer has the print job of this issue (cancelled or lost); "
                         "it is not sent again\n";
    const auto queued = [&] { return cupsCommand("lpstat", {"-o", cups.queue()}).standardOutput; };
    enum class Then { nothing, cancel, crash, newer };
    const std::tuple<QString, bool, Then, QString, QString, int> cases[] = {
        {"SIGSTOP", false, Then::nothing, hangs, sent, 1},
        {"Create-Job reply", false, Then::nothing, hangs, sent, 1},
        {"Create-Job reply", true, Then::nothing, "", sent, 1},
        {"Send-Document request", true, Then::nothing, "", sent, 1},
        {"Send-Document reply", false, Then::nothing, hangs, sent, 1},
        {"Release-Job request", true, Then::nothing, "", sent, 1},
        {"Release-Job reply", true, Then::nothing, "", sent, 1},
        {"Release-Job request", true, Then::cancel, "", lost, 0},
        {"Release-Job request", true, Then::newer, "", sent, 0},
        {"Release-Job request", false, Then::crash, "; the next check prints the issue\n", sent, 1},
    };
    int number = 0;
    for (const auto& [fault, killed, then, faultLine, nextLine, jobs] : cases) {
        const QString id = "issue-" + QString::number(++number);
        SCOPED_TRACE((id + ": " + fault + (killed ? " killed" : "")).toStdString());
        const auto print = [&](const QString& issue) {
            const QByteArray pdf = issuePdf(1);
            publish(issue, pdf, 1);
            EXPECT_EQ(tool({"download", "--max-pages", "1"}).exitStatus, 0);
            return printing(issue, sha256(pdf));
        };
        QStringList next = print(id);
        const bool frozen = fault == "SIGSTOP";
        cups.freeze(frozen);
        cups.stall(frozen ? QString() : fault);
        QProcess running;
        running.setProcessEnvironment(variables({}));
        running.start(testing::buildRoot() + "/libexec/quillo/quillo-print", next);
        if (killed || then == Then::crash) {
            for (int wait = 0; wait < 600 && !frozen && !cups.stalled(); ++wait) {
                QThread::msleep(50);
            }
            ASSERT_TRUE(frozen || cups.stalled());
            QThread::msleep(frozen ? 1000 : 0);
        }
        if (killed) {
            running.kill();
        }
        if (then == Then::crash) {
            cups.crash();
            cups.stall({});
        }
        ASSERT_TRUE(running.waitForFinished(60000));
        const QString output = running.readAllStandardOutput();
        EXPECT_TRUE(then == Then::crash ? output.endsWith(faultLine) : output == faultLine)
            << output.toStdString();
        cups.freeze(false);
        cups.stall({});
        if (then == Then::cancel) {
            EXPECT_EQ(cupsCommand("cancel", {"-a", cups.queue()}).exitStatus, 0);
        }
        if (then == Then::newer) {
            next = print(id + "-newer");
        }
        EXPECT_EQ(tool(next).standardOutput.toStdString(), nextLine.toStdString());
        // Counted once no job is left to run; nothing is left held either.
        EXPECT_EQ(cups.jobsOf(id), jobs);
        EXPECT_EQ(queued().toStdString(), "");
        EXPECT_EQ(tool(next).standardOutput.toStdString(),
                  (then == Then::cancel ? lost : "Already printed\n").toStdString());
    }
    EXPECT_TRUE(readFile(record).contains("\nissue-9 withdrawn "));

    // Someone else's held job under our title, with the id our record names.
    const auto foreign =
        cupsCommand("lp", {"-U", "visitor", "-d", cups.queue(), "-t", "Quillo issue-12", "-H",
                           "indefinite", "/etc/hostname"});
    const QString job = QString(foreign.standardOutput).section('-', -1).section(' ', 0, 0);
    testing::writeFile(record, readFile(record) + "issue-12 sent " + job.toUtf8() + "\n");
    EXPECT_EQ(tool(printing("issue-12", QString(64, 'a'))).standardOutput.toStdString(),
              lost.toStdString());
    EXPECT_TRUE(queued().simplified().startsWith((cups.queue() + "-" + job + " visitor").toUtf8()));
}

// The issue's pages fit the paper whole: a Letter page on an A4 queue of the
// real cups-pdf driver keeps its proportions, where filling A4 would crop its
// sides.
TEST_F(CompanionTool, PrintFitsALetterIssueOnA4) {
    testing::PrivateCups cups(true);
    if (!cups.ready() && ::getuid() != 0) {
        GTEST_SKIP() << "the cups-pdf queue runs in a mount namespace of its own, which needs root";
    }
    ASSERT_TRUE(cups.ready());
    environment += "\nCUPS_SERVER=" + cups.server();
    const QByteArray pdf =
        testing::fixturePdf({{testing::usLetter, {}, {}, "0 g 0 0 612 792 re f"}});
    publish("letter", pdf, 1);
    ASSERT_EQ(tool({"download", "--max-pages", "1"}).exitStatus, 0);
    ASSERT_EQ(tool(printing("letter", sha256(pdf), cups.pdfQueue())).exitStatus, 0);
    const QString printed = home.filePath("printed.pdf");
    testing::writeFile(printed, cups.pdfOutput());
    // Ghostscript's bounding box of what was drawn on the A4 page.
    const auto box = testing::runProgram(
        "/usr/bin/gs", {"-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=bbox", printed}, {},
        QProcessEnvironment::systemEnvironment());
    const auto corners = QRegularExpression("%%HiResBoundingBox: (\\S+) (\\S+) (\\S+) (\\S+)")
                             .match(QString::fromUtf8(box.standardError));
    ASSERT_TRUE(corners.hasMatch()) << box.standardError.data();
    const double width = corners.captured(3).toDouble() - corners.captured(1).toDouble();
    const double height = corners.captured(4).toDouble() - corners.captured(2).toDouble();
    EXPECT_NEAR(height / width, 792.0 / 612.0, 0.01) << width << " x " << height;
    EXPECT_LE(width, 595.5);
}

// A redirect is followed at most three times, on the same host, with the
// same POST and body; anything else fails without a request to the new address.
TEST_F(CompanionTool, UploadsEachFrameOnceFollowingOnlyAFewRedirectsOnTheSameHost) {
    const QString frame = home.filePath("frame.png");
    testing::writeFile(home.filePath("issue.pdf"), issuePdf(1));
    DisplayRenderer::render(home.filePath("issue.pdf").toStdString(), frame.toStdString(),
                            DisplayModel::og);
    const std::tuple<const char*, const char*, QString, int, const char*, const char*> cases[] = {
        {"issue-7", R"({"HOOK":{"status":429}})", "", 1, "TRMNL is limiting uploads", "HOOK"},
        {"issue-7", R"({"HOOK":{"status":500}})", "", 1, "TRMNL answered HTTP 500\n", "HOOK"},
        {"issue-7", "{}", "--width", 1, "The display frame is not a 1-bit 801 × 480 PNG", ""},
        {"issue-7", "{}", "", 0, "Uploaded the frame\n", "HOOK"},
        {"issue-7", "{}", "", 0, "already_synced\n", ""},
        {"issue-11", R"({"HOOK":{"status":307,"location":"/a"},"/a":{"status":301,"location":"/b"},
             "/b":{"status":302,"location":"/ok"},"/ok":{}})",
         "", 0, "Uploaded", "HOOK /a /b /ok"},
        {"issue-12", R"({"HOOK":{"status":307,"location":"/a"},"/a":{"status":301,"location":"/b"},
             "/b":{"status":308,"location":"/c"},"/c":{"status":302,"location":"/ok"},"/ok":{}})",
         "", 1, "TRMNL answered HTTP 302: more than 3 redirects", "HOOK /a /b /c"},
        {"issue-13", R"({"HOOK":{"status":308,"location":"https://localhost:PORT/ok"},"/ok":{}})",
         "", 1, "HTTP 308, a redirect to another site; nothing was sent there", "HOOK"},
    };
    for (const auto& [issue, routes, variable, exitStatus, output, paths] : cases) {
        SCOPED_TRACE(output);
        service.script({{"routes", QJsonDocument::fromJson(local(routes).toUtf8()).object()}});
        const bool wide = variable == "--width";
        const auto outcome = tool({"sync", "--image", frame, "--issue", issue, "--width",
                                   wide ? "801" : "800", "--height", "480"},
                                  wide ? QString() : variable);
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(output)) << outcome.standardOutput.data();
        // Each request goes to this host with the frame as its body, which a
        // redirect that turned the POST into a GET would have dropped.
        QStringList uploads;
        for (const auto& request : service.requests()) {
            EXPECT_EQ(request["host"], local("127.0.0.1:PORT"));
            EXPECT_EQ(request["content_type"], "image/png");
            EXPECT_EQ(request["sha256"], sha256(readFile(frame)));
            uploads.append(request["path"].toString());
        }
        EXPECT_EQ(uploads.join(' '), local(paths));
    }
    // TRMNL's own two domains may be reached from anywhere; never plain HTTP, a
    // look-alike host or credentials in the address.
    const std::tuple<const char*, const char*, bool> rules[] = {
        {"https://hooks.example/a", "https://www.TRMNL.com/a", true},
        {"https://usetrmnl.com/a", "http://trmnl.com/a", false},
        {"https://usetrmnl.com/a", "https://trmnl.com.evil.example/a", false},
        {"https://usetrmnl.com/a", "https://eviltrmnl.com/a", false},
        {"https://usetrmnl.com/a", "https://user:pw@trmnl.com/a", false},
    };
    for (const auto& [from, to, allowed] : rules) {
        EXPECT_EQ(companion::mayFollowWebhookRedirect(from, to), allowed) << from << " -> " << to;
    }
    // One spelling per webhook names its record: the scheme's own port goes.
    EXPECT_EQ(companion::normalisedUrl("HTTPS://Hooks.Example:443/A/b//"),
              "https://hooks.example/A/b");
}

} // namespace
} // namespace quillo
