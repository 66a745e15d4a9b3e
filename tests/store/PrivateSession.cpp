#include "tests/store/PrivateSession.h"

#include "tests/support/QuilloBarProcess.h"

#include <QDir>
#include <csignal>

namespace quillo::testing {
namespace {

const QStringList folders{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                          "XDG_RUNTIME_DIR"};
const QByteArray password = "quillo-tests";
const QString busConfiguration =
    QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/private-bus.conf");

} // namespace

PrivateSession::PrivateSession(bool withKeyring) {
    for (const QString& folder : folders) {
        QDir().mkdir(directory_.filePath(folder),
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bus_.start(QStringLiteral("dbus-daemon"),
               {"--nofork", "--print-address=1", "--config-file=" + busConfiguration,
                "--address=unix:dir=" + directory_.path()});
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
    keyring_.write(password);
    keyring_.waitForBytesWritten(10000);
    keyring_.closeWriteChannel();
    ready_ = owned(QStringLiteral("org.freedesktop.secrets"));
}

PrivateSession::~PrivateSession() {
    for (QProcess* process : {&prompter_, &keyring_, &bus_}) {
        process->kill();
        process->waitForFinished();
    }
}

bool PrivateSession::owned(const QString& name) const {
    return runProgram(QStringLiteral("gdbus"), {"wait", "--session", "--timeout=10", name}, {},
                      environment())
               .exitStatus == 0;
}

void PrivateSession::freezeKeyring(bool frozen) const {
    if (keyring_.processId() > 0) {
        ::kill(static_cast<pid_t>(keyring_.processId()), frozen ? SIGSTOP : SIGCONT);
    }
}

void PrivateSession::stopKeyring() {
    keyring_.kill();
    keyring_.waitForFinished();
}

bool PrivateSession::restartKeyringLocked() {
    stopKeyring();
    keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                   {"--foreground", "--components=secrets"});
    return owned(QStringLiteral("org.freedesktop.secrets"));
}

bool PrivateSession::unlockFromOutside() const {
    return runProgram(QStringLiteral(QUILLO_SOURCE_ROOT "/tests/support/unlock_keyring.py"), {},
                      password, environment())
               .exitStatus == 0;
}

bool PrivateSession::startPrompter() {
    const auto display = onTestDisplay(environment());
    if (!display) {
        return false;
    }
    display_ = *display;
    // It leaves after some seconds without a prompt.
    prompter_.kill();
    prompter_.waitForFinished();
    prompter_.setProcessEnvironment(display_);
    prompter_.start(QStringLiteral("/usr/libexec/gcr-prompter"), {});
    return owned(QStringLiteral("org.gnome.keyring.SystemPrompter"));
}

bool PrivateSession::answerPrompt(bool unlock) const {
    const auto xdotool = [this](const QStringList& arguments, const QByteArray& input = {}) {
        return runProgram(QStringLiteral("xdotool"), arguments, input, display_);
    };
    // Tests in parallel share the display: only this session's prompt counts.
    const ProcessOutcome found =
        xdotool({"search", "--all", "--sync", "--pid", QString::number(prompter_.processId()),
                 "--name", "^Unlock"});
    const QString window = QString::fromUtf8(found.standardOutput).section(u'\n', 0, 0);
    if (found.exitStatus != 0 || xdotool({"windowfocus", "--sync", window}).exitStatus != 0) {
        return false;
    }
    if (unlock && xdotool({"type", "--file", "-"}, password).exitStatus != 0) {
        return false;
    }
    return xdotool({"key", unlock ? "Return" : "Escape"}).exitStatus == 0;
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
