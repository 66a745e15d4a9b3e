// A D-Bus session of a test's own: a dbus-daemon that activates nothing and,
// when asked, a gnome-keyring-daemon with an unlocked default collection, with
// home and XDG folders of their own. Stopped when the object goes.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace quillo::testing {

class PrivateSession {
public:
    explicit PrivateSession(bool withKeyring);
    ~PrivateSession();

    // True when the bus (and the keyring, if asked for) came up.
    [[nodiscard]] bool ready() const { return ready_; }
    // SIGSTOP/SIGCONT: a keyring that holds its bus name but never answers.
    void freezeKeyring(bool frozen) const;
    // The calling process's environment, pointed at this session.
    [[nodiscard]] QProcessEnvironment environment() const;

private:
    QTemporaryDir directory_;
    QProcess bus_;
    QProcess keyring_;
    QString address_;
    bool ready_ = false;
};

} // namespace quillo::testing
