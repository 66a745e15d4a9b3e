// Runs the built executable the way scripts do: arguments, bytes on standard
// input, and the two output streams kept apart.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

namespace quillo::testing {

struct ProcessOutcome {
    int exitStatus = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// The build tree's install root (bin/, lib/quillo/, libexec/quillo/, share/quillo/).
QString buildRoot();

ProcessOutcome
runQuilloBar(const QStringList& arguments, const QByteArray& standardInput,
             const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

} // namespace quillo::testing
