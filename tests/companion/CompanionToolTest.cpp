#include "agent/IssueCache.h"
#include "companion/Http.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace quillo {
namespace {

using testing::ProcessOutcome;

const QString token = QStringLiteral("delivery-key-3f9a71c2");
const QString plugin = QStringLiteral("5d1c2b9e-7a41-4c0e-9a53-0c6f2e8b7d10");

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray issuePdf(int pages, testing::PdfBox box = testing::usLetter) {
    return testing::fixturePdf(std::vector<testing::FixturePage>(
        static_cast<std::size_t>(pages), {box, std::nullopt, std::nullopt, "0 g 9 9 90 90 re f"}));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned mode(const QString& path) {
    struct stat status {};
    return ::stat(path.toLocal8Bit().constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The options CUPS handed the queue's filter for a job.
QStringList jobOptions(const QString& job) {
    return job.section(QLatin1Char('\t'), 1).split(QLatin1Char(' '));
}

class CompanionTool : public ::testing::Test {
protected:
    testing::NewspaperService service;
    QTemporaryDir home;
    QProcessEnvironment environment;

    void SetUp() override {
        ASSERT_TRUE(service.ready());
        // Everything the tool reads, so nothing of this machine's is touched.
        const std::pair<const char*, QString> variables[] = {
            {"HOME", home.path()},
            {"XDG_STATE_HOME", home.filePath(QStringLiteral("state"))},
            {"CURL_CA_BUNDLE", service.caBundle()},
            {"QUILLO_URL", service.origin()},
            {"QUILLO_PRINT_TOKEN", token},
            {"QUILLO_EINK_WEBHOOK", webhook()},
            {"CUPS_SERVER", home.filePath(QStringLiteral("no-cups.sock"))}};
        for (const auto& [name, value] : variables) {
            environment.insert(QString::fromLatin1(name), value);
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
        return service.origin() + QStringLiteral("/api/plugin_settings/") + plugin +
               QStringLiteral("/image");
    }
    [[nodiscard]] QString feed() const {
        return feedDirectory(home.path(), service.origin(), token);
    }

    // Runs quillo-print; its output is one line that names no secret.
    ProcessOutcome tool(const QStringList& arguments) {
        auto outcome = testing::runProgram(testing::buildRoot() +
                                               QStringLiteral("/libexec/quillo/quillo-print"),
                                           arguments, {}, environment);
        const QByteArray all = outcome.standardOutput + outcome.standardError;
        EXPECT_FALSE(all.contains(token.toUtf8()) || all.contains(plugin.toUtf8())) << all.data();
        EXPECT_EQ(outcome.standardOutput.count('\n'), 1) << all.data();
        return outcome;
    }
    ProcessOutcome download() {
        return tool(
            {QStringLiteral("download"), QStringLiteral("--max-pages"), QStringLiteral("2")});
    }

    // The service's latest issue `id`: `latest` and `pdfRoute` replace parts
    // of the regular answer and of the PDF's response.
    void publish(const QString& id, const QByteArray& pdf, int pages,
                 const QJsonObject& latest = {}, const QJsonObject& pdfRoute = {},
                 const QString& key = token) {
        const QString file = service.filePath(QStringLiteral("source-") + id);
        testing::writeFile(file, pdf);
        const QString path =
            QStringLiteral("/api/v1/delivery/issues/") + id + QStringLiteral(".pdf");
        QJsonObject answer{{"state", "ready"},
                           {"issue", id},
                           {"pdf", path},
                           {"sha256", sha256(pdf)},
                           {"pages", pages}};
        for (auto member = latest.begin(); member != latest.end(); ++member) {
            answer.insert(member.key(), member.value());
        }
        service.script(
            {{"token", key},
             {"routes",
              QJsonObject{{"/api/v1/delivery/latest", QJsonObject{{"json", answer}}},
                          {path, pdfRoute.isEmpty() ? QJsonObject{{"file", file}} : pdfRoute}}}});
    }

    [[nodiscard]] QMap<QString, QByteArray> cacheFiles() const {
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(feed()).entryList(QDir::Files)) {
            files.insert(name, readFile(feed() + QLatin1Char('/') + name));
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
        const QByteArray pdf = issuePdf(2);
        publish(id, pdf, 2);
        const QString cached = feed() + QLatin1Char('/') + id + QStringLiteral(".pdf");
        for (const qsizetype requests : {2, 1}) {
            const auto outcome = download();
            ASSERT_EQ(outcome.exitStatus, 0) << outcome.standardOutput.data();
            EXPECT_EQ(QJsonDocument::fromJson(outcome.standardOutput).object(),
                      (QJsonObject{{"state", "ready"}, {"issue", id}, {"pdf", cached}}));
            // An unchanged issue costs one request, and no PDF request.
            const auto sent = service.requests();
            ASSERT_EQ(sent.size(), requests);
            EXPECT_EQ(sent[0]["path"], "/api/v1/delivery/latest?max_pages=2");
            EXPECT_EQ(sent[0]["authorization"], QStringLiteral("Bearer ") + token);
            EXPECT_EQ(sent[0]["user_agent"], "quillo-print/0.1.0");
            publish(id, pdf, 2);
        }
        EXPECT_EQ(readFile(cached), pdf);
        EXPECT_EQ(mode(cached), 0600);
        EXPECT_EQ(mode(feed()), 0700);
        EXPECT_EQ(mode(feed() + QStringLiteral("/latest.json")), 0600);
        EXPECT_EQ(
            QJsonDocument::fromJson(readFile(feed() + QStringLiteral("/latest.json"))).object(),
            (QJsonObject{{"issue", id}, {"pdf", cached}, {"sha256", sha256(pdf)}, {"pages", 2}}));
        // The agent's own lookup finds it: both compute the same feed key.
        EXPECT_EQ(cachedIssuePdf(home.path(), service.origin() + QLatin1Char('/'), token), cached);
        testing::writeFile(feed() + QLatin1Char('/') + id + QStringLiteral(".display.png"),
                           "frame");
    }
    EXPECT_EQ(QDir(feed()).entryList(QDir::Files),
              (QStringList{"issue-2.display.png", "issue-2.pdf", "issue-3.display.png",
                           "issue-3.pdf", "issue-4.display.png", "issue-4.pdf", "latest.json"}));
}

TEST_F(CompanionTool, EveryDownloadFailureLeavesTheCacheAsItWas) {
    publish(QStringLiteral("first"), issuePdf(1), 1);
    ASSERT_EQ(download().exitStatus, 0);
    const auto before = cacheFiles();

    const QString pdfPath = QStringLiteral("/api/v1/delivery/issues/second.pdf");
    QByteArray damaged = issuePdf(1);
    damaged.insert(15, "% shifted offsets\n");
    const qint64 overLimit = 50LL * 1024 * 1024 + 1;
    struct Case {
        const char* name;
        QByteArray pdf;
        QJsonObject latest;
        QJsonObject pdfRoute;
        std::pair<const char*, QString> variable;
        const char* message;
    };
    const std::pair<const char*, QString> none{"", {}};
    const char* refused = "The service did not accept the delivery key; get a new one";
    const QByteArray good = issuePdf(1);
    const std::vector<Case> cases{
        {"refused key", good, {}, {}, {"QUILLO_PRINT_TOKEN", "other"}, refused},
        {"empty key", good, {}, {}, {"QUILLO_PRINT_TOKEN", ""}, "No delivery key"},
        {"http address", good, {}, {}, {"QUILLO_URL", "http://127.0.0.1:1"}, "must use HTTPS"},
        {"no address", good, {}, {}, {"QUILLO_URL", "quillo.news"}, "must use HTTPS"},
        {"no connection", good, {}, {}, {"QUILLO_URL", "https://127.0.0.1:1"}, "Could not connect"},
        {"untrusted certificate", good, {}, {}, {"CURL_CA_BUNDLE", "/dev/null"}, "certificate"},
        {"unknown state", good, {{"state", "paused"}}, {}, none, "no state"},
        {"id with a path", good, {{"issue", "../first"}}, {}, none, "id cannot be used"},
        {"hidden id", good, {{"issue", ".second"}}, {}, none, "id cannot be used"},
        {"long id", good, {{"issue", QString(65, QLatin1Char('a'))}}, {}, none, "id cannot"},
        {"uppercase digest", good, {{"sha256", sha256(good).toUpper()}}, {}, none, "SHA-256"},
        {"five pages announced", good, {{"pages", 5}}, {}, none, "page count"},
        {"pdf on another host",
         good,
         {{"pdf", QStringLiteral("https://localhost:%1%2")
                      .arg(service.origin().section(':', 2), pdfPath)}},
         {},
         none,
         "outside its own site"},
        {"pdf on another scheme",
         good,
         {{"pdf", "http:" + service.origin().mid(6) + pdfPath}},
         {},
         none,
         "outside its own site"},
        {"pdf network path",
         good,
         {{"pdf", "//evil.example/x.pdf"}},
         {},
         none,
         "outside its own site"},
        {"digest mismatch",
         good,
         {{"sha256", sha256("other")}},
         {},
         none,
         "does not match its SHA-256"},
        {"not a PDF", "hello", {}, {}, none, "not a PDF that opens without repair"},
        {"damaged PDF", damaged, {}, {}, none, "not a PDF that opens without repair"},
        {"five pages", issuePdf(5), {{"pages", 5}}, {}, none, "page count"},
        {"A4", issuePdf(1, {0, 0, 595, 842}), {}, {}, none, "not US Letter"},
        {"other page count", issuePdf(2), {}, {}, none, "not the 1 the service announced"},
        {"declared too large", good, {}, {{"zeros", overLimit}}, none, "larger than 50 MiB"},
        {"streamed too large",
         good,
         {},
         {{"zeros", overLimit}, {"length", false}},
         none,
         "larger than 50 MiB"},
        {"pdf missing", good, {}, {{"status", 404}}, none, "HTTP 404 for issue second"},
    };
    const QJsonObject statusCases[] = {{{"status", 403}},
                                       {{"status", 503}},
                                       {{"status", 302}, {"location", "/x"}},
                                       {{"body", "{\"state\""}}};
    const char* statusMessages[] = {refused, "HTTP 503; the next check tries again", "redirect",
                                    "not a JSON object"};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        publish(QStringLiteral("second"), testCase.pdf, 1, testCase.latest, testCase.pdfRoute);
        const QProcessEnvironment saved = environment;
        if (*testCase.variable.first != 0) {
            environment.insert(QString::fromLatin1(testCase.variable.first),
                               testCase.variable.second);
        }
        const auto outcome = download();
        environment = saved;
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_TRUE(outcome.standardOutput.contains(testCase.message))
            << outcome.standardOutput.data();
        EXPECT_EQ(cacheFiles(), before);
        for (const auto& request : service.requests()) {
            EXPECT_FALSE(request["host"].toString().startsWith("localhost"));
        }
    }
    for (std::size_t index = 0; index < std::size(statusCases); ++index) {
        service.script({{"routes", QJsonObject{{"/api/v1/delivery/latest", statusCases[index]}}}});
        const auto outcome = download();
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_TRUE(outcome.standardOutput.contains(statusMessages[index]))
            << outcome.standardOutput.data();
        EXPECT_EQ(cacheFiles(), before);
    }
}

TEST_F(CompanionTool, PrintSendsEachIssueToCupsOnce) {
    testing::PrivateCups cups;
    ASSERT_TRUE(cups.ready());
    environment.insert(QStringLiteral("CUPS_SERVER"), cups.server());
    const auto print = [&](const QString& issue, const QString& digest, const QString& queue) {
        return tool({"print", "--printer", queue, "--max-pages", "2", "--expected-issue", issue,
                     "--expected-sha256", digest});
    };
    const QByteArray threePages = issuePdf(3);
    publish(QStringLiteral("issue-7"), threePages, 3);
    ASSERT_EQ(download().exitStatus, 0);
    EXPECT_EQ(print("issue-7", sha256(threePages), cups.queue()).standardOutput,
              "Sent issue-7 to Quillo\n");
    const QStringList filtered = cups.filteredJobs(1);
    ASSERT_EQ(filtered.size(), 1);
    EXPECT_TRUE(filtered[0].startsWith("Quillo issue-7\t")) << filtered[0].toStdString();
    EXPECT_TRUE(jobOptions(filtered[0]).contains("page-ranges=1-2")) << filtered[0].toStdString();
    EXPECT_EQ(cups.printed(), threePages);
    for (int again = 0; again < 2; ++again) {
        const auto outcome = print("issue-7", sha256(threePages), cups.queue());
        EXPECT_EQ(outcome.exitStatus, 0);
        EXPECT_EQ(outcome.standardOutput, "Already printed issue-7\n");
    }
    EXPECT_EQ(cups.jobs().size(), 1);

    // Nothing reaches CUPS; a CUPS failure forgets the issue, so it prints later.
    const QByteArray onePage = issuePdf(1);
    publish(QStringLiteral("issue-8"), onePage, 1);
    ASSERT_EQ(download().exitStatus, 0);
    struct Case {
        QJsonObject script;
        QString digest;
        QString queue;
        QString server;
        int exitStatus;
        const char* message;
    };
    const QJsonObject ready = QJsonObject{{"token", token}};
    const std::vector<Case> cases{
        {{{"state", "disabled"}}, sha256(onePage), cups.queue(), cups.server(), 0, "disabled"},
        {{{"state", "waiting"}}, sha256(onePage), cups.queue(), cups.server(), 0, "No issue"},
        {{}, sha256(threePages), cups.queue(), cups.server(), 1, "not in the cache"},
        {{}, sha256(onePage), "Nowhere", cups.server(), 1, "CUPS has no print queue named Nowhere"},
        {{},
         sha256(onePage),
         cups.queue(),
         home.filePath("gone.sock"),
         1,
         "The print system (CUPS) is not running"},
        {{}, sha256(onePage), cups.queue(), cups.server(), 0, "Sent issue-8 to Quillo"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.message);
        if (testCase.script.isEmpty()) {
            publish(QStringLiteral("issue-8"), onePage, 1);
        } else {
            service.script(testCase.script);
        }
        environment.insert(QStringLiteral("CUPS_SERVER"), testCase.server);
        const auto outcome = print("issue-8", testCase.digest, testCase.queue);
        EXPECT_EQ(outcome.exitStatus, testCase.exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(testCase.message))
            << outcome.standardOutput.data();
    }
    EXPECT_EQ(cups.jobs().size(), 2);
    const QStringList both = cups.filteredJobs(2);
    ASSERT_EQ(both.size(), 2);
    EXPECT_TRUE(jobOptions(both[1]).contains("page-ranges=1")) << both[1].toStdString();
}

class CompanionSync : public CompanionTool {
protected:
    QString frame = home.filePath(QStringLiteral("frame.png"));

    void SetUp() override {
        CompanionTool::SetUp();
        testing::writeFile(home.filePath("issue.pdf"), issuePdf(1));
        const QByteArray request = R"({"pdf":")" + home.filePath("issue.pdf").toUtf8() +
                                   R"(","output":")" + frame.toUtf8() + R"(","model":"og"})";
        ASSERT_EQ(testing::runQuilloBar({"--render-display-stdin"}, request).exitStatus, 0);
    }
    ProcessOutcome sync(const QString& issue, const QString& width = QStringLiteral("800")) {
        return tool(
            {"sync", "--image", frame, "--issue", issue, "--width", width, "--height", "480"});
    }
    void answer(const QJsonObject& routes) { service.script({{"routes", routes}}); }
    [[nodiscard]] QString path() const { return webhook().mid(service.origin().size()); }
};

TEST_F(CompanionSync, UploadsEachFrameOnce) {
    struct Case {
        QString issue;
        QJsonObject webhookAnswer;
        std::pair<QString, QString> variable;
        QString width;
        int exitStatus;
        const char* output;
        int requests;
    };
    const std::pair<QString, QString> none;
    const std::vector<Case> cases{
        {"issue-7",
         {{"status", 429}},
         none,
         "800",
         1,
         "TRMNL is limiting uploads; the next check tries again\n",
         1},
        {"issue-7", {{"status", 500}}, none, "800", 1, "TRMNL answered HTTP 500\n", 1},
        {"issue-7", {}, none, "801", 1, "The display frame is not a 1-bit 801 × 480 PNG", 0},
        {"issue-7",
         {},
         {"QUILLO_EINK_WEBHOOK", "http://127.0.0.1:1/x"},
         "800",
         1,
         "must use HTTPS",
         0},
        {"issue-7", {}, {"QUILLO_EINK_WEBHOOK", ""}, "800", 1, "No display webhook", 0},
        {"issue-7", {}, none, "800", 0, "Uploaded issue-7\n", 1},
        {"issue-7", {}, none, "800", 0, "already_synced", 0},
        {"issue-8", {}, none, "800", 0, "Uploaded issue-8\n", 1},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.output);
        answer(testCase.webhookAnswer.isEmpty() ? QJsonObject{}
                                                : QJsonObject{{path(), testCase.webhookAnswer}});
        const QProcessEnvironment saved = environment;
        if (!testCase.variable.first.isEmpty()) {
            environment.insert(testCase.variable.first, testCase.variable.second);
        }
        const auto outcome = sync(testCase.issue, testCase.width);
        environment = saved;
        EXPECT_EQ(outcome.exitStatus, testCase.exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(testCase.output))
            << outcome.standardOutput.data();
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), testCase.requests);
        for (const auto& request : requests) {
            EXPECT_EQ(request["method"], "POST");
            EXPECT_EQ(request["content_type"], "image/png");
            EXPECT_EQ(request["sha256"], sha256(readFile(frame)));
        }
    }
}

TEST_F(CompanionSync, FollowsOnlyAFewRedirectsOnTheSameHost) {
    const QString port = service.origin().section(QLatin1Char(':'), 2);
    const auto hop = [](int status, const QString& location) {
        return QJsonObject{{"status", status}, {"location", location}};
    };
    const QJsonObject ok{{"json", QJsonObject{}}};
    struct Case {
        const char* name;
        QJsonObject routes;
        int exitStatus;
        QStringList paths;
        const char* message;
    };
    const std::vector<Case> cases{
        {"308 to another path",
         {{path(), hop(308, "/ok")}, {"/ok", ok}},
         0,
         {path(), "/ok"},
         "Uploaded"},
        {"302 to another path",
         {{path(), hop(302, "/ok")}, {"/ok", ok}},
         0,
         {path(), "/ok"},
         "Uploaded"},
        {"303 keeps the POST",
         {{path(), hop(303, "/ok")}, {"/ok", ok}},
         0,
         {path(), "/ok"},
         "Uploaded"},
        {"three hops",
         {{path(), hop(307, "/a")}, {"/a", hop(301, "/b")}, {"/b", hop(308, "/ok")}, {"/ok", ok}},
         0,
         {path(), "/a", "/b", "/ok"},
         "Uploaded"},
        {"four hops",
         {{path(), hop(307, "/a")},
          {"/a", hop(301, "/b")},
          {"/b", hop(308, "/c")},
          {"/c", hop(302, "/ok")},
          {"/ok", ok}},
         1,
         {path(), "/a", "/b", "/c"},
         "TRMNL answered HTTP 302: more than 3 redirects"},
        {"another host",
         {{path(), hop(308, "https://localhost:" + port + "/ok")}, {"/ok", ok}},
         1,
         {path()},
         "HTTP 308, a redirect to another site; nothing was sent there"},
        {"plain http",
         {{path(), hop(301, "http://127.0.0.1:" + port + "/ok")}, {"/ok", ok}},
         1,
         {path()},
         "another site"},
        {"no location",
         {{path(), QJsonObject{{"status", 302}}}},
         1,
         {path()},
         "without a new address"},
    };
    int issue = 0;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        answer(testCase.routes);
        const auto outcome = sync(QStringLiteral("issue-%1").arg(++issue));
        EXPECT_EQ(outcome.exitStatus, testCase.exitStatus);
        EXPECT_TRUE(outcome.standardOutput.contains(testCase.message))
            << outcome.standardOutput.data();
        QStringList paths;
        for (const auto& request : service.requests()) {
            EXPECT_EQ(request["host"], "127.0.0.1:" + port);
            EXPECT_EQ(request["method"], "POST");
            EXPECT_EQ(request["sha256"], sha256(readFile(frame)));
            paths.append(request["path"].toString());
        }
        EXPECT_EQ(paths, testCase.paths);
    }
}

TEST(CompanionRedirectRule, AllowsTheSameHostAndTheTwoTrmnlDomains) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"https://usetrmnl.com/api/plugin_settings/u/image",
         "https://trmnl.com/api/plugin_settings/u/image", true},
        {"https://trmnl.com/a", "https://usetrmnl.com/a", true},
        {"https://usetrmnl.com/a", "https://www.TRMNL.com/a", true},
        {"https://hooks.example/a", "https://trmnl.com/a", true},
        {"https://127.0.0.1:8443/a", "https://127.0.0.1:8443/b?c", true},
        {"https://usetrmnl.com/a", "http://trmnl.com/a", false},
        {"https://usetrmnl.com/a", "https://trmnl.com.evil.example/a", false},
        {"https://usetrmnl.com/a", "https://eviltrmnl.com/a", false},
        {"https://usetrmnl.com/a", "https://user:pw@trmnl.com/a", false},
        {"https://127.0.0.1/a", "https://localhost/a", false},
        {"https://hooks.example/a", "https://other.example/a", false},
        {"https://hooks.example/a", "not an address", false},
    };
    for (const auto& [from, to, allowed] : cases) {
        EXPECT_EQ(companion::mayFollowWebhookRedirect(from, to), allowed) << from << " -> " << to;
    }
}

// The agent may quit during a step and close the pipe; the upload still ends.
TEST_F(CompanionSync, FinishesWhenNobodyReadsItsOutput) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const std::string program = testing::buildRoot().toStdString() + "/libexec/quillo/quillo-print";
    std::vector<std::string> words{program,   "sync",    "--image", frame.toStdString(), "--issue",
                                   "issue-9", "--width", "800",     "--height",          "480"};
    std::vector<std::string> variables;
    for (const QString& entry : environment.toStringList()) {
        variables.push_back(entry.toStdString());
    }
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& text : strings) {
            result.push_back(text.data());
        }
        result.push_back(nullptr);
        return result;
    };
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), &actions, &attributes, pointers(words).data(),
                          pointers(variables).data()),
              0);
    ::close(pipe[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(service.requests().size(), 1);
    EXPECT_EQ(sync(QStringLiteral("issue-9")).standardOutput, "already_synced issue-9\n");
}

} // namespace
} // namespace quillo
