#include "QuilloBar/desktop/Appearance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>
#include <QWidget>

namespace quillo {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");
// The portal's values: 0 no preference, 1 prefer dark, 2 prefer light.
constexpr uint preferDark = 1;
// A portal that is slow to start must not hold up the window for long.
constexpr int readTimeoutMs = 1000;

// Read wraps the value in a variant of its own; ReadOne and SettingChanged do not.
QVariant unwrapped(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

// Qt's KDE theme fills the palette at start from KDE's colour scheme, dark
// when the desktop is (Breeze Dark): light mode then takes the style's own.
QPalette lightPalette(const QPalette& original) {
    const bool dark = original.color(QPalette::Window).lightness() <
                      original.color(QPalette::WindowText).lightness();
    return dark ? QApplication::style()->standardPalette() : original;
}

} // namespace

DesktopAppearance::DesktopAppearance(QObject* parent)
    : QObject(parent), original_(QApplication::palette()) {}

void DesktopAppearance::follow() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    const QDBusMessage reply = bus.call(read, QDBus::Block, readTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        apply(reply.arguments().constFirst());
    }
}

void DesktopAppearance::settingChanged(const QDBusMessage& change) {
    const QVariantList arguments = change.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == appearanceGroup &&
        arguments[1].toString() == colorSchemeKey) {
        apply(arguments[2]);
    }
}

void DesktopAppearance::apply(const QVariant& scheme) {
    const QPalette palette =
        unwrapped(scheme).toUInt() == preferDark ? darkPalette() : lightPalette(original_);
    QApplication::setPalette(palette);
    // Windows already open do not all take a new application palette.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        window->setPalette(palette);
    }
}

QPalette DesktopAppearance::darkPalette() {
    const QColor window(0x2b, 0x2b, 0x2b);
    const QColor base(0x1e, 0x1e, 0x1e);
    const QColor text(0xe8, 0xe8, 0xe8);
    const QColor accent(0x35, 0x84, 0xe4);
    QPalette palette(text, window);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window.lighter(115));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Button, window.lighter(125));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, text.darker(160));
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, accent.lighter(130));
    palette.setColor(QPalette::Disabled, QPalette::Text, text.darker(180));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, text.darker(180));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, text.darker(180));
    return palette;
}

} // namespace quillo
