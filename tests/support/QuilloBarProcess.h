// Runs programs the way scripts do: arguments, bytes on standard input, and the
// two output streams kept apart.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <optional>

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

// The test's environment on the X server of QUILLO_TEST_DISPLAY (scripts/test.sh
// starts Xvfb), or nothing when there is none.
std::optional<QProcessEnvironment> onTestDisplay(QProcessEnvironment environment);

// tray_shell.py: the tray as a desktop shell reads it, one answer per command;
// or another script of tests/support/ that answers the same way.
class TrayShell {
public:
    explicit TrayShell(const QProcessEnvironment& environment,
                       const QString& script = QStringLiteral("tray_shell.py"),
                       const QStringList& arguments = {});
    ~TrayShell();
    TrayShell(const TrayShell&) = delete;
    TrayShell& operator=(const TrayShell&) = delete;

    // Sends the command (none: only waits) and reads one line of answer.
    QString ask(const QByteArray& command = {});

private:
    QProcess process_;
};

} // namespace quillo::testing
