// Opening the agent at login: an XDG autostart entry that desktop sessions
// start when the reader logs in.
#pragma once

#include <QString>
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

    // Our entry exists and the session has not been told to skip it.
    [[nodiscard]] bool isEnabled() const;

    // Writes the entry, replacing any earlier one, so that the session starts
    // the program at `executablePath` (absolute). Throws LoginItemError.
    void registerItem(const QString& executablePath) const;

    // Removes our entry; nothing to do when there is none. Throws LoginItemError.
    void unregisterItem() const;

private:
    QString directory_;
};

// The value of an Exec key that runs `program` with no arguments.
QString desktopExecValue(const QString& program);

} // namespace quillo
