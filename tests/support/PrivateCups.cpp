#include "tests/support/PrivateCups.h"

#include <QFile>
#include <QProcess>
#include <QThread>

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
    QStringList lines;
    for (int attempt = 0; attempt < 200; ++attempt) {
        QFile log(directory_.filePath(QStringLiteral("jobs/jobs.log")));
        lines = log.open(QIODevice::ReadOnly)
                    ? QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                    : QStringList();
        if (lines.size() >= count) {
            break;
        }
        QThread::msleep(50);
    }
    // The device is written after the filter started: wait for the job to end.
    for (int attempt = 0;
         attempt < 200 &&
         !run(QStringLiteral("lpstat"), {QStringLiteral("-o"), queue()}, server_).isEmpty();
         ++attempt) {
        QThread::msleep(50);
    }
    return lines;
}

QByteArray PrivateCups::printed() const {
    QFile file(directory_.filePath(QStringLiteral("printed.pdf")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace quillo::testing
