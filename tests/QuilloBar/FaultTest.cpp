// Faults of the machine around a delivery, through the agent's delegate as a
// process of its own and the real tool, the local service and the private
// CUPS: each run that meets one ends in a line that says what happened, and
// the next run, once the fault is gone, delivers (or knows it did) by itself.
#include "agent/IssueCache.h"
#include "tests/QuilloBar/ReadyReader.h"
#include "tests/support/FixturePdf.h"
#include "tests/support/NewspaperService.h"
#include "tests/support/PrivateCups.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
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

// A TCP relay to the service that can go away and come back on the same port:
// the service as the agent sees it, unreachable and reachable again.
class Relay {
public:
    explicit Relay(int target) : target_(target) { start(); }
    ~Relay() { stop(); }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    void start() {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral("-c"), QString::fromLatin1(script), QString::number(port_),
                        QString::number(target_)});
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
    static constexpr const char* script = R"py(
import socket, sys, threading
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen(16)
print(listener.getsockname()[1], flush=True)
def pipe(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
while True:
    client, _ = listener.accept()
    server = socket.create_connection(("127.0.0.1", int(sys.argv[2])))
    for ends in ((client, server), (server, client)):
        threading.Thread(target=pipe, args=ends, daemon=True).start()
)py";
    QProcess process_;
    int port_ = 0;
    int target_;
};

enum class Fault { keyringGone, cupsdRestarted, serviceUnreachable, diskFull, stateUnwritable };

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

    // The companion tool's step now running, if any.
    static QString toolStep() {
        const QString tool =
            QFileInfo(testing::buildRoot() + "/libexec/quillo/quillo-print").canonicalFilePath();
        for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            if (QFileInfo("/proc/" + pid + "/exe").symLinkTarget() == tool &&
                readFile("/proc/" + pid + "/environ").contains("HOME=" + qgetenv("HOME") + '\0')) {
                return QString::fromUtf8(
                    readFile("/proc/" + pid + "/cmdline").split('\0').value(1));
            }
        }
        return {};
    }

    [[nodiscard]] qsizetype jobsOf(const QString& id) const {
        return cups.filteredJobs(0).filter(QRegularExpression("^Quillo " + id + "\t")).size();
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

    // cupsd killed while a print step waits on it, and started again.
    void restartCupsd() const {
        waitUntil([] { return toolStep() == "print"; });
        const QString socket = cups.server();
        // The tool's connection waits in the stopped scheduler's queue.
        waitUntil([&] {
            return QString::fromUtf8(readFile(QStringLiteral("/proc/net/unix"))).count(socket) > 1;
        });
        ::kill(readFile(cups.directory() + "/cupsd.pid").trimmed().toInt(), SIGKILL);
        testing::runProgram(QStringLiteral("/usr/bin/python3"),
                            {QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/private_cups.py"),
                             QStringLiteral("start"), cups.directory()},
                            {});
    }

    testing::NewspaperService service;
    testing::PrivateCups cups;
    Relay relay{service.origin().section(u':', -1).toInt()};
    QProcess keyring;
};

// Columns: the fault, the start of the line of the run that meets it (the
// tool's own words follow), the next run's line once the fault is gone, and
// the copies printed in all. The keyring that vanishes mid-run is not needed
// again by that run; cupsd restarted mid-job loses the job and the record
// with it, so the next run prints; a full disk keeps no half issue; a state
// folder that a file stands in for (root writes through any mode) keeps the
// print from going out unrecorded.
TEST_F(Faults, EachEndsInALineAndTheNextRunRecoversByItself) {
    const QString state =
        qEnvironmentVariable("XDG_STATE_HOME", QDir::homePath() + "/.local/state") + "/quillo";
    const QString feeds = QDir::homePath() + "/.config/quillo/feeds";
    struct Row {
        Fault fault;
        QString faultLine;
        QString nextLine;
    };
    const std::vector<Row> rows{
        {Fault::keyringGone, delivered, known},
        {Fault::cupsdRestarted, "Print stopped: ", delivered},
        {Fault::serviceUnreachable, "Check failed: ", delivered},
        {Fault::diskFull, "Check failed: ", delivered},
        {Fault::stateUnwritable, "Print stopped: ", delivered},
    };
    int number = 0;
    for (const Row& row : rows) {
        const QString id = QStringLiteral("fault-%1").arg(++number);
        SCOPED_TRACE(id.toStdString());
        QStringList wrapper;
        std::function<void()> meanwhile;
        switch (row.fault) {
        case Fault::keyringGone:
            publish(id, true);
            meanwhile = [&] {
                waitUntil([&] { return !service.requests().isEmpty(); });
                killKeyring();
                service.release();
            };
            break;
        case Fault::cupsdRestarted:
            publish(id);
            cups.freeze(true);
            meanwhile = [&] { restartCupsd(); };
            break;
        case Fault::serviceUnreachable:
            publish(id);
            relay.stop();
            break;
        case Fault::diskFull:
            if (::geteuid() != 0) {
                std::cout << "[ SKIPPED  ] the full disk: a private mount takes root\n";
                continue;
            }
            publish(id);
            QDir().mkpath(feeds);
            wrapper = QStringList{"unshare",
                                  "-m",
                                  "sh",
                                  "-c",
                                  "mount -t tmpfs -o size=128k quillo-full \"$0\" && exec \"$1\"",
                                  feeds};
            break;
        case Fault::stateUnwritable:
            publish(id);
            QDir().rename(state, state + ".away");
            testing::writeFile(state, "not a folder");
            break;
        }
        const QString faultLine = deliver(wrapper, meanwhile);
        EXPECT_TRUE(faultLine.startsWith(row.faultLine)) << faultLine.toStdString();

        switch (row.fault) {
        case Fault::keyringGone:
            startKeyring();
            break;
        case Fault::serviceUnreachable:
            relay.start();
            break;
        case Fault::stateUnwritable:
            QFile::remove(state);
            QDir().rename(state + ".away", state);
            break;
        case Fault::cupsdRestarted:
        case Fault::diskFull:
            break;
        }
        const QString nextLine = deliver();
        EXPECT_EQ(nextLine.toStdString(), row.nextLine.toStdString());
        EXPECT_EQ(jobsOf(id), 1);
        std::cout << id.toStdString() << ": " << faultLine.toStdString() << " | "
                  << nextLine.toStdString() << "\n";
    }
}

} // namespace
} // namespace quillo
