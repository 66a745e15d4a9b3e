// The tray item's symbolic icon from the program's own tree. A panel recolours
// an icon it finds by name, in its theme or in the item's IconThemePath; one
// handed over as pixels it shows as drawn, black on a dark panel. The tree's
// share/icons holds the icon under the package's name, so a build tree or a
// tree unpacked anywhere is drawn like the installed package.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <filesystem>

class QSystemTrayIcon;

namespace quillo {

// The icon theme directory of the tree at root, or nothing when the tree has
// no tray icon in it.
QString trayIconThemePath(const std::filesystem::path& root);

// The tray icon by its theme name, looked up in themePath as well as the
// desktop's themes; the drawn mask when no theme has it.
QIcon themedTrayIcon(const QString& themePath);

// Qt 6.4 announces the StatusNotifierItem's IconThemePath but never answers
// for it. Stands in for Qt's item object on its own connection: answers
// IconThemePath, forwards every other property, method and signal to Qt's
// adaptor, and leaves the menu at its own path. Does nothing when the item
// is not on the bus (an XEmbed tray, no session bus), or on another Qt than 6.4.
void serveIconThemePath(QSystemTrayIcon& item, const QString& themePath);

class TrayItemObject final : public QDBusVirtualObject {
    Q_OBJECT

public:
    TrayItemObject(QDBusAbstractAdaptor* adaptor, QString connectionName, QString themePath,
                   QObject* parent);

    // Takes the item's path over from Qt's object; false when Qt's object is
    // not there to take over from (the item is hidden).
    bool claimPath();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    Q_SLOT void relaySignal();
    Q_SLOT void relayStatus(const QString& status);

private:
    void announceThemePath();
    QVariantMap properties() const;
    QDBusMessage answerProperties(const QDBusMessage& message) const;
    bool forwardMethod(const QDBusMessage& message) const;

    QPointer<QDBusAbstractAdaptor> adaptor_;
    QString connectionName_;
    QString themePath_;
};

} // namespace quillo
