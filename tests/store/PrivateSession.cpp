#include "tests/store/PrivateSession.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>

namespace quillo::testing {

PrivateSession::PrivateSession(Keyring keyring) {
    for (const char* folder : {"home", "data", "config", "cache", "runtime"}) {
        QDir().mkpath(directory_.filePath(QString::fromLatin1(folder)));
    }
    QFile::setPermissions(directory_.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ready_ = startBus() && (keyring == Keyring::none || startKeyring());
}

void PrivateSession::freezeKeyring(bool frozen) {
    if (keyring_.processId() > 0) {
        ::kill(static_cast<pid_t>(keyring_.processId()), frozen ? SIGSTOP : SIGCONT);
    }
}

PrivateSession::~PrivateSession() {
    freezeKeyring(false);
    for (QProcess* process : {&keyring_, &bus_}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
}

QProcessEnvironment PrivateSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    environment.insert(QStringLiteral("HOME"), directory_.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       directory_.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       directory_.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                       directory_.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       directory_.filePath(QStringLiteral("runtime")));
    return environment;
}

bool PrivateSession::startBus() {
    // No service directories: nothing is started on demand, so a missing
    // keyring stays missing.
    const QString configuration =
        QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
            .arg(directory_.path());
    const QString configurationPath = directory_.filePath(QStringLiteral("bus.conf"));
    QFile file(configurationPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(configuration.toUtf8()) < 0) {
        return false;
    }
    file.close();
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                QStringLiteral("--config-file=") + configurationPath});
    while (!bus_.canReadLine()) {
        if (!bus_.waitForReadyRead(10000)) {
            return false;
        }
    }
    address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    return !address_.isEmpty();
}

bool PrivateSession::startKeyring() {
    keyring_.setProcessEnvironment(environment());
    keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                   {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                    QStringLiteral("--unlock")});
    if (!keyring_.waitForStarted(10000)) {
        return false;
    }
    // The password of the login collection, read before the daemon starts serving.
    keyring_.write("quillo-tests");
    keyring_.waitForBytesWritten(10000);
    keyring_.closeWriteChannel();
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (keyringOwnsItsName()) {
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}

bool PrivateSession::keyringOwnsItsName() const {
    const ProgramOutcome outcome = runProgram(
        QStringLiteral("dbus-send"),
        {QStringLiteral("--bus=") + address_, QStringLiteral("--print-reply"),
         QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
         QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
         QStringLiteral("string:org.freedesktop.secrets")},
        environment());
    return outcome.standardOutput.contains("boolean true");
}

ProgramOutcome runProgram(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, const QByteArray& input) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        return {};
    }
    process.write(input);
    process.waitForBytesWritten(10000);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    ProgramOutcome outcome;
    outcome.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.standardOutput = process.readAllStandardOutput();
    outcome.standardError = process.readAllStandardError();
    return outcome;
}

} // namespace quillo::testing
