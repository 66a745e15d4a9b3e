#include "tests/support/QuilloBarProcess.h"

#include <QProcess>

namespace quillo::testing {

QString buildRoot() {
    return QStringLiteral(QUILLO_BUILD_ROOT);
}

ProcessOutcome runQuilloBar(const QStringList& arguments, const QByteArray& standardInput,
                            const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(buildRoot() + QStringLiteral("/bin/quillo-bar"), arguments);
    if (!process.waitForStarted(10000)) {
        return {};
    }
    process.write(standardInput);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    ProcessOutcome outcome;
    outcome.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.standardOutput = process.readAllStandardOutput();
    outcome.standardError = process.readAllStandardError();
    return outcome;
}

} // namespace quillo::testing
