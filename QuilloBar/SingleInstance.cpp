#include "QuilloBar/SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {
namespace {

const QByteArray reopenMessage = "reopen";
const QByteArray showSettingsMessage = "reopen --show-settings";
constexpr qint64 longestMessage = 64;

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

SingleInstance::Role SingleInstance::claim(bool showSettings) {
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
    socket.write((showSettings ? showSettingsMessage : reopenMessage) + '\n');
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

void SingleInstance::answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > longestMessage) {
                    socket->abort();
                }
                return;
            }
            const QByteArray message = socket->readLine(longestMessage).trimmed();
            socket->disconnectFromServer();
            if (message == reopenMessage || message == showSettingsMessage) {
                emit reopenRequested(message == showSettingsMessage);
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        // The message may have arrived before the connection was taken.
        read();
    }
}

} // namespace quillo
