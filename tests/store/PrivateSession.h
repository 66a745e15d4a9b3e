// A D-Bus session of a test's own: a dbus-daemon that activates nothing and,
// when asked, a gnome-keyring-daemon with an unlocked default collection, both
// with their own home and runtime folders. Stopped when the object goes.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace quillo::testing {

class PrivateSession {
public:
    enum class Keyring { none, unlocked };
    explicit PrivateSession(Keyring keyring);
    ~PrivateSession();
    PrivateSession(const PrivateSession&) = delete;
    PrivateSession& operator=(const PrivateSession&) = delete;

    // True when the bus (and the keyring, if asked for) came up.
    [[nodiscard]] bool ready() const { return ready_; }
    // Stops or resumes the keyring daemon (SIGSTOP/SIGCONT): a keyring that
    // holds its bus name but never answers.
    void freezeKeyring(bool frozen);
    // The calling process's environment, pointed at this session.
    [[nodiscard]] QProcessEnvironment environment() const;

private:
    bool startBus();
    bool startKeyring();
    bool keyringOwnsItsName() const;

    QTemporaryDir directory_;
    QProcess bus_;
    QProcess keyring_;
    QString address_;
    bool ready_ = false;
};

// Runs a program with the environment and standard input; -1 on a hang.
struct ProgramOutcome {
    int exitStatus = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};
ProgramOutcome runProgram(const QString& program, const QStringList& arguments,
                          const QProcessEnvironment& environment, const QByteArray& input = {});

} // namespace quillo::testing
