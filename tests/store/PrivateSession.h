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
    // Starts the keyring again as an automatic login leaves it: the login
    // keyring, written with a password, loaded locked from disk.
    bool restartKeyringLocked();
    void stopKeyring();
    // The login keyring unlocked with its password over D-Bus, as a login manager does.
    [[nodiscard]] bool unlockFromOutside() const;
    // The keyring's own prompter (gcr-prompter) on QUILLO_TEST_DISPLAY, for
    // the next prompt (it leaves when idle); false without a display.
    bool startPrompter();
    // Answers the prompt once it shows: the password typed in, or Escape.
    [[nodiscard]] bool answerPrompt(bool unlock) const;
    // The calling process's environment, pointed at this session.
    [[nodiscard]] QProcessEnvironment environment() const;

private:
    // Whether the name has an owner on this bus within ten seconds.
    [[nodiscard]] bool owned(const QString& name) const;

    QTemporaryDir directory_;
    QProcess bus_;
    QProcess keyring_;
    QProcess prompter_;
    QProcessEnvironment display_;
    QString address_;
    bool ready_ = false;
};

// The session that the application tests' main started for its process.
PrivateSession& applicationSession();

} // namespace quillo::testing
