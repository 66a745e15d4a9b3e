// One agent per user. The first launch holds a lock file and serves a local
// socket beside it; a later launch asks it to reopen and leaves.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace quillo {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        // This process holds the lock and serves reopen requests.
        primary,
        // Another instance holds the lock and was asked to reopen.
        reopened,
        // Another instance holds the lock but could not be reached.
        unanswered,
        // No private folder for the lock: this process runs on its own.
        alone,
    };

    // $XDG_RUNTIME_DIR/quillo, or /tmp/quillo-<uid> without a runtime folder.
    static QString defaultDirectory();

    explicit SingleInstance(QString directory, QObject* parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    SingleInstance(SingleInstance&&) = delete;
    SingleInstance& operator=(SingleInstance&&) = delete;

    // Takes the lock, or tells the instance holding it to reopen (passing
    // "--show-settings" on when asked to, and the desktop's activation token
    // of this launch, so that the running agent may take the focus it was
    // given). Gives up on an instance that does not answer within a second.
    Role claim(bool showSettings, const QByteArray& activationToken = {});
    // Serves reopen requests once the primary is ready for them.
    bool serve();
    // Stops serving and drops the lock, so that another process can take both
    // at once.
    void release();

signals:
    // The token is empty when the launch brought none, or one that is not a token.
    void reopenRequested(bool showSettings, const QByteArray& activationToken);

private:
    void answer();
    void handle(const QByteArray& request);

    QString directory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace quillo
