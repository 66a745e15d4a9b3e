#include "tests/support/PrivateCups.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <csignal>

namespace quillo::testing {
namespace {

const QString script = QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/private_cups.py");

QByteArray run(const QString& program, const QStringList& arguments, const QString& server = {}) {
    QProcess process;
    if (!server.isEmpty()) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CUPS_SERVER"), server);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    process.waitForFinished(30000);
    return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
}

} // namespace

PrivateCups::PrivateCups()
    : server_(QString::fromUtf8(run(QStringLiteral("/usr/bin/python3"),
                                    {script, QStringLiteral("start"), directory_.path()})
                                    .trimmed())) {}

PrivateCups::~PrivateCups() {
    stop();
}

void PrivateCups::stop() {
    freeze(false);
    run(QStringLiteral("/usr/bin/python3"), {script, QStringLiteral("stop"), directory_.path()});
}

QStringList PrivateCups::jobs() const {
    return QString::fromUtf8(
               run(QStringLiteral("lpstat"),
                   {QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o"), queue()},
                   server_))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList PrivateCups::filteredJobs(qsizetype count) const {
    const auto lines = [this] {
        QFile log(directory_.filePath(QStringLiteral("jobs/jobs.log")));
        return log.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QStringList();
    };
    for (int attempt = 0; attempt < 200 && lines().size() < count; ++attempt) {
        QThread::msleep(50);
    }
    // The device is written after the filter started: wait for the job to end.
    for (int attempt = 0;
         attempt < 200 &&
         !run(QStringLiteral("lpstat"), {QStringLiteral("-o"), queue()}, server_).isEmpty();
         ++attempt) {
        QThread::msleep(50);
    }
    return lines();
}

void PrivateCups::freeze(bool frozen) const {
    QFile pid(directory_.filePath(QStringLiteral("cupsd.pid")));
    const int process = pid.open(QIODevice::ReadOnly) ? pid.readAll().trimmed().toInt() : 0;
    if (process > 0) {
        ::kill(process, frozen ? SIGSTOP : SIGCONT);
    }
}

QByteArray PrivateCups::printed() const {
    QFile file(directory_.filePath(QStringLiteral("printed.pdf")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace quillo::testing
