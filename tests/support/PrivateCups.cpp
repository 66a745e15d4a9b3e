#include "tests/support/PrivateCups.h"

#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <QThread>
#include <csignal>

namespace quillo::testing {
namespace {

const QString script = QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/private_cups.py");

// The program's output, or nothing when it failed.
QByteArray run(const QString& program, const QStringList& arguments, const QString& server = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!server.isEmpty()) {
        environment.insert(QStringLiteral("CUPS_SERVER"), server);
    }
    const ProcessOutcome outcome = runProgram(program, arguments, {}, environment);
    return outcome.exitStatus == 0 ? outcome.standardOutput : QByteArray();
}

} // namespace

PrivateCups::PrivateCups(bool cupsPdf)
    : server_(QString::fromUtf8(
          run(QStringLiteral("/usr/bin/python3"),
              {script, cupsPdf ? QStringLiteral("start-pdf") : QStringLiteral("start"),
               directory_.path()})
              .trimmed())) {}

PrivateCups::~PrivateCups() {
    freeze(false);
    stall({});
    run(QStringLiteral("/usr/bin/python3"), {script, QStringLiteral("stop"), directory_.path()});
}

QStringList PrivateCups::filteredJobs(qsizetype count) const {
    const auto lines = [this] {
        return QString::fromUtf8(readFile(directory_.filePath(QStringLiteral("jobs/jobs.log"))))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    // The device is written after the filter started: wait for the job to end too.
    for (int attempt = 0;
         attempt < 400 &&
         (lines().size() < count ||
          !run(QStringLiteral("lpstat"), {QStringLiteral("-o"), queue()}, server_).isEmpty());
         ++attempt) {
        QThread::msleep(50);
    }
    return lines();
}

void PrivateCups::freeze(bool frozen) const {
    const int process =
        readFile(directory_.filePath(QStringLiteral("cupsd.pid"))).trimmed().toInt();
    if (process > 0) {
        ::kill(process, frozen ? SIGSTOP : SIGCONT);
    }
}

void PrivateCups::crash() const {
    ::kill(readFile(directory_.filePath(QStringLiteral("cupsd.pid"))).trimmed().toInt(), SIGKILL);
    run(QStringLiteral("/usr/bin/python3"), {script, QStringLiteral("start"), directory_.path()});
}

void PrivateCups::stall(const QString& exchange) const {
    QFile::remove(directory_.filePath(QStringLiteral("stalled")));
    if (exchange.isEmpty()) {
        QFile::remove(directory_.filePath(QStringLiteral("stall")));
    } else {
        writeFile(directory_.filePath(QStringLiteral("stall")), exchange.toUtf8());
    }
}

bool PrivateCups::stalled() const {
    return QFile::exists(directory_.filePath(QStringLiteral("stalled")));
}

QByteArray PrivateCups::pdfOutput() const {
    // cups-pdf writes its file last of all.
    for (int attempt = 0; attempt < 400; ++attempt) {
        const auto files = QDir(directory_.filePath(QStringLiteral("pdf")))
                               .entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time);
        if (!files.isEmpty() &&
            run(QStringLiteral("lpstat"), {QStringLiteral("-o"), pdfQueue()}, server_).isEmpty()) {
            return readFile(files.first().filePath());
        }
        QThread::msleep(50);
    }
    return {};
}

QByteArray PrivateCups::printed() const {
    return readFile(directory_.filePath(QStringLiteral("printed.pdf")));
}

} // namespace quillo::testing
