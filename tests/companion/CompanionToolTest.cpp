#include "agent/IssueCache.h"
#include "companion/Http.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMap>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

unsigned mode(const QString& path) {
    struct stat status {};
    return ::stat(path.toLocal8Bit().constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class CompanionTool : public ::testing::Test {
protected:
    testing::NewspaperService service;
    QTemporaryDir home;
    QProcessEnvironment environment;

    void SetUp() override {
        ASSERT_TRUE(service.ready());
        // Everything the tool reads, so nothing of this machine's is touched.
        for (const QString& variable :
             {"HOME=" + home.path(), "XDG_STATE_HOME=" + home.filePath("state"),
              "CURL_CA_BUNDLE=" + service.caBundle(), "QUILLO_URL=" + service.origin(),
              "QUILLO_PRINT_TOKEN=" + token, "QUILLO_EINK_WEBHOOK=" + webhook(),
              "CUPS_SERVER=" + home.filePath("no-cups.sock")}) {
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        }
    }

    // No file the tool wrote holds a secret.
    void TearDown() override {
        QDirIterator files(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QByteArray bytes = readFile(files.next());
            EXPECT_FALSE(bytes.contains(token.toUtf8()) || bytes.contains(plugin.toUtf8()))
                << files.filePath().toStdString();
        }
    }

    [[nodiscard]] QString webhook() const {
        return service.origin() + "/api/plugin_settings/" + plugin + "/image";
    }
    [[nodiscard]] QString feed() const {
        return feedDirectory(home.path(), service.origin(), token);
    }
    // The service's address with "PORT" and "HOOK" (the webhook's path) filled in.
    [[nodiscard]] QString local(QString text) const {
        return text.replace("PORT", service.origin().section(':', 2))
            .replace("HOOK", webhook().mid(service.origin().size()));
    }

    // Runs quillo-print, with "NAME=value" over its environment; its output is
    // one line that names no secret.
    ProcessOutcome tool(const QStringList& arguments, const QString& variable = {}) {
        QProcessEnvironment changed = environment;
        if (!variable.isEmpty()) {
            changed.insert(variable.section('=', 0, 0), variable.section('=', 1));
        }
        auto outcome = testing::runProgram(testing::buildRoot() + "/libexec/quillo/quillo-print",
                                           arguments, {}, changed);
        const QByteArray all = outcome.standardOutput + outcome.standardError;
        EXPECT_FALSE(all.contains(token.toUtf8()) || all.contains(plugin.toUtf8())) << all.data();
        EXPECT_EQ(outcome.standardOutput.count('\n'), 1) << all.data();
        return outcome;
    }
    ProcessOutcome download(const QString& variable = {}) {
        return tool({"download", "--max-pages", "2"}, variable);
    }

    // Serves `pdf` as the latest issue `id`. `answer` (JSON) is merged into
    // the service's answer, or replaces the response when it has a "status" or
    // "body"; `pdfRoute` (JSON) replaces the PDF's response.
    void publish(const QString& id, const QByteArray& pdf, int pages, const QString& answer = {},
                 const QString& pdfRoute = {}) {
        QJsonObject routes = service.issueRoutes(id, pdf, pages);
        QJsonObject ready = routes[testing::latestPath].toObject()["json"].toObject();
        const QString pdfPath = ready["pdf"].toString();
        const QJsonObject changes = QJsonDocument::fromJson(local(answer).toUtf8()).object();
        for (auto member = changes.begin(); member != changes.end(); ++member) {
            ready.insert(member.key(), member.value());
        }
        const bool replaced = changes.contains("status") || changes.contains("body");
        routes[testing::latestPath] = replaced ? changes : QJsonObject{{"json", ready}};
        if (!pdfRoute.isEmpty()) {
            routes[pdfPath] = QJsonDocument::fromJson(pdfRoute.toUtf8()).object();
        }
        service.script({{"token", token}, {"routes", routes}});
    }

    [[nodiscard]] QMap<QString, QByteArray> cacheFiles() const {
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(feed()).entryList(QDir::Files)) {
            files.insert(name, readFile(feed() + '/' + name));
        }
        return files;
    }
};

TEST_F(CompanionTool, DownloadKeepsTheThreeNewestValidatedIssues) {
    for (const char* state : {"waiting", "disabled"}) {
        service.script({{"state", state}});
        const auto outcome = download();
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.standardOutput, QByteArray(R"({"state":")") + state + "\"}\n");
        EXPECT_FALSE(QFileInfo::exists(feed()));
    }
    for (int number = 1; number <= 4; ++number) {
        const QString id = QStringLiteral("issue-%1").arg(number);
        const QString cached = feed() + '/' + id + ".pdf";
        const QByteArray pdf = issuePdf(2);
        // An unchanged issue costs one request, and no PDF request.
        for (const qsizetype requests : {2, 1}) {
            publish(id, pdf, 2);
            const auto outcome = download();
            ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardOutput.data();
            EXPECT_EQ(QJsonDocument::fromJson(outcome.standardOutput).object(),
                      (QJsonObject{{"state", "ready"}, {"issue", id}, {"pdf", cached}}));
            const auto sent = service.requests();
            ASSERT_EQ(sent.size(), requests);
            EXPECT_EQ(sent[0]["path"], "/api/v1/delivery/latest?max_pages=2");
            EXPECT_EQ(sent[0]["authorization"], "Bearer " + token);
            EXPECT_EQ(sent[0]["user_agent"], "quillo-print/0.1.0");
        }
        EXPECT_EQ(readFile(cached), pdf);
        EXPECT_EQ(std::tuple(mode(feed()), mode(cached), mode(feed() + "/latest.json")),
                  std::tuple(0700U, 0600U, 0600U));
        EXPECT_EQ(
            QJsonDocument::fromJson(readFile(feed() + "/latest.json")).object(),
            (QJsonObject{{"issue", id}, {"pdf", cached}, {"sha256", sha256(pdf)}, {"pages", 2}}));
        testing::writeFile(feed() + '/' + id + ".display.png", "frame");
    }
    EXPECT_EQ(QDir(feed()).entryList(QDir::Files),
              (QStringList{"issue-2.display.png", "issue-2.pdf", "issue-3.display.png",
                           "issue-3.pdf", "issue-4.display.png", "issue-4.pdf", "latest.json"}));
}

TEST_F(CompanionTool, EveryDownloadFailureLeavesTheCacheAsItWas) {
    publish("first", issuePdf(1), 1);
    ASSERT_EQ(download().exitStatus, 0);
    const auto before = cacheFiles();
    const QByteArray good = issuePdf(1);
    QByteArray damaged = good;
    damaged.insert(15, "% shifted offsets\n");
    const char* refused = "The service did not accept the delivery key; get a new one";
    const char* foreign = "outside its own site; it was not used";
    const char* broken = "not a PDF that opens without repair";
    const char* large = "larger than 50 MiB; nothing was kept";
    struct Case {
        QByteArray pdf;
        const char* variable;
        const char* answer;
        const char* pdfRoute;
        const char* message;
    };
    const std::vector<Case> cases{
        {good, "QUILLO_PRINT_TOKEN=other", "", "", refused},
        {good, "QUILLO_PRINT_TOKEN=", "", "", "No delivery key"},
        {good, "QUILLO_URL=http://127.0.0.1:1", "", "", "must use HTTPS"},
        {good, "QUILLO_URL=https://127.0.0.1:1", "", "", "Could not connect to the service"},
        {good, "", R"({"status":503})", "", "HTTP 503; the next check tries again"},
        {good, "", R"({"status":302,"location":"/x"})", "", "(a redirect)"},
        {good, "", R"({"body":"{\"state\""})", "", "not a JSON object"},
        {good, "", R"({"issue":"../first"})", "", "id cannot be used"},
        {good, "", R"({"pages":5})", "", "no valid page count"},
        {good, "", R"({"pdf":"https://localhost:PORT/api/v1/delivery/issues/second.pdf"})", "",
         foreign},
        {good, "",
         R"({"sha256":"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"})", "",
         "does not match its SHA-256"},
        {"hello", "", "", "", broken},
        {damaged, "", "", "", broken},
        {issuePdf(5), "", "", "", "has 5 pages; an issue has 1 to 4"},
        {issuePdf(1, {0, 0, 595, 842}), "", "", "", "Page 1 of issue second is not US Letter"},
        {issuePdf(2), "", "", "", "has 2 pages, not the 1 the service announced"},
        {good, "", "", R"({"zeros":52428801,"length":false})", large},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.message);
        publish("second", testCase.pdf, 1, testCase.answer, testCase.pdfRoute);
        const auto outcome = download(testCase.variable);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_TRUE(outcome.standardOutput.contains(testCase.message))
            << outcome.standardOutput.data();
        EXPECT_EQ(cacheFiles(), before);
        for (const auto& request : service.requests()) {
            EXPECT_EQ(request["host"], local("127.0.0.1:PORT"));
        }
    }
}

// Refused or failed prints reach no queue; a CUPS failure forgets the issue
// again, so that it prints once CUPS takes it.
TEST_F(CompanionTool, PrintSendsEachIssueToCupsOnce) {
    testing::PrivateCups cups;
    ASSERT_TRUE(cups.ready());
    environment.insert("CUPS_SERVER", cups.server());
    const QByteArray threePages = issuePdf(3);
    const QByteArray onePage = issuePdf(1);
    publish("issue-7", threePages, 3);
    ASSERT_EQ(download().exitStatus, 0);
    publish("issue-8", onePage, 1);
    ASSERT_EQ(download().exitStatus, 0);
    const QString seven = sha256(threePages);
    const QString eight = sha256(onePage);
    const QString gone = "CUPS_SERVER=" + home.filePath("gone.sock");
    const std::tuple<const char*, QString, QString, QString, QString, int, const char*> cases[] = {
        {"", "issue-7", seven, cups.queue(), "", 0, "Sent issue-7 to Quillo\n"},
        {"", "issue-7", seven, cups.queue(), "", 0, "Already printed issue-7\n"},
        {"disabled", "issue-8", eight, cups.queue(), "", 0, "disabled"},
        {"waiting", "issue-8", eight, cups.queue(), "", 0, "No issue"},
        {"", "issue-8", seven, cups.queue(), "", 1, "not in the cache as checked"},
        {"", "issue-8", eight, "Nowhere", "", 1, "CUPS has no print queue named Nowhere"},
        {"", "issue-8", eight, cups.queue(), gone, 1, "The print system (CUPS) is not running"},
        {"", "issue-8", eight, cups.queue(), "", 0, "Sent issue-8 to Quillo\n"},
    };
    for (const auto& [state, issue, digest, queue, variable, exitStatus, message] : cases) {
        SCOPED_TRACE(message);
        if (*state != 0) {
            service.script({{"state", state}});
        } else {
            publish("issue-8", onePage, 1);
        }
        const auto outcome = tool({"print", "--printer", queue, "--max-pages", "2",
                                   "--expected-issue", issue, "--expected-sha256", digest},
                                  variable);
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(message)) << outcome.standardOutput.data();
    }
    const QStringList jobs = cups.filteredJobs(2);
    EXPECT_EQ(jobs.size(), 2);
    EXPECT_EQ(jobs.value(0).section(' ', 0, 1), "Quillo issue-7\tpage-ranges=1-2");
    EXPECT_EQ(jobs.value(1).section(' ', 0, 1), "Quillo issue-8\tpage-ranges=1");
    EXPECT_EQ(cups.printed(), onePage);
}

class CompanionSync : public CompanionTool {
protected:
    QString frame = home.filePath("frame.png");

    void SetUp() override {
        CompanionTool::SetUp();
        testing::writeFile(home.filePath("issue.pdf"), issuePdf(1));
        const QByteArray request = R"({"pdf":")" + home.filePath("issue.pdf").toUtf8() +
                                   R"(","output":")" + frame.toUtf8() + R"(","model":"og"})";
        ASSERT_EQ(testing::runQuilloBar({"--render-display-stdin"}, request).exitStatus, 0);
    }
    ProcessOutcome sync(const QString& issue, const QString& variable = {},
                        const QString& width = "800") {
        return tool(
            {"sync", "--image", frame, "--issue", issue, "--width", width, "--height", "480"},
            variable);
    }
    void answer(const QString& routes) {
        service.script({{"routes", QJsonDocument::fromJson(local(routes).toUtf8()).object()}});
    }
    // The requests so far: each a POST of the frame to 127.0.0.1; their paths.
    QString uploads() {
        QStringList paths;
        for (const auto& request : service.requests()) {
            EXPECT_EQ(request["host"], local("127.0.0.1:PORT"));
            EXPECT_EQ(request["method"], "POST");
            EXPECT_EQ(request["content_type"], "image/png");
            EXPECT_EQ(request["sha256"], sha256(readFile(frame)));
            paths.append(request["path"].toString());
        }
        return paths.join(' ');
    }
};

// A redirect is followed at most three times, on the same host, with the
// same POST and body; anything else fails without a request to the new address.
TEST_F(CompanionSync, UploadsEachFrameOnceFollowingOnlyAFewRedirectsOnTheSameHost) {
    const std::tuple<const char*, const char*, QString, int, const char*, const char*> cases[] = {
        {"issue-7", R"({"HOOK":{"status":429}})", "", 1,
         "TRMNL is limiting uploads; the next check tries again\n", "HOOK"},
        {"issue-7", R"({"HOOK":{"status":500}})", "", 1, "TRMNL answered HTTP 500\n", "HOOK"},
        {"issue-7", "{}", "--width", 1, "The display frame is not a 1-bit 801 × 480 PNG", ""},
        {"issue-7", "{}", "QUILLO_EINK_WEBHOOK=", 1, "No display webhook", ""},
        {"issue-7", "{}", "", 0, "Uploaded issue-7\n", "HOOK"},
        {"issue-7", "{}", "", 0, "already_synced issue-7\n", ""},
        {"issue-8", R"({"HOOK":{"status":308,"location":"/ok"},"/ok":{}})", "", 0, "Uploaded",
         "HOOK /ok"},
        {"issue-9", R"({"HOOK":{"status":302,"location":"/ok"},"/ok":{}})", "", 0, "Uploaded",
         "HOOK /ok"},
        {"issue-11", R"({"HOOK":{"status":307,"location":"/a"},"/a":{"status":301,"location":"/b"},
             "/b":{"status":308,"location":"/ok"},"/ok":{}})",
         "", 0, "Uploaded", "HOOK /a /b /ok"},
        {"issue-12", R"({"HOOK":{"status":307,"location":"/a"},"/a":{"status":301,"location":"/b"},
             "/b":{"status":308,"location":"/c"},"/c":{"status":302,"location":"/ok"},"/ok":{}})",
         "", 1, "TRMNL answered HTTP 302: more than 3 redirects", "HOOK /a /b /c"},
        {"issue-13", R"({"HOOK":{"status":308,"location":"https://localhost:PORT/ok"},"/ok":{}})",
         "", 1, "TRMNL answered HTTP 308, a redirect to another site; nothing was sent there",
         "HOOK"},
    };
    for (const auto& [issue, routes, variable, exitStatus, output, paths] : cases) {
        SCOPED_TRACE(output);
        answer(routes);
        const auto outcome = variable == "--width" ? sync(issue, {}, "801") : sync(issue, variable);
        EXPECT_EQ(outcome.exitStatus, exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(output)) << outcome.standardOutput.data();
        EXPECT_EQ(uploads(), local(paths));
    }
}

TEST_F(CompanionTool, RefusesUnusableCommandLinesWithItsUsage) {
    const QString digest(64, '0');
    const QStringList cases[] = {
        {},
        {"download"},
        {"download", "--max-pages", "5"},
        {"print", "--printer", "P", "--max-pages", "1", "--expected-issue", "../x",
         "--expected-sha256", digest},
        {"sync", "--image", "f", "--issue", "x", "--width", "0", "--height", "1"},
    };
    for (const QStringList& arguments : cases) {
        const auto outcome = testing::runProgram(
            testing::buildRoot() + "/libexec/quillo/quillo-print", arguments, {}, environment);
        EXPECT_EQ(outcome.exitStatus, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(outcome.standardError.contains("\nusage: quillo-print download --max-pages N"));
    }
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST(CompanionRedirectRule, AllowsTheSameHostAndTheTwoTrmnlDomains) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"https://usetrmnl.com/api/plugin_settings/u/image",
         "https://trmnl.com/api/plugin_settings/u/image", true},
        {"https://usetrmnl.com/a", "https://www.TRMNL.com/a", true},
        {"https://hooks.example/a", "https://trmnl.com/a", true},
        {"https://127.0.0.1:8443/a", "https://127.0.0.1:8443/b?c", true},
        {"https://usetrmnl.com/a", "http://trmnl.com/a", false},
        {"https://usetrmnl.com/a", "https://trmnl.com.evil.example/a", false},
        {"https://usetrmnl.com/a", "https://user:pw@trmnl.com/a", false},
        {"https://127.0.0.1/a", "https://localhost/a", false},
    };
    for (const auto& [from, to, allowed] : cases) {
        EXPECT_EQ(companion::mayFollowWebhookRedirect(from, to), allowed) << from << " -> " << to;
    }
}

} // namespace
} // namespace quillo
