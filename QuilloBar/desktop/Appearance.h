// Light or dark as the desktop prefers it. Qt 6.4 does not follow the
// desktop's dark preference by itself; GNOME and KDE publish it through the
// freedesktop settings portal. Where no portal answers, the palette stays
// whatever Qt's platform theme gave.
#pragma once

#include <QObject>
#include <QPalette>
#include <QVariant>

class QDBusMessage;

namespace quillo {

class DesktopAppearance : public QObject {
    Q_OBJECT

public:
    explicit DesktopAppearance(QObject* parent = nullptr);

    // Reads the preference now, then follows its changes, on the session bus.
    void follow();

    // The palette the window is drawn from in dark mode.
    static QPalette darkPalette();

private:
    Q_SLOT void settingChanged(const QDBusMessage& change);
    void apply(const QVariant& scheme);

    QPalette original_;
};

} // namespace quillo
