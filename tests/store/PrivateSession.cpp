#include "tests/store/PrivateSession.h"

#include "tests/support/FixturePdf.h"
#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <csignal>

namespace quillo::testing {
namespace {

const QStringList folders{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                          "XDG_RUNTIME_DIR"};

} // namespace

PrivateSession::PrivateSession(bool withKeyring) {
    for (const QString& folder : folders) {
        QDir().mkdir(directory_.filePath(folder),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // No service directories: nothing is started on demand, so a missing
    // keyring stays missing. dbus-monitor needs the eavesdropping rules.
    const QString configuration = directory_.filePath(QStringLiteral("bus.conf"));
    writeFile(configuration,
              QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                             "<policy context=\"default\"><allow send_destination=\"*\" "
                             "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                             "</policy></busconfig>\n")
                  .arg(directory_.path())
                  .toUtf8());
    bus_.start(QStringLiteral("dbus-daemon"),
               {"--nofork", "--print-address=1", "--config-file=" + configuration});
    while (!bus_.canReadLine() && bus_.waitForReadyRead(10000)) {
    }
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    if (address_.isEmpty() || !withKeyring) {
        ready_ = !address_.isEmpty();
        return;
    }
    keyring_.setProcessEnvironment(environment());
    keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                   {"--foreground", "--components=secrets", "--unlock"});
    // The password of the login collection, read before the daemon starts serving.
    keyring_.waitForStarted(10000);
    keyring_.write("quillo-tests");
    keyring_.waitForBytesWritten(10000);
    keyring_.closeWriteChannel();
    ready_ = runProgram(QStringLiteral("gdbus"),
                        {"wait", "--session", "--timeout=10", "org.freedesktop.secrets"}, {},
                        environment())
                 .exitStatus == 0;
}

PrivateSession::~PrivateSession() {
    for (QProcess* process : {&keyring_, &bus_}) {
        process->kill();
        process->waitForFinished();
    }
}

void PrivateSession::freezeKeyring(bool frozen) const {
    if (keyring_.processId() > 0) {
        ::kill(static_cast<pid_t>(keyring_.processId()), frozen ? SIGSTOP : SIGCONT);
    }
}

QProcessEnvironment PrivateSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    for (const QString& folder : folders) {
        environment.insert(folder, directory_.filePath(folder));
    }
    return environment;
}

} // namespace quillo::testing
