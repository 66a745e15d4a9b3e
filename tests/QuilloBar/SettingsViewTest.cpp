// The real window, driven offscreen the way assistive technology drives it:
// controls found by accessible name, text set and toggles pressed through
// their accessibility interfaces.
#include "QuilloBar/SettingsView.h"

#include "QuilloBar/SettingsModel.h"
#include "QuilloBar/SettingsWindow.h"
#include "tests/QuilloBar/NamedControls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

namespace quillo {
namespace {

class SettingsViewTest : public ::testing::Test {
protected:
    [[nodiscard]] QAccessibleInterface* control(const QString& name) const {
        const auto found = testing::namedControls(window, name);
        EXPECT_EQ(found.size(), 1) << name.toStdString();
        return found.value(0);
    }
    // Pressing clicks after a short animation; toggling acts at once.
    void act(const QString& name, const QString& action) const {
        QAccessibleInterface* face = control(name);
        ASSERT_NE(face, nullptr);
        face->actionInterface()->doAction(action);
        const auto* button = qobject_cast<QAbstractButton*>(face->object());
        EXPECT_TRUE(QTest::qWaitFor([button] { return !button->isDown(); }));
    }
    void toggle(const QString& name) const {
        act(name, QAccessibleActionInterface::toggleAction());
    }
    [[nodiscard]] bool shown(const QString& name) const {
        return !testing::namedControls(window, name).isEmpty();
    }
    [[nodiscard]] QComboBox* picker(const QString& name) const {
        QComboBox* found = nullptr;
        for (QAccessibleInterface* face : testing::namedControls(window, name)) {
            found = found != nullptr ? found : qobject_cast<QComboBox*>(face->object());
        }
        return found;
    }

    SettingsModel model;
    SettingsWindow window{model};
};

TEST_F(SettingsViewTest, EveryControlIsNamedAndBoundToTheModel) {
    model.setPrinters({QStringLiteral("Office"), QStringLiteral("Lab")});
    model.setKeySaved(true);
    model.setNeedsUnlock(true);
    model.setDestination(DeliveryDestination::both);
    window.present();
    toggle(QStringLiteral("Advanced"));
    for (const char* name :
         {"Unlock\u2026", "Replace", "E-ink", "Both", "Pages", "Display", "Webhook",
          "How to connect TRMNL \u2197", "Preview image", "Deliver new issues automatically",
          "Open at login", "Service", "Open printer queue", "Save"}) {
        EXPECT_NE(control(QString::fromUtf8(name)), nullptr);
    }
    EXPECT_EQ(testing::namedControls(window, QStringLiteral("Printer")).size(),
              2); // destination and picker
    EXPECT_FALSE(shown(QStringLiteral("Delivery key")));

    act(QStringLiteral("Replace"), QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(model.replacingKey());
    control(QStringLiteral("Delivery key"))->setText(QAccessible::Value, QStringLiteral("k-1"));
    control(QStringLiteral("Webhook"))->setText(QAccessible::Value, QStringLiteral("https://w"));
    control(QStringLiteral("Service"))->setText(QAccessible::Value, QStringLiteral("https://s"));
    toggle(QStringLiteral("Deliver new issues automatically"));
    toggle(QStringLiteral("E-ink"));
    EXPECT_EQ(model.key(), QStringLiteral("k-1"));
    EXPECT_EQ(model.webhook(), QStringLiteral("https://w"));
    EXPECT_EQ(model.origin(), QStringLiteral("https://s"));
    EXPECT_TRUE(model.automatic());
    EXPECT_EQ(model.destination(), DeliveryDestination::display);
    EXPECT_FALSE(shown(QStringLiteral("Pages")));
    EXPECT_TRUE(shown(QStringLiteral("Get a key in your newsroom \u2197")));

    model.setDestination(DeliveryDestination::printer);
    EXPECT_TRUE(shown(QStringLiteral("Pages")));
    EXPECT_FALSE(shown(QStringLiteral("Webhook")));
    QComboBox* printer = picker(QStringLiteral("Printer"));
    ASSERT_NE(printer, nullptr);
    printer->setCurrentIndex(2);
    EXPECT_EQ(model.printer(), QStringLiteral("Lab"));
    model.setPrinters({QStringLiteral("Office")});
    EXPECT_EQ(printer->currentText(), QStringLiteral("Choose a printer"));
    EXPECT_EQ(model.printer(), QStringLiteral("Lab")); // redrawing never writes back
}

TEST_F(SettingsViewTest, RedrawingKeepsTheCursorAndReturnSaves) {
    int saves = 0;
    model.save = [&saves] { ++saves; };
    window.present();
    auto* key = qobject_cast<QLineEdit*>(control(QStringLiteral("Delivery key"))->object());
    ASSERT_NE(key, nullptr);
    QTest::keyClicks(key, QStringLiteral("abcd"));
    key->setCursorPosition(2);
    model.setStatus(QStringLiteral("Saved \u00B7 automatic delivery off"));
    EXPECT_EQ(key->cursorPosition(), 2);
    EXPECT_EQ(model.key(), QStringLiteral("abcd"));
    QTest::keyClick(key, Qt::Key_Return);
    EXPECT_EQ(saves, 1);
    model.setKey(QString());
    EXPECT_TRUE(key->text().isEmpty());
}

} // namespace
} // namespace quillo
