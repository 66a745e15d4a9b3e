#include "QuilloBar/desktop/SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {
namespace {

// A request is its lines and an empty line. The first line is all an agent
// of an earlier version reads, so the token rides on a line of its own.
const QByteArray reopenMessage = "reopen";
const QByteArray showSettingsMessage = "reopen --show-settings";
const QByteArray tokenField = "activation-token ";
constexpr qsizetype longestToken = 512;
constexpr qint64 longestRequest = 1024;

// Tokens (Wayland's XDG_ACTIVATION_TOKEN, X11's DESKTOP_STARTUP_ID) are
// printable ASCII without spaces; anything else is not passed on.
bool isToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= longestToken &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// Creates the folder when needed and accepts it only as a directory of this
// user's own (not a link) that nobody else may enter.
bool isPrivateFolder(const QString& path) {
    const QByteArray native = path.toLocal8Bit();
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid()) {
        return false;
    }
    return (info.st_mode & 0777) == 0700 || ::chmod(native.constData(), 0700) == 0;
}

} // namespace

QString SingleInstance::defaultDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        return runtime + QStringLiteral("/quillo");
    }
    return QStringLiteral("/tmp/quillo-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString directory, QObject* parent)
    : QObject(parent), directory_(std::move(directory)) {}

SingleInstance::~SingleInstance() {
    release();
}

SingleInstance::Role SingleInstance::claim(bool showSettings, const QByteArray& activationToken) {
    if (!isPrivateFolder(directory_)) {
        return Role::alone;
    }
    lock_ = std::make_unique<QLockFile>(directory_ + QStringLiteral("/quillo-bar.lock"));
    // The lock lives as long as the agent; only a dead holder makes it stale.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        return Role::primary;
    }
    const bool heldByAnother = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
    if (!heldByAnother) {
        return Role::alone;
    }

    // The holder may be starting up and not serve yet.
    const QDeadlineTimer deadline(1000);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(directory_ + QStringLiteral("/quillo-bar.socket"));
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            break;
        }
        if (deadline.hasExpired()) {
            return Role::unanswered;
        }
        QThread::msleep(20);
    }
    QByteArray request = (showSettings ? showSettingsMessage : reopenMessage) + '\n';
    if (isToken(activationToken)) {
        request += tokenField + activationToken + '\n';
    }
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        return Role::unanswered;
    }
    socket.disconnectFromServer();
    return Role::reopened;
}

bool SingleInstance::serve() {
    if (!lock_ || !lock_->isLocked()) {
        return false;
    }
    const QString path = directory_ + QStringLiteral("/quillo-bar.socket");
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket already there was left by an instance that died.
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::answer);
    return true;
}

void SingleInstance::release() {
    server_.reset();
    lock_.reset();
}

// An agent of an earlier version sends one line and hangs up: the request
// ends with an empty line or with the connection.
void SingleInstance::answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket] {
            const QByteArray pending = socket->peek(longestRequest + 1);
            const bool ended =
                pending.contains("\n\n") || socket->state() != QLocalSocket::ConnectedState;
            if (pending.size() > longestRequest) {
                socket->abort();
                return;
            }
            if (!ended || pending.isEmpty()) {
                return;
            }
            const QByteArray request = socket->readAll();
            socket->disconnectFromServer();
            handle(request);
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        connect(socket, &QLocalSocket::disconnected, this, read);
        // The message may have arrived before the connection was taken.
        read();
    }
}

void SingleInstance::handle(const QByteArray& request) {
    const QList<QByteArray> lines = request.split('\n');
    const QByteArray first = lines.first().trimmed();
    if (first != reopenMessage && first != showSettingsMessage) {
        return;
    }
    QByteArray token;
    if (lines.size() > 1 && lines[1].startsWith(tokenField)) {
        token = lines[1].mid(tokenField.size());
    }
    emit reopenRequested(first == showSettingsMessage, isToken(token) ? token : QByteArray());
}

} // namespace quillo
