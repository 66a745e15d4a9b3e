// Opening the agent at login: an XDG autostart entry that desktop sessions
// start when the reader logs in.
#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

namespace quillo {

// A failed registration; what() is the description shown after "Could not save: ".
class LoginItemError : public std::runtime_error {
public:
    explicit LoginItemError(const QString& description)
        : std::runtime_error(description.toStdString()) {}
    [[nodiscard]] QString description() const { return QString::fromUtf8(what()); }
};

class LoginItem {
public:
    // The reader's autostart folder: $XDG_CONFIG_HOME/autostart (~/.config/autostart).
    LoginItem();
    // Another folder (tests).
    explicit LoginItem(QString autostartDirectory);

    [[nodiscard]] QString entryPath() const;

    // Our entry exists, the session has not been told to skip it, and it
    // starts the program at `executablePath`.
    [[nodiscard]] bool isEnabled(const QString& executablePath) const;

    // Makes the session start the program at login, or nothing at all:
    // rewrites an entry that starts another program, removes an active one.
    // Throws LoginItemError.
    void setEnabled(bool enabled, const QString& executablePath) const;

    // Writes the entry, replacing any earlier one, so that the session starts
    // the program at `executablePath` (absolute). Throws LoginItemError.
    void registerItem(const QString& executablePath) const;

    // Removes our entry; nothing to do when there is none. Throws LoginItemError.
    void unregisterItem() const;

private:
    // The Exec value of our entry when the session would start it.
    [[nodiscard]] std::optional<QString> activeCommand() const;

    QString directory_;
};

// The value of an Exec key that runs `program` with no arguments.
QString desktopExecValue(const QString& program);

} // namespace quillo
