#include "tests/support/QuilloBarProcess.h"

#include <QProcess>

namespace quillo::testing {

ProcessOutcome runProgram(const QString& program, const QStringList& arguments,
                          const QByteArray& standardInput, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
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
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QString buildRoot() {
    return QStringLiteral(QUILLO_BUILD_ROOT);
}

ProcessOutcome runQuilloBar(const QStringList& arguments, const QByteArray& standardInput,
                            const QProcessEnvironment& environment) {
    return runProgram(buildRoot() + QStringLiteral("/bin/quillo-bar"), arguments, standardInput,
                      environment);
}

} // namespace quillo::testing
