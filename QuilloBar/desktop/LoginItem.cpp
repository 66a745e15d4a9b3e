#include "QuilloBar/desktop/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <optional>
#include <utility>

namespace quillo {
namespace {

constexpr QLatin1StringView entryName{"quillo-bar.desktop"};

// Characters that oblige an Exec argument to be quoted.
constexpr QLatin1StringView reservedInExec{" \t\n\"'\\><~|&;$*?#()`"};
// Characters escaped with a backslash inside a quoted Exec argument.
constexpr QLatin1StringView escapedInQuotes{"\"`$\\"};

} // namespace

QString desktopExecValue(const QString& program) {
    QString argument;
    bool quoted = program.isEmpty();
    for (const QChar c : program) {
        quoted = quoted || reservedInExec.contains(c);
    }
    for (const QChar c : program) {
        if (quoted && escapedInQuotes.contains(c)) {
            argument += u'\\';
        }
        // A lone % would start a field code.
        argument += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    if (quoted) {
        argument = u'"' + argument + u'"';
    }
    // Exec is a string value, so its own escapes come on top of the quoting.
    QString value;
    for (const QChar c : std::as_const(argument)) {
        switch (c.unicode()) {
        case u'\\':
            value += QStringLiteral("\\\\");
            break;
        case u'\n':
            value += QStringLiteral("\\n");
            break;
        case u'\r':
            value += QStringLiteral("\\r");
            break;
        case u'\t':
            value += QStringLiteral("\\t");
            break;
        default:
            value += c;
        }
    }
    return value;
}

LoginItem::LoginItem()
    : LoginItem(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QStringLiteral("/autostart")) {}

LoginItem::LoginItem(QString autostartDirectory) : directory_(std::move(autostartDirectory)) {}

QString LoginItem::entryPath() const {
    return directory_ + u'/' + entryName;
}

std::optional<QString> LoginItem::activeCommand() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    bool inMainGroup = false;
    QString exec;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QString key = line.first(equals).trimmed();
        const QString value = line.sliced(equals + 1).trimmed();
        if ((key == u"Hidden" && value == u"true") ||
            (key == u"X-GNOME-Autostart-enabled" && value == u"false")) {
            return std::nullopt;
        }
        if (key == u"Exec") {
            exec = value;
        }
    }
    return exec;
}

bool LoginItem::isEnabled(const QString& executablePath) const {
    // An entry left by a moved or other copy starts that copy, not this one.
    return activeCommand() == desktopExecValue(QFileInfo(executablePath).absoluteFilePath());
}

void LoginItem::setEnabled(bool enabled, const QString& executablePath) const {
    if (enabled && !isEnabled(executablePath)) {
        registerItem(executablePath);
    } else if (!enabled && activeCommand()) {
        unregisterItem();
    }
}

void LoginItem::registerItem(const QString& executablePath) const {
    if (!QDir().mkpath(directory_)) {
        throw LoginItemError(directory_ + QStringLiteral(": the folder could not be created"));
    }
    QSaveFile file(entryPath());
    const QByteArray entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Quillo\n"
                       "Exec=%1\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(desktopExecValue(QFileInfo(executablePath).absoluteFilePath()))
            .toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit()) {
        throw LoginItemError(entryPath() + QStringLiteral(": ") + file.errorString());
    }
}

void LoginItem::unregisterItem() const {
    QFile file(entryPath());
    if (file.exists() && !file.remove()) {
        throw LoginItemError(entryPath() + QStringLiteral(": ") + file.errorString());
    }
}

} // namespace quillo
