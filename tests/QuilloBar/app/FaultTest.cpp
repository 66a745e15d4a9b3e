// Faults of the machine around a delivery, through the agent's delegate as a
// process of its own and the real tool, the local service and the private
// CUPS: each run that meets one ends in a line that says what happened, and
// the next run, once the fault is gone, delivers (or knows it did) by itself.
#include "tests/QuilloBar/app/ReadyReader.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <unistd.h>

namespace quillo {
namespace {

using testing::readFile;

const QString token = QStringLiteral("fault-delivery-key-52be07d1");
const QString hookPath =
    QStringLiteral("/api/plugin_settings/0f6c2d4e-8a1b-4c3d-9e5f-7a8b9c0d1e2f/image");
const QString delivered =
    QStringLiteral("Sent to print queue \u00B7 Uploaded to TRMNL \u00B7 awaiting screen refresh");
const QString known = QStringLiteral("Already printed \u00B7 Display already synced");

void waitUntil(const std::function<bool()>& condition) {
    ASSERT_TRUE(QTest::qWaitFor(condition, 30000));
}

// The service as the agent sees it, through a relay that can go away and come
// back on the same port (tcp_relay.py).
class Relay {
public:
    explicit Relay(int target) : target_(target) { start(); }
    ~Relay() { stop(); }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    void start() {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/tcp_relay.py"),
                        QString::number(port_), QString::number(target_)});
        process_.waitForReadyRead(10000);
        port_ = process_.readLine().trimmed().toInt();
    }
    void stop() {
        process_.kill();
        process_.waitForFinished();
    }
    [[nodiscard]] QString origin() const {
        return QStringLiteral("https://127.0.0.1:%1").arg(port_);
    }

private:
    QProcess process_;
    int port_ = 0;
    int target_;
};

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.ready() && cups.ready());
        ASSERT_TRUE(testing::storeReadyReader(service, cups, relay.origin(), token, hookPath));
    }

    void TearDown() override {
        cups.freeze(false);
        keyring.kill();
        keyring.waitForFinished();
    }

    // A two-page issue, a little larger than the smallest disk below.
    void publish(const QString& id, bool stallCheck = false) {
        const std::string filler = "% " + std::string(300'000, 'x') + "\n";
        const QByteArray pdf =
            testing::fixturePdf({{testing::usLetter, {}, {}, filler + "0 g 72 500 468 220 re f"},
                                 {testing::usLetter, {}, {}, "% " + id.toStdString()}});
        QJsonObject routes = service.issueRoutes(id, pdf, 2);
        if (stallCheck) {
            routes[testing::latestPath] = QJsonObject{
                {"json", routes[testing::latestPath].toObject()["json"]}, {"stall", true}};
        }
        service.script({{"token", token}, {"routes", routes}});
    }

    // One delivery through the agent to its end, its last status line.
    // `wrapper` runs the agent inside another program; `meanwhile` acts on it.
    static QString deliver(const QStringList& wrapper = {},
                           const std::function<void()>& meanwhile = {}) {
        QProcess agent;
        QStringList command = wrapper;
        command.append(QStringLiteral(QUILLO_DELIVERING_AGENT));
        agent.start(command.takeFirst(), command);
        EXPECT_TRUE(agent.waitForStarted());
        if (meanwhile) {
            meanwhile();
        }
        EXPECT_TRUE(agent.waitForFinished(90000));
        const QStringList lines =
            QString::fromUtf8(agent.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        return lines.value(lines.size() - 1);
    }

    // The bus's keyring daemon, found as a process list finds it.
    static void killKeyring() {
        const QByteArray bus = "DBUS_SESSION_BUS_ADDRESS=" + qgetenv("DBUS_SESSION_BUS_ADDRESS");
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (QFileInfo("/proc/" + pid + "/exe").fileName() == "gnome-keyring-daemon" &&
                readFile("/proc/" + pid + "/environ").split('\0').contains(bus)) {
                ::kill(pid.toInt(), SIGKILL);
            }
        }
    }

    // The session starts the Secret Service again when next asked for it.
    void startKeyring() {
        keyring.start(QStringLiteral("gnome-keyring-daemon"),
                      {"--foreground", "--components=secrets", "--unlock"});
        keyring.waitForStarted();
        keyring.write("quillo-tests");
        keyring.closeWriteChannel();
        testing::runProgram(QStringLiteral("gdbus"),
                            {"wait", "--session", "--timeout=10", "org.freedesktop.secrets"}, {});
    }

    // cupsd killed while the print step's connection waits in the stopped
    // scheduler's queue, and started again.
    void restartCupsd() const {
        const QString socket = cups.server();
        waitUntil([&] {
            return QString::fromUtf8(readFile(QStringLiteral("/proc/net/unix"))).count(socket) > 1;
        });
        cups.crash();
    }

    testing::NewspaperService service;
    testing::PrivateCups cups;
    Relay relay{service.origin().section(u':', -1).toInt()};
    QProcess keyring;
};

// Columns: the fault (set up before the run, or done to it meanwhile), what
// takes it away, the start of the line of the run that meets it (the tool's
// own words follow), and the next run's line. The keyring that vanishes
// mid-run is not needed again by that run; cupsd restarted mid-job loses the
// job and the record with it, so the next run prints; a full disk (a private
// tmpfs of 128 KiB over the feed folder, as root) keeps no half issue; a
// state folder that a file stands in for (root writes through any mode) keeps
// the print from going out unrecorded; cupsd killed while the release waits
// forgets the job, which the next run makes again; a newer issue announced
// while an older copy is held at Release-Job has the older copy cancelled.
// Each issue reaches the printer once at most, and nothing stays held.
TEST_F(Faults, EachEndsInALineAndTheNextRunRecoversByItself) {
    const QString state =
        qEnvironmentVariable("XDG_STATE_HOME", QDir::homePath() + "/.local/state") + "/quillo";
    const QString feeds = QDir::homePath() + "/.config/quillo/feeds";
    const QStringList fullDisk{"unshare",
                               "-m",
                               "sh",
                               "-c",
                               "mount -t tmpfs -o size=128k quillo-full \"$0\" && exec \"$1\"",
                               feeds};
    using Action = std::function<void()>;
    struct Row {
        Action before;
        Action meanwhile;
        Action after;
        QString faultLine;
        QString nextLine;
        bool onFullDisk = false;
        // A newer issue is announced before the next run.
        bool newer = false;
    };
    // The print step held at Release-Job until it gives up, or until cupsd
    // is killed and started again without the job.
    const auto holdRelease = [&] { cups.stall(QStringLiteral("Release-Job request")); };
    const auto crashAtRelease = [&] {
        waitUntil([&] { return cups.stalled(); });
        cups.crash();
        cups.stall({});
    };
    const std::vector<Row> rows{
        {{},
         [&] {
             waitUntil([&] { return !service.requests().isEmpty(); });
             killKeyring();
             service.release();
         },
         [&] { startKeyring(); },
         delivered,
         known},
        {[&] { cups.freeze(true); },
         [&] { restartCupsd(); },
         {},
         "Print stopped: The print system (CUPS) ",
         delivered},
        {[&] { relay.stop(); }, {}, [&] { relay.start(); }, "Check failed: ", delivered},
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
        {holdRelease, crashAtRelease, {}, "Print stopped: ", delivered},
        {holdRelease,
         {},
         [&] { cups.stall({}); },
         "Print stopped: The print system (CUPS) did not answer in time",
         delivered,
         false,
         true},
    };
    int number = 0;
    for (const Row& row : rows) {
        const QString id = QStringLiteral("fault-%1").arg(++number);
        SCOPED_TRACE(id.toStdString());
        if (row.onFullDisk && ::geteuid() != 0) {
            std::cout << "[ SKIPPED  ] the full disk: a private mount takes root\n";
            continue;
        }
        // The keyring goes while the agent waits for the service.
        publish(id, number == 1);
        if (row.before) {
            row.before();
        }
        const QString faultLine = deliver(row.onFullDisk ? fullDisk : QStringList(), row.meanwhile);
        EXPECT_TRUE(faultLine.startsWith(row.faultLine)) << faultLine.toStdString();
        if (row.after) {
            row.after();
        }
        if (row.newer) {
            publish(id + "-newer");
        }
        const QString nextLine = deliver();
        EXPECT_EQ(nextLine.toStdString(), row.nextLine.toStdString());
        // The older copy held at Release-Job is cancelled, never printed.
        EXPECT_EQ(cups.jobsOf(id), row.newer ? 0 : 1);
        EXPECT_EQ(cups.jobsOf(id + "-newer"), row.newer ? 1 : 0);
        EXPECT_EQ(
            testing::runProgram("lpstat", {"-o"}, {}, QProcessEnvironment::systemEnvironment())
                .standardOutput,
            "");
        std::cout << id.toStdString() << ": " << faultLine.toStdString() << " | "
                  << nextLine.toStdString() << "\n";
    }
}

} // namespace
} // namespace quillo
