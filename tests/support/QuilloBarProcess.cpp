#include "tests/support/QuilloBarProcess.h"

#include <QProcess>

namespace quillo::testing {

ProcessOutcome runProgram(const QString& program, const QStringList& arguments,
                          const QByteArray& standardInput, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
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

std::optional<QProcessEnvironment> onTestDisplay(QProcessEnvironment environment) {
    const QString display = qEnvironmentVariable("QUILLO_TEST_DISPLAY");
    if (display.isEmpty()) {
        return std::nullopt;
    }
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return environment;
}

TrayShell::TrayShell(const QProcessEnvironment& environment, const QString& script,
                     const QStringList& arguments) {
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/") + script} +
                       arguments);
}

TrayShell::~TrayShell() {
    process_.closeWriteChannel();
    process_.waitForFinished();
}

QString TrayShell::ask(const QByteArray& command) {
    process_.write(command);
    // A line may arrive in pieces.
    while (!process_.canReadLine() && process_.waitForReadyRead(30000)) {
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
}

} // namespace quillo::testing
