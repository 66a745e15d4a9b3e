#include "QuilloBar/widgets/Accessibility.h"

#include "QuilloBar/widgets/Controls.h"
#include "QuilloBar/widgets/Palette.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace quillo {
namespace {

constexpr char roleProperty[] = "quilloAccessibleRole";

// The ring of the form's own controls, over what the application's style drew.
class FocusRingStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_PanelButtonCommand || element == PE_PanelLineEdit) {
            ring(option, painter);
        }
    }
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ComboBox) {
            ring(option, painter);
        }
    }

private:
    static void ring(const QStyleOption* option, QPainter* painter) {
        if (!option->state.testFlag(State_HasFocus)) {
            return;
        }
        const QPalette& colours = option->palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        drawFocusRing(*painter, QRectF(option->rect), 4, ink(colours));
        painter->restore();
    }
};

// A disclosure is a button that shows or hides rows: expandable, and
// expanded or collapsed, rather than a check box.
class DisclosureInterface : public QAccessibleWidget {
public:
    explicit DisclosureInterface(Disclosure* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        const QString own = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && own.isEmpty() ? button()->text() : own;
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = button()->isChecked();
        state.collapsed = !button()->isChecked();
        return state;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return {pressAction(), setFocusAction()};
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            button()->click();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

private:
    [[nodiscard]] QAbstractButton* button() const {
        return static_cast<QAbstractButton*>(widget());
    }
};

// The status as a notification, named by its whole text: the line shown may
// be cut.
class StatusInterface : public QAccessibleWidget {
public:
    explicit StatusInterface(StatusText* status)
        : QAccessibleWidget(status, QAccessible::Notification) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? static_cast<QLabel*>(widget())->text()
                                         : QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* controlInterface(const QString& /*className*/, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (auto* disclosure = dynamic_cast<Disclosure*>(widget)) {
        return new DisclosureInterface(disclosure);
    }
    if (auto* status = dynamic_cast<StatusText*>(widget)) {
        return new StatusInterface(status);
    }
    const QVariant role = widget->property(roleProperty);
    return role.isValid() ? new QAccessibleWidget(widget, QAccessible::Role(role.toInt()))
                          : nullptr;
}

} // namespace

void ringWhenFocused(QWidget* control) {
    static FocusRingStyle* const style = [] {
        auto* shared = new FocusRingStyle;
        shared->setParent(qApp);
        return shared;
    }();
    control->setStyle(style);
}

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    widget->setProperty(roleProperty, int(role));
}

void installControlInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(controlInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace quillo
