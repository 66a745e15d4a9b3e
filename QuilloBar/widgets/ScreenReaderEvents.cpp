// What Qt 6.4's bridge to AT-SPI gets wrong for a screen reader, mended
// where the form's controls meet it: a secret field's text, a disclosure's
// expanded state and a picker's value.
#include "QuilloBar/widgets/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <private/qguiapplication_p.h>
#include <private/qspiaccessiblebridge_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

namespace quillo {
namespace {

QPlatformAccessibility* platformAccessibility() {
    const QPlatformIntegration* integration = QGuiApplicationPrivate::platformIntegration();
    return integration != nullptr ? integration->accessibility() : nullptr;
}

// The bridge puts a field's inserted and removed text into its events as it
// is, a password field's too, and screen readers echo it: a secret field's
// go out as one mask character per character, as GNOME's own entries send
// them, or as nothing when the field shows nothing.
void forwardMasked(QAccessibleEvent* event) {
    QPlatformAccessibility* platform = platformAccessibility();
    if (platform == nullptr) {
        return;
    }
    const auto* field = qobject_cast<const QLineEdit*>(event->object());
    const QAccessible::Event type = event->type();
    // A field tabbed into moves its cursor before Qt announces its focus, and
    // Orca then takes the focus as known and never speaks it: until the
    // announcement the cursor is the field's own business.
    static QPointer<QObject> announced;
    if (type == QAccessible::Focus) {
        announced = event->object();
    } else if (field != nullptr && field->hasFocus() && field != announced &&
               (type == QAccessible::TextCaretMoved || type == QAccessible::TextSelectionChanged)) {
        return;
    }
    if (field == nullptr || field->echoMode() == QLineEdit::Normal ||
        (type != QAccessible::TextInserted && type != QAccessible::TextRemoved &&
         type != QAccessible::TextUpdated)) {
        platform->notifyAccessibilityUpdate(event);
        return;
    }
    if (field->echoMode() == QLineEdit::NoEcho) {
        return;
    }
    const QChar mask(
        field->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, field));
    const auto masked = [mask](const QString& text) { return QString(text.size(), mask); };
    if (type == QAccessible::TextInserted) {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        QAccessibleTextInsertEvent copy(event->object(), inserted->changePosition(),
                                        masked(inserted->textInserted()));
        platform->notifyAccessibilityUpdate(&copy);
    } else if (type == QAccessible::TextRemoved) {
        const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
        QAccessibleTextRemoveEvent copy(event->object(), removed->changePosition(),
                                        masked(removed->textRemoved()));
        platform->notifyAccessibilityUpdate(&copy);
    } else {
        const auto* updated = static_cast<QAccessibleTextUpdateEvent*>(event);
        QAccessibleTextUpdateEvent copy(event->object(), updated->changePosition(),
                                        masked(updated->textRemoved()),
                                        masked(updated->textInserted()));
        platform->notifyAccessibilityUpdate(&copy);
    }
}

// Qt's own picker interface offers its value only as its name, which a
// screen reader replaces with the picker's label: the value is offered as the
// picker's text too, as GTK's pickers do.
class PickerInterface : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit PickerInterface(QComboBox* picker)
        : QAccessibleWidget(picker, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TextInterface ? static_cast<QAccessibleTextInterface*>(this)
                                                  : QAccessibleWidget::interface_cast(type);
    }
    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name || kind == QAccessible::Value
                   ? picker()->currentText()
                   : QAccessibleWidget::text(kind);
    }
    [[nodiscard]] int childCount() const override { return 1; }
    [[nodiscard]] QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(picker()->view()) : nullptr;
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override {
        return child != nullptr && child->object() == picker()->view() ? 0 : -1;
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = picker()->view()->isVisible();
        return state;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return {showMenuAction(), setFocusAction()};
    }
    void doAction(const QString& action) override {
        if (action == showMenuAction()) {
            picker()->showPopup();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

    // The value, read only.
    [[nodiscard]] QString text(int start, int end) const override {
        return picker()->currentText().mid(start, end - start);
    }
    [[nodiscard]] int characterCount() const override {
        return int(picker()->currentText().size());
    }
    [[nodiscard]] int cursorPosition() const override { return 0; }
    void setCursorPosition(int /*position*/) override {}
    void selection(int /*index*/, int* start, int* end) const override { *start = *end = 0; }
    [[nodiscard]] int selectionCount() const override { return 0; }
    void addSelection(int /*start*/, int /*end*/) override {}
    void removeSelection(int /*index*/) override {}
    void setSelection(int /*index*/, int /*start*/, int /*end*/) override {}
    [[nodiscard]] QRect characterRect(int /*offset*/) const override { return {}; }
    [[nodiscard]] int offsetAtPoint(const QPoint& /*point*/) const override { return -1; }
    void scrollToSubstring(int /*start*/, int /*end*/) override {}
    [[nodiscard]] QString attributes(int /*offset*/, int* start, int* end) const override {
        *start = *end = 0;
        return {};
    }

private:
    [[nodiscard]] QComboBox* picker() const { return static_cast<QComboBox*>(widget()); }
};

} // namespace

void maskSecretText() {
    QAccessible::installUpdateHandler(forwardMasked);
}

QAccessibleInterface* pickerInterface(QComboBox* picker) {
    return new PickerInterface(picker);
}

// The bridge forwards no change of the expanded state, which is what a
// screen reader says of a disclosure: it is sent as the bridge sends the
// states it does forward, from the same connection.
void announceExpanded(QWidget* widget, bool expanded) {
    auto* bridge = dynamic_cast<QSpiAccessibleBridge*>(platformAccessibility());
    QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(widget);
    if (bridge == nullptr || interface == nullptr || !QAccessible::isActive()) {
        return;
    }
    const QString path =
        QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(interface));
    // Collapsed first: a reader that hears "expanded" reads the state then.
    for (const auto& [state, on] : {std::pair{"collapsed", !expanded}, {"expanded", expanded}}) {
        QDBusMessage signal = QDBusMessage::createSignal(
            path, QStringLiteral("org.a11y.atspi.Event.Object"), QStringLiteral("StateChanged"));
        signal.setArguments({QString::fromLatin1(state), int(on), 0,
                             QVariant::fromValue(QDBusVariant(0)), QVariantMap()});
        bridge->dBusConnection().send(signal);
    }
}

} // namespace quillo
