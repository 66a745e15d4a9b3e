// How the settings window looks: light or dark as the desktop's settings
// portal says, live; focus rings that stand out; the status's lines.
#include "QuilloBar/desktop/Appearance.h"

#include "QuilloBar/settings/SettingsModel.h"
#include "QuilloBar/settings/SettingsView.h"
#include "QuilloBar/settings/SettingsWindow.h"
#include "QuilloBar/widgets/Controls.h"
#include "tests/QuilloBar/settings/NamedControls.h"
#include "tests/support/QuilloBarProcess.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMap>
#include <QMenu>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace quillo {
namespace {

using enum DeliveryDestination;

// WCAG 2.1's ratio, computed here on its own so that the view's is checked.
double ratio(QRgb one, QRgb other) {
    const auto luminance = [](QRgb pixel) {
        double sum = 0;
        for (const auto& [value, weight] :
             {std::pair{qRed(pixel), 0.2126}, {qGreen(pixel), 0.7152}, {qBlue(pixel), 0.0722}}) {
            const double channel = value / 255.0;
            sum += weight * (channel <= 0.04045 ? channel / 12.92
                                                : std::pow((channel + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    const double a = luminance(one);
    const double b = luminance(other);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The ring is what focus changes in a snapshot of the control: its commonest
// new colour, against every colour it covers and every colour beside it.
double ringContrast(QWidget& control) {
    control.clearFocus();
    const QImage plain = control.grab().toImage();
    control.setFocus();
    const QImage ringed = control.grab().toImage();
    QMap<QRgb, int> counts;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (plain.pixel(x, y) != ringed.pixel(x, y)) {
                ++counts[ringed.pixel(x, y)];
            }
        }
    }
    if (counts.isEmpty()) {
        return 0;
    }
    const QRgb ring =
        std::max_element(counts.keyValueBegin(), counts.keyValueEnd(), [](auto a, auto b) {
            return a.second < b.second;
        })->first;
    // Some pixel changed to the ring's colour, so at least one is measured.
    double lowest = 21;
    const QRect inside = plain.rect();
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (ringed.pixel(x, y) != ring || plain.pixel(x, y) == ring) {
                continue;
            }
            lowest = std::min(lowest, ratio(ring, plain.pixel(x, y)));
            for (const QPoint step : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                const QPoint next = QPoint(x, y) + step;
                if (inside.contains(next) && plain.pixel(next) == ringed.pixel(next)) {
                    lowest = std::min(lowest, ratio(ring, ringed.pixel(next)));
                }
            }
        }
    }
    return lowest;
}

// Every control Tab reaches, light and dark, with every section, the saved
// key's buttons and the header's Menu shown: the ring stands out by 3:1 from
// the card, the track, the footer and Save's own fill.
TEST(Appearance, FocusRingsStandOutByThreeToOneLightAndDark) {
    const QPalette light = QApplication::palette();
    for (const QPalette& palette : {light, DesktopAppearance::darkPalette()}) {
        QApplication::setPalette(palette);
        SettingsModel model;
        model.setDestination(both);
        model.setKeySaved(true);
        model.setNeedsUnlock(true);
        SettingsWindow window{model};
        QMenu menu;
        window.view().setHeaderMenu(&menu);
        window.present();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        testing::namedButton(window, QStringLiteral("Advanced"))->click();
        // As after a Tab: styles draw some focus frames for the keyboard only.
        window.setAttribute(Qt::WA_KeyboardFocusChange);
        int measured = 0;
        for (QWidget* control : window.findChildren<QWidget*>()) {
            if (!control->isVisible() || (control->focusPolicy() & Qt::TabFocus) == 0) {
                continue;
            }
            EXPECT_GE(ringContrast(*control), 3.0) << QAccessible::queryAccessibleInterface(control)
                                                          ->text(QAccessible::Name)
                                                          .toStdString()
                                                   << (&palette == &light ? " light" : " dark");
            ++measured;
        }
        EXPECT_EQ(measured, 16); // the form's Tab stops, the Menu button's included
    }
    QApplication::setPalette(light);
}

// The status keeps the message's own line breaks, two lines at most; the
// second takes the rest, cut. The whole message stays its accessible name.
TEST(Appearance, StatusKeepsItsLineBreaksOnTwoLines) {
    StatusText status(nullptr);
    status.resize(300, 40);
    const QString text = "one\r\ntwo\n" + QStringLiteral("word ").repeated(40).trimmed();
    status.setText(text);
    const QStringList lines = status.visibleLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "one");
    EXPECT_TRUE(lines[1].startsWith("two word ") && lines[1].endsWith(u'\u2026'))
        << lines[1].toStdString();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&status)->text(QAccessible::Name), text);
}

// The portal's preference at start, then its changes, live. (The snapshot
// taking it is the KDE desktop test's.)
TEST(Appearance, WindowFollowsTheDesktopsDarkPreference) {
    const QPalette light = QApplication::palette();
    testing::TrayShell portal(QProcessEnvironment::systemEnvironment(),
                              QStringLiteral("appearance_portal.py"), {"1"});
    ASSERT_EQ(portal.ask(), "ready");
    SettingsModel model;
    SettingsWindow window{model};
    window.present();
    DesktopAppearance appearance;
    appearance.follow();
    EXPECT_TRUE(isDark(QApplication::palette()));
    for (const auto& [scheme, darkAfter] : {std::pair{"0", false}, {"1", true}, {"2", false}}) {
        EXPECT_EQ(portal.ask(QByteArray("set ") + scheme + '\n'), "set");
        EXPECT_TRUE(QTest::qWaitFor([&, expected = darkAfter] {
            return isDark(window.palette()) == expected;
        })) << scheme;
    }

    QApplication::setPalette(light);
}

} // namespace
} // namespace quillo
