#include "QuilloBar/desktop/TrayIconTheme.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMetaMethod>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QVersionNumber>

namespace quillo {
namespace {

const QString iconName = QStringLiteral("news.quillo.QuilloBar-symbolic");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString themePathProperty = QStringLiteral("IconThemePath");

QString classInfo(const QObject& object, const char* name) {
    const QMetaObject* meta = object.metaObject();
    const int index = meta->indexOfClassInfo(name);
    return index < 0 ? QString() : QString::fromUtf8(meta->classInfo(index).value());
}

// Qt gives each tray item a bus connection of its own, named after the
// service it owns: org.kde.StatusNotifierItem-<pid>-<n>, n counting the
// items this process made. The newest one that holds an item object is ours.
std::pair<QString, QDBusAbstractAdaptor*> qtItemAdaptor() {
    const QString prefix =
        QStringLiteral("org.kde.StatusNotifierItem-%1-").arg(QCoreApplication::applicationPid());
    for (int number = 16; number > 0; --number) {
        const QString name = prefix + QString::number(number);
        const QDBusConnection connection(name);
        QObject* item =
            connection.isConnected() ? connection.objectRegisteredAt(itemPath) : nullptr;
        if (item == nullptr) {
            continue;
        }
        for (auto* adaptor : item->findChildren<QDBusAbstractAdaptor*>()) {
            if (classInfo(*adaptor, "D-Bus Interface") == itemInterface) {
                return {name, adaptor};
            }
        }
    }
    return {};
}

} // namespace

QString trayIconThemePath(const std::filesystem::path& root) {
    const QString themePath = QString::fromStdString((root / "share/icons").string());
    const QString icon = themePath + "/hicolor/symbolic/apps/" + iconName + ".svg";
    return root.empty() || !QFileInfo(icon).isFile() ? QString() : themePath;
}

QIcon themedTrayIcon(const QString& themePath) {
    if (!themePath.isEmpty() && !QIcon::themeSearchPaths().contains(themePath)) {
        QIcon::setThemeSearchPaths(QStringList{themePath} + QIcon::themeSearchPaths());
    }
    if (QIcon::hasThemeIcon(iconName)) {
        return QIcon::fromTheme(iconName);
    }
    QIcon icon(QStringLiteral(":/quillo/MenuIcon.svg"));
    if (icon.pixmap(QSize(18, 18)).isNull()) {
        // No SVG support installed: some theme's newspaper or document.
        return QIcon::fromTheme(QStringLiteral("newspaper"),
                                QIcon::fromTheme(QStringLiteral("x-office-document")));
    }
    // Drawn in black: a host that recolours masks draws it in the panel's colour.
    icon.setIsMask(true);
    return icon;
}

void serveIconThemePath(QSystemTrayIcon& item, const QString& themePath) {
    // Standing in for Qt's private item object was checked with Qt 6.4 only:
    // another Qt may answer for the property itself, or lay its item out otherwise.
    const QVersionNumber qt = QLibraryInfo::version();
    if (themePath.isEmpty() || qt.majorVersion() != 6 || qt.minorVersion() != 4) {
        return;
    }
    const auto [name, adaptor] = qtItemAdaptor();
    if (adaptor == nullptr) {
        return;
    }
    auto* object = new TrayItemObject(adaptor, name, themePath, &item);
    if (!object->claimPath()) {
        delete object;
    }
}

TrayItemObject::TrayItemObject(QDBusAbstractAdaptor* adaptor, QString connectionName,
                               QString themePath, QObject* parent)
    : QDBusVirtualObject(parent), adaptor_(adaptor), connectionName_(std::move(connectionName)),
      themePath_(std::move(themePath)) {
    const QMetaObject* meta = adaptor->metaObject();
    const QMetaMethod relay = metaObject()->method(metaObject()->indexOfSlot("relaySignal()"));
    const QMetaMethod status =
        metaObject()->method(metaObject()->indexOfSlot("relayStatus(QString)"));
    for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
        const QMetaMethod method = meta->method(index);
        if (method.methodType() != QMetaMethod::Signal) {
            continue;
        }
        if (method.parameterCount() == 0) {
            connect(adaptor, method, this, relay);
        } else if (method.methodSignature() == "NewStatus(QString)") {
            connect(adaptor, method, this, status);
        }
    }
}

bool TrayItemObject::claimPath() {
    QDBusConnection connection(connectionName_);
    QObject* registered = connection.objectRegisteredAt(itemPath);
    if (registered == this) {
        return true;
    }
    if (!adaptor_ || registered == nullptr || registered != adaptor_->parent()) {
        return false;
    }
    connection.unregisterObject(itemPath);
    if (!connection.registerVirtualObject(itemPath, this)) {
        // Qt's own object goes back: an item without the theme path beats none.
        connection.registerObject(itemPath, registered, QDBusConnection::ExportAdaptors);
        return false;
    }
    // A host may have asked Qt's object for the properties just before: that
    // answer, queued on this thread, lacks the theme path. Announced after it,
    // the path reaches the host as a change to what it read.
    QMetaObject::invokeMethod(this, &TrayItemObject::announceThemePath, Qt::QueuedConnection);
    return true;
}

void TrayItemObject::announceThemePath() {
    // GNOME's AppIndicator extension takes a property its first read missed
    // from PropertiesChanged only: it drops NewIconThemePath then, and NewIcon
    // re-reads only what it saw. Other hosts read the item again on NewIcon.
    QDBusMessage changed = QDBusMessage::createSignal(itemPath, propertiesInterface,
                                                      QStringLiteral("PropertiesChanged"));
    changed << itemInterface << QVariantMap{{themePathProperty, themePath_}} << QStringList();
    QDBusMessage themePath =
        QDBusMessage::createSignal(itemPath, itemInterface, QStringLiteral("NewIconThemePath"));
    themePath << themePath_;
    QDBusConnection connection(connectionName_);
    connection.send(changed);
    connection.send(QDBusMessage::createSignal(itemPath, itemInterface, QStringLiteral("NewIcon")));
    connection.send(themePath);
}

QString TrayItemObject::introspect(const QString& /*path*/) const {
    return adaptor_ ? classInfo(*adaptor_, "D-Bus Introspection") : QString();
}

bool TrayItemObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (!adaptor_ || message.type() != QDBusMessage::MethodCallMessage) {
        return false;
    }
    if (message.interface() == propertiesInterface) {
        const QDBusMessage reply = answerProperties(message);
        return reply.type() != QDBusMessage::InvalidMessage && connection.send(reply);
    }
    if ((message.interface().isEmpty() || message.interface() == itemInterface) &&
        forwardMethod(message)) {
        return connection.send(message.createReply());
    }
    return false;
}

QVariantMap TrayItemObject::properties() const {
    QVariantMap values;
    const QMetaObject* meta = adaptor_->metaObject();
    for (int index = meta->propertyOffset(); index < meta->propertyCount(); ++index) {
        const QMetaProperty property = meta->property(index);
        values.insert(QString::fromLatin1(property.name()), property.read(adaptor_));
    }
    values.insert(themePathProperty, themePath_);
    return values;
}

// Get and GetAll; Set is refused, as every property is read-only.
QDBusMessage TrayItemObject::answerProperties(const QDBusMessage& message) const {
    const QVariantList arguments = message.arguments();
    if (arguments.value(0).toString() != itemInterface) {
        return {};
    }
    const QVariantMap values = properties();
    if (message.member() == QLatin1String("GetAll") && arguments.size() == 1) {
        return message.createReply(QVariant(values));
    }
    if (message.member() == QLatin1String("Get") && arguments.size() == 2) {
        const QString name = arguments.at(1).toString();
        if (!values.contains(name)) {
            return message.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                QStringLiteral("No property %1 on %2").arg(name, itemInterface));
        }
        return message.createReply(QVariant::fromValue(QDBusVariant(values.value(name))));
    }
    if (message.member() == QLatin1String("Set")) {
        return message.createErrorReply(
            QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
            QStringLiteral("The properties of %1 are read-only").arg(itemInterface));
    }
    return {};
}

bool TrayItemObject::forwardMethod(const QDBusMessage& message) const {
    const QVariantList arguments = message.arguments();
    const QByteArray member = message.member().toLatin1();
    const QString signature = message.signature();
    if (signature == QLatin1String("ii") &&
        (member == "Activate" || member == "SecondaryActivate" || member == "ContextMenu")) {
        return QMetaObject::invokeMethod(adaptor_, member.constData(),
                                         Q_ARG(int, arguments.at(0).toInt()),
                                         Q_ARG(int, arguments.at(1).toInt()));
    }
    if (signature == QLatin1String("is") && member == "Scroll") {
        return QMetaObject::invokeMethod(adaptor_, "Scroll", Q_ARG(int, arguments.at(0).toInt()),
                                         Q_ARG(QString, arguments.at(1).toString()));
    }
    if (signature == QLatin1String("s") && member == "ProvideXdgActivationToken") {
        return QMetaObject::invokeMethod(adaptor_, "ProvideXdgActivationToken",
                                         Q_ARG(QString, arguments.at(0).toString()));
    }
    return false;
}

void TrayItemObject::relaySignal() {
    // Only ever reached through a connection to one of the adaptor's signals.
    const QByteArray name = sender()->metaObject()->method(senderSignalIndex()).name();
    QDBusConnection(connectionName_)
        .send(QDBusMessage::createSignal(itemPath, itemInterface, QString::fromLatin1(name)));
}

void TrayItemObject::relayStatus(const QString& status) {
    QDBusMessage signal =
        QDBusMessage::createSignal(itemPath, itemInterface, QStringLiteral("NewStatus"));
    signal << status;
    QDBusConnection(connectionName_).send(signal);
}

} // namespace quillo
