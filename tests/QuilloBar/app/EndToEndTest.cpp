// The agent and the real companion tool against the local newspaper service,
// the private CUPS and the session's keyring: launches with and without a tray
// host, deliveries, kill -9 of the agent or the tool at each step of a
// delivery, faults of the machine around one, an issue too large, and where
// the two secrets may and may not be found. (The tool's own kills, and the
// scheduler's stops and crashes, at each exchange with CUPS are the companion
// tool's test.)
#include "agent/IssueCache.h"
#include "store/BuildFingerprint.h"
#include "store/Preferences.h"
#include "store/Vault.h"
#include "tests/store/PrivateSession.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDirIterator>
#include <QImage>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <unistd.h>

namespace quillo {
namespace {

using testing::latestPath;
using testing::readFile;

const QString token = QStringLiteral("e2e-delivery-key-7c41d9a0");
const QString plugin = QStringLiteral("9b2e4f61-3c8d-4a7e-b5f0-2d6c8e1a9f34");
const QString hookPath = "/api/plugin_settings/" + plugin + "/image";
const QString sent = QStringLiteral("Sent to print queue");
const QString uploaded = QStringLiteral("Uploaded to TRMNL \u00B7 awaiting screen refresh");
const QString again = QStringLiteral("Already printed");
const QString killed = QStringLiteral("quillo-print ended on signal 9 (Killed)");
const QString delivered = sent + " \u00B7 " + uploaded;

// Where a delivery is stopped: the service holds the check's answer or the
// PDF; the print job holds its document and its release is held back; the
// service holds the upload.
enum class Step { check, download, sent, upload };

QString joined(std::initializer_list<QString> outcomes) {
    return QStringList(outcomes).join(QStringLiteral(" \u00B7 "));
}

void waitUntil(const std::function<bool()>& condition) {
    ASSERT_TRUE(QTest::qWaitFor(condition, 30000));
}

class EndToEnd : public ::testing::Test {
protected:
    // A reader whose keyring holds the key and the webhook, who chose both
    // destinations and the private queue and authorized this build.
    void SetUp() override {
        ASSERT_TRUE(service.ready() && cups.ready());
        qputenv("CURL_CA_BUNDLE", service.caBundle().toUtf8());
        qputenv("CUPS_SERVER", cups.server().toUtf8());
        Vault::save(token, SecretAccount::deliveryKey);
        Vault::save(service.origin() + hookPath, SecretAccount::einkWebhook);
        Preferences stored;
        stored.setString(PreferenceKey::origin, service.origin());
        stored.setString(PreferenceKey::destination, QStringLiteral("both"));
        stored.setString(PreferenceKey::printer, testing::PrivateCups::queue());
        stored.setString(PreferenceKey::displayModel, QStringLiteral("x"));
        stored.setBoolean(PreferenceKey::didShowWelcome, true);
        stored.setString(PreferenceKey::authorizedBuild,
                         buildFingerprint(testing::buildRoot().toStdString()));
        ASSERT_TRUE(stored.sync());
    }

    // Publishes a two-page issue, a little larger than the smallest disk
    // below, as the latest; the service holds its answer at `stall`: the
    // check's question, half the PDF, or the upload.
    void publish(const QString& id, std::optional<Step> stall = std::nullopt) {
        const std::string filler = "% " + std::string(300'000, 'x') + "\n";
        const QByteArray pdf = testing::fixturePdf(
            {{testing::usLetter, {}, {}, filler + "0 g 72 500 468 220 re f % " + id.toStdString()},
             {}});
        QJsonObject routes = service.issueRoutes(id, pdf, 2);
        if (stall) {
            const QString path = stall == Step::check ? latestPath
                                 : stall == Step::download
                                     ? "/api/v1/delivery/issues/" + id + ".pdf"
                                     : hookPath;
            QJsonObject route = routes[path].toObject();
            route.insert("stall", stall == Step::download ? QJsonValue(pdf.size() / 2) : true);
            routes[path] = route;
        }
        service.script({{"token", token}, {"routes", routes}});
        issues.insert(id, pdf);
        latestId = id;
    }

    // One delivery through the agent, to its end: the status lines it showed.
    // `meanwhile` acts on the running agent; `wrapper` runs it inside another
    // program.
    QStringList deliver(const std::function<void(QProcess&)>& meanwhile = {},
                        QStringList wrapper = {}) {
        QProcess agent;
        wrapper.append(QStringLiteral(QUILLO_DELIVERING_AGENT));
        agent.start(wrapper.takeFirst(), wrapper);
        EXPECT_TRUE(agent.waitForStarted());
        if (meanwhile) {
            meanwhile(agent);
        }
        EXPECT_TRUE(agent.waitForFinished(90000));
        const QByteArray output = agent.readAllStandardOutput();
        outputs += output + agent.readAllStandardError();
        return QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts);
    }

    // The companion tools of this test, found as a process list finds them.
    static QList<qint64> tools() {
        const QString tool =
            QFileInfo(testing::buildRoot() + "/libexec/quillo/quillo-print").canonicalFilePath();
        const QByteArray home = "HOME=" + qgetenv("HOME");
        QList<qint64> found;
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (QFileInfo("/proc/" + pid + "/exe").symLinkTarget() == tool &&
                readFile("/proc/" + pid + "/environ").split('\0').contains(home)) {
                found.append(pid.toLongLong());
            }
        }
        return found;
    }

    [[nodiscard]] QString feed() const {
        return feedDirectory(QDir::homePath(), service.origin(), token);
    }

    [[nodiscard]] bool reached(Step step) const {
        // The check asks first; the upload, once under way, is the last request.
        const QList<QJsonObject> requests = service.requests();
        switch (step) {
        case Step::check:
            return !requests.isEmpty();
        case Step::download: {
            const auto partial =
                QDir(feed()).entryInfoList({".download-*"}, QDir::Files | QDir::Hidden);
            return !partial.isEmpty() && partial.first().size() > 0;
        }
        case Step::sent:
            return cups.stalled();
        case Step::upload:
            return requests.value(requests.size() - 1)["path"].toString() == hookPath;
        }
        return false;
    }

    // Every issue PDF in the cache is whole, and latest.json names one of them
    // as it was published; once settled, no temporary file is left.
    void expectWholeCache(bool settled) const {
        for (const QFileInfo& file : QDir(feed()).entryInfoList({"*.pdf"}, QDir::Files)) {
            EXPECT_EQ(readFile(file.filePath()), issues.value(file.completeBaseName()))
                << file.fileName().toStdString();
        }
        const QJsonObject latest =
            QJsonDocument::fromJson(readFile(feed() + "/latest.json")).object();
        EXPECT_EQ(readFile(latest["pdf"].toString()), issues.value(latest["issue"].toString()));
        if (settled) {
            EXPECT_EQ(QDir(feed()).entryList({".download-*", ".latest.json.*"},
                                             QDir::Files | QDir::Hidden),
                      QStringList());
        }
    }

    testing::NewspaperService service;
    testing::PrivateCups cups;
    testing::PrivateSession& session = testing::applicationSession();
    QMap<QString, QByteArray> issues;
    QString latestId;
    QByteArray outputs;
};

// Launched before any tray host, the authorized agent shows its window and
// checks; once a host (the shell's StatusNotifierWatcher) appears it starts
// again in the same process, and the shell reads its item and menu over
// dbusmenu while its check hangs, then quits it: the agent leaves at once,
// the tool carries on.
TEST_F(EndToEnd, LaunchesWithAndWithoutATrayHost) {
    const auto environment = testing::onTestDisplay(QProcessEnvironment::systemEnvironment());
    if (!environment) {
        GTEST_SKIP() << "QUILLO_TEST_DISPLAY names no X server (scripts/test.sh starts Xvfb)";
    }
    publish(QStringLiteral("2026-12-07"));
    QProcess agent;
    agent.setProcessEnvironment(*environment);
    agent.start(testing::buildRoot() + "/bin/quillo-bar", {});
    waitUntil([&] { return service.requests().size() == 2 && tools().isEmpty(); });
    EXPECT_EQ(testing::runProgram("xwininfo", {"-name", "Quillo"}, {}, *environment).exitStatus, 0);

    publish(QStringLiteral("2026-12-07"), Step::check);
    testing::TrayShell shell(*environment);
    ASSERT_EQ(shell.ask(), "ready");
    waitUntil([&] { return reached(Step::check); });
    EXPECT_EQ(
        shell.ask("read\n").split(u'\t'),
        QStringList({QString::number(agent.processId()), "Quillo \u00B7 Your newspaper, delivered.",
                     "Checking for a new issue\u2026 (off)|-|Read latest issue|"
                     "Sync now\u2026 (off)|-|Settings\u2026|Open Quillo|-|Quit Quillo"}));
    EXPECT_EQ(shell.ask("click Quit Quillo\n"), "clicked");
    EXPECT_TRUE(agent.waitForFinished(10000));
    EXPECT_EQ(agent.exitCode(), 0);
    EXPECT_EQ(tools().size(), 1) << "the companion tool was stopped with the agent";
    service.release();
    waitUntil([] { return tools().isEmpty(); });
}

// Columns: where the delivery is stopped, whether the agent or the tool gets
// SIGKILL, the faulted run's line, the next run's line, and how
// many times the issue reached the printer: once, whatever the step. The key
// belongs to the check and the print, the webhook (and the plugin id within
// it) to the upload: each step is caught alive before the kill, and at the
// end every file of the agent, the tool and CUPS and every output is searched.
TEST_F(EndToEnd, KillAtEveryStepNeverPrintsTwiceNorLeavesAHalfCacheNorASecret) {
    const QByteArray hook = (service.origin() + hookPath).toUtf8();
    const auto holds = [&](const QByteArray& bytes) {
        return std::pair(bytes.contains(token.toUtf8()),
                         bytes.contains(hook) || bytes.contains(plugin.toUtf8()));
    };
    enum class Kill { agent, tool };
    const std::vector<std::tuple<Step, Kill, QString, QString>> cases{
        {Step::download, Kill::agent, {}, delivered},
        {Step::download, Kill::tool, "Check failed: " + killed, delivered},
        {Step::sent, Kill::agent, {}, joined({again, uploaded})},
        {Step::upload, Kill::agent, {}, joined({again, "Display already synced"})},
        {Step::upload, Kill::tool, joined({sent, "Display stopped: " + killed}),
         joined({again, uploaded})},
    };
    int number = 0;
    for (const auto& [step, target, faultLine, nextLine] : cases) {
        const QString id = QStringLiteral("issue-%1").arg(++number);
        SCOPED_TRACE(id.toStdString());
        publish(id + "-old");
        ASSERT_EQ(deliver().last(), delivered);
        publish(id, step != Step::sent ? std::optional(step) : std::nullopt);
        cups.stall(step == Step::sent ? QStringLiteral("Release-Job request") : QString());
        const QStringList fault = deliver([&](QProcess& agent) {
            waitUntil([&] { return reached(step); });
            QList<qint64> found;
            waitUntil([&found] { return (found = tools()).size() == 1; });
            const QString tool = QStringLiteral("/proc/%1/").arg(found.value(0));
            const QString self = QStringLiteral("/proc/%1/").arg(agent.processId());
            const bool upload = step == Step::upload;
            EXPECT_EQ(holds(readFile(tool + "environ")), std::pair(!upload, upload));
            for (const QString& file : {tool + "cmdline", self + "environ", self + "cmdline"}) {
                EXPECT_EQ(holds(readFile(file)), std::pair(false, false)) << file.toStdString();
            }
            EXPECT_TRUE(QString::fromUtf8(readFile(tool + "limits"))
                            .contains(QRegularExpression("Max core file size +0 +0 ")));
            if (target == Kill::agent) {
                agent.kill();
            } else {
                ::kill(static_cast<pid_t>(found.value(0)), SIGKILL);
            }
        });
        EXPECT_EQ(fault.value(1), faultLine);
        // A tool whose agent died carries on once the far side does.
        service.release();
        cups.stall({});
        waitUntil([] { return tools().isEmpty(); });
        expectWholeCache(false);

        EXPECT_EQ(deliver().last(), nextLine);
        expectWholeCache(true);
        EXPECT_EQ(QJsonDocument::fromJson(readFile(feed() + "/latest.json"))["issue"].toString(),
                  id);
        EXPECT_EQ(cups.jobsOf(id), 1);
    }
    // The last delivery uploaded the frame of the last issue drawn for the
    // stored model (the tool takes only 1-bit gray frames), and CUPS printed it.
    const QByteArray frame = service.body(service.requests().size() - 1);
    EXPECT_EQ(QImage::fromData(frame, "PNG").size(), QSize(1872, 1404));
    EXPECT_EQ(cups.printed(), issues.value(latestId));
    EXPECT_EQ(holds(outputs), std::pair(false, false));

    const QString keyrings = qEnvironmentVariable("XDG_DATA_HOME") + "/keyrings/";
    for (const QString& folder :
         {QDir::homePath(), qEnvironmentVariable("XDG_CONFIG_HOME"),
          qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("XDG_CACHE_HOME"),
          qEnvironmentVariable("XDG_RUNTIME_DIR"), cups.directory()}) {
        QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            if (!path.startsWith(keyrings)) {
                EXPECT_EQ(holds(readFile(path)), std::pair(false, false)) << path.toStdString();
            }
        }
    }
}

// Faults of the machine around a delivery: the run that meets one ends in a
// line that says so, and the next, once the fault is gone, delivers (or knows
// it did) by itself. Columns: the fault (set up before the run, or done to it
// meanwhile), what takes it away, the start of the faulted run's line and the
// next run's line. The keyring that vanishes while the check waits is not
// needed again by that run; a full disk (a private tmpfs of 128 KiB over the
// feed folder, as root) keeps no half issue; a state folder that a file stands
// in for (root writes through any mode) keeps the print from going out
// unrecorded. Each issue reaches the printer once, and nothing stays held.
TEST_F(EndToEnd, FaultsEndInALineAndTheNextRunRecoversByItself) {
    const QString state =
        qEnvironmentVariable("XDG_STATE_HOME", QDir::homePath() + "/.local/state") + "/quillo";
    const QString feeds = QDir::homePath() + "/.config/quillo/feeds";
    const QString mount = "mount -t tmpfs -o size=128k quillo-full \"$0\" && exec \"$1\"";
    const QStringList fullDisk{"unshare", "-m", "sh", "-c", mount, feeds};
    struct Row {
        std::function<void()> before;
        std::function<void(QProcess&)> meanwhile;
        std::function<void()> after;
        QString faultLine;
        QString nextLine;
        bool onFullDisk = false;
    };
    const std::vector<Row> rows{
        {{},
         [&](QProcess&) {
             waitUntil([&] { return reached(Step::check); });
             session.stopKeyring();
             service.release();
         },
         [&] { ASSERT_TRUE(session.restartKeyringLocked() && session.unlockFromOutside()); },
         delivered,
         joined({again, "Display already synced"})},
        {[&] { QDir().mkpath(feeds); }, {}, {}, "Check failed: ", delivered, true},
        {[&] {
             QDir().rename(state, state + ".away");
             testing::writeFile(state, "not a folder");
         },
         {},
         [&] {
             QFile::remove(state);
             QDir().rename(state + ".away", state);
         },
         "Print stopped: ",
         delivered},
    };
    int number = 0;
    for (const Row& row : rows) {
        const QString id = QStringLiteral("fault-%1").arg(++number);
        SCOPED_TRACE(id.toStdString());
        if (row.onFullDisk && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] the full disk: a private mount takes root\n";
            continue;
        }
        publish(id, number == 1 ? std::optional(Step::check) : std::nullopt);
        if (row.before) {
            row.before();
        }
        const QString faultLine =
            deliver(row.meanwhile, row.onFullDisk ? fullDisk : QStringList()).last();
        EXPECT_TRUE(faultLine.startsWith(row.faultLine)) << faultLine.toStdString();
        if (row.after) {
            row.after();
        }
        EXPECT_EQ(deliver().last(), row.nextLine);
        EXPECT_EQ(cups.jobsOf(id), 1);
        EXPECT_EQ(
            testing::runProgram("lpstat", {"-o"}, {}, QProcessEnvironment::systemEnvironment())
                .standardOutput,
            "");
    }
}

// The tool's own cap: an issue over 50 MiB, sent without a length, is refused
// at the limit.
TEST_F(EndToEnd, AnIssueOverTheCapEndsInALine) {
    QJsonObject routes = service.issueRoutes("big", "%PDF", 1);
    routes["/api/v1/delivery/issues/big.pdf"] =
        QJsonObject{{"zeros", 200 << 20}, {"length", false}};
    service.script({{"token", token}, {"routes", routes}});
    EXPECT_EQ(deliver().value(1),
              "Check failed: Issue big is larger than 50 MiB; nothing was kept");
}

} // namespace
} // namespace quillo
