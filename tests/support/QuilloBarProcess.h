// Runs programs the way scripts do: arguments, bytes on standard input, and the
// two output streams kept apart.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

namespace quillo::testing {

// exitStatus is -1 when the program did not start, crashed or hung for a minute.
struct ProcessOutcome {
    int exitStatus = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

ProcessOutcome
runProgram(const QString& program, const QStringList& arguments, const QByteArray& standardInput,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// The build tree's install root (bin/, lib/quillo/, libexec/quillo/, share/quillo/).
QString buildRoot();

// Runs the built bin/quillo-bar.
ProcessOutcome
runQuilloBar(const QStringList& arguments, const QByteArray& standardInput,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

} // namespace quillo::testing
